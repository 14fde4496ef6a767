#include "port/portrouter.h"

#include "port/networkserialcontrol.h"
#include "port/portrules.h"
#include "port/qtserialcontrol.h"

#include <QFileInfo>

PortRouter::PortRouter(QObject *parent)
    : PortRouter(std::make_unique<QtSerialControl>(), std::make_unique<NetworkSerialControl>(),
                 parent)
{}

PortRouter::PortRouter(std::unique_ptr<SerialControl> local, std::unique_ptr<SerialControl> network,
                       QObject *parent)
    : SerialControl(parent)
    , m_local(local.release())
    , m_network(network.release())
{
    for (SerialControl *c : {m_local, m_network}) {
        c->setParent(this);
        // Only the open control raises; a closed one may still deliver what a lost port left.
        connect(c, &SerialControl::OnComm, this, &SerialControl::OnComm);
        connect(c, &SerialControl::portLost, this, &SerialControl::portLost);
    }
    m_current = routed();
}

PortRouter::~PortRouter() = default;

bool PortRouter::isNetworkPort(int port)
{
    const QString entry = deviceForPort(port);
    // A device is never a regular file; a link to one is followed.
    return !entry.isEmpty() && QFileInfo(entry).isFile();
}

SerialControl *PortRouter::routed() const
{
    return isNetworkPort(m_current ? m_current->CommPort().value_or(0)
                                   : m_local->CommPort().value_or(0))
               ? m_network
               : m_local;
}

bool PortRouter::setPortOpen(bool open)
{
    if (!open) {
        other()->setPortOpen(false);
        return m_current->setPortOpen(false);
    }
    if (!m_current->PortOpen().value_or(false))
        m_current = routed();
    return m_current->setPortOpen(true);
}

bool PortRouter::setCommPort(qint16 port)
{
    if (!setOnBoth([port](SerialControl &c) { return c.setCommPort(port); }))
        return false;
    m_current = routed();
    return true;
}

bool PortRouter::setSettings(const QString &settings)
{
    return setOnBoth([&](SerialControl &c) { return c.setSettings(settings); });
}

bool PortRouter::setInputLen(qint16 value)
{
    return setOnBoth([value](SerialControl &c) { return c.setInputLen(value); });
}

bool PortRouter::setRThreshold(qint16 value)
{
    return setOnBoth([value](SerialControl &c) { return c.setRThreshold(value); });
}

bool PortRouter::setSThreshold(qint16 value)
{
    return setOnBoth([value](SerialControl &c) { return c.setSThreshold(value); });
}

bool PortRouter::setInputMode(qint32 value)
{
    return setOnBoth([value](SerialControl &c) { return c.setInputMode(value); });
}

bool PortRouter::setEOFEnable(bool on)
{
    return setOnBoth([on](SerialControl &c) { return c.setEOFEnable(on); });
}

bool PortRouter::setHandshaking(qint32 mode)
{
    return setOnBoth([mode](SerialControl &c) { return c.setHandshaking(mode); });
}

std::optional<QByteArray> PortRouter::Input()
{
    return m_current->Input();
}

bool PortRouter::setOutput(const QByteArray &data)
{
    return m_current->setOutput(data);
}

bool PortRouter::setBreak(bool on)
{
    return m_current->setBreak(on);
}

// clang-format off
std::optional<bool> PortRouter::PortOpen() const { return m_current->PortOpen(); }
std::optional<QString> PortRouter::Settings() const { return m_current->Settings(); }
std::optional<qint16> PortRouter::CommPort() const { return m_current->CommPort(); }
std::optional<qint16> PortRouter::InputLen() const { return m_current->InputLen(); }
std::optional<qint16> PortRouter::RThreshold() const { return m_current->RThreshold(); }
std::optional<qint16> PortRouter::SThreshold() const { return m_current->SThreshold(); }
std::optional<qint32> PortRouter::InputMode() const { return m_current->InputMode(); }
std::optional<qint16> PortRouter::CommEvent() const { return m_current->CommEvent(); }
std::optional<bool> PortRouter::Break() const { return m_current->Break(); }
std::optional<bool> PortRouter::EOFEnable() const { return m_current->EOFEnable(); }
std::optional<qint32> PortRouter::Handshaking() const { return m_current->Handshaking(); }
std::optional<bool> PortRouter::CDHolding() const { return m_current->CDHolding(); }
std::optional<bool> PortRouter::CTSHolding() const { return m_current->CTSHolding(); }
std::optional<bool> PortRouter::DSRHolding() const { return m_current->DSRHolding(); }
std::optional<bool> PortRouter::DTREnable() const { return m_current->DTREnable(); }
std::optional<bool> PortRouter::RTSEnable() const { return m_current->RTSEnable(); }
std::optional<bool> PortRouter::NullDiscard() const { return m_current->NullDiscard(); }
std::optional<qint16> PortRouter::InBufferCount() const { return m_current->InBufferCount(); }
std::optional<qint16> PortRouter::InBufferSize() const { return m_current->InBufferSize(); }
std::optional<qint16> PortRouter::OutBufferCount() const { return m_current->OutBufferCount(); }
std::optional<qint16> PortRouter::OutBufferSize() const { return m_current->OutBufferSize(); }
std::optional<QString> PortRouter::ParityReplace() const { return m_current->ParityReplace(); }
QString PortRouter::lastError() const { return m_current->lastError(); }
QString PortRouter::devicePath() const { return m_current->devicePath(); }
std::optional<LineErrorCounts> PortRouter::errorCounters() const { return m_current->errorCounters(); }
// clang-format on
