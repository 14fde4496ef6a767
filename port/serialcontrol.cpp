// The serial control's properties, and opening and closing the port over its transport.
#include "port/serialcontrol.h"

#include "port/localtransport.h"
#include "port/networktransport.h"
#include "port/portmapping.h"

#include <QTimer>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// How often a full backlog looks for characters left in the device: they count as an
// arrival, so a handler that starts reading again gets its event.
constexpr int kBacklogPollMs = 200;

qint16 clamp16(qint64 n)
{
    return qint16(std::clamp<qint64>(n, 0, 32767));
}

QString boolText(bool b)
{
    return b ? u"True"_s : u"False"_s;
}

} // namespace

SerialControl::SerialControl(QObject *parent)
    : SerialControl(std::make_unique<LocalTransport>(), parent)
{
    m_network = std::make_unique<NetworkTransport>();
    m_network->setParent(this);
    m_network->attach(this);
}

SerialControl::SerialControl(std::unique_ptr<SerialTransport> transport, QObject *parent)
    : QObject(parent)
    , m_local(std::move(transport))
    , m_current(m_local.get())
    , m_watched(m_local->watchesAccess())
    , m_drainTimer(new QTimer(this))
    , m_backlogTimer(new QTimer(this))
{
    m_local->setParent(this);
    m_local->attach(this);
    m_drainTimer->setSingleShot(true);
    m_drainTimer->setInterval(0);
    m_backlogTimer->setInterval(kBacklogPollMs);
    connect(m_drainTimer, &QTimer::timeout, this, &SerialControl::drain);
    connect(m_backlogTimer, &QTimer::timeout, this, &SerialControl::pollBacklog);
}

SerialControl::~SerialControl()
{
    m_drainTimer->stop();
    m_current->close();
}

bool SerialControl::fail(const QString &reason) const
{
    m_error = reason;
    return false;
}

template<typename Shown>
bool SerialControl::admitted(QLatin1StringView member, Shown shown) const
{
    if (!m_watched)
        return true;
    const std::optional<QString> reason = m_current->refusal(member, shown());
    if (reason)
        m_error = *reason;
    return !reason;
}

bool SerialControl::readAdmitted(QLatin1StringView member) const
{
    return admitted(member, [] { return QString(); });
}

template<typename T>
std::optional<T> SerialControl::read(QLatin1StringView member, T value) const
{
    if (!readAdmitted(member))
        return std::nullopt;
    return value;
}

template<typename T>
bool SerialControl::store(QLatin1StringView member, T &field, T value)
{
    if (!admitted(member, [value] {
            if constexpr (std::is_same_v<T, bool>)
                return boolText(value);
            else
                return QString::number(value);
        }))
        return false;
    field = value;
    return true;
}

bool SerialControl::storeCount(QLatin1StringView member, qint16 &field, qint16 value)
{
    if (value < 0)
        return fail(u"Invalid "_s + member.chopped(1) + u": "_s + QString::number(value));
    return store(member, field, value);
}

// --- Opening and closing

SerialTransport &SerialControl::transportFor(const PortMapping &port) const
{
    // A regular file in the entry's place is meant as a network port; the network
    // transport says why it is none.
    if (m_network && (port.kind == PortMapping::Kind::Network || !port.urlError.isEmpty()))
        return *m_network;
    return *m_local;
}

bool SerialControl::setPortOpen(bool open)
{
    if (!admitted("PortOpen="_L1, [open] { return boolText(open); }))
        return false;
    if (!open) {
        closePort();
        return true;
    }
    return openPort();
}

std::optional<bool> SerialControl::PortOpen() const
{
    return read("PortOpen"_L1, isOpen());
}

bool SerialControl::openPort()
{
    if (isOpen())
        return fail(u"The port is already open: "_s + devicePath());
    const PortMapping port = readPortMapping(m_commPort);
    if (port.entry.isEmpty())
        return fail(u"Invalid port number: "_s + QString::number(m_commPort));
    closePort();
    m_current = &transportFor(port);
    const SerialTransport::Opened opened =
        m_current->open(port, m_settings, m_settingsText, m_handshaking);
    if (!opened.error.isEmpty()) {
        m_current->close();
        return fail(opened.error);
    }
    m_inForce = opened.line;
    QStringList notes = opened.notes;
    if (!m_settingsNote.isEmpty())
        notes.prepend(m_settingsNote + u"; in force: "_s + *Settings());
    m_settingsNote.clear();
    m_error = notes.join(u'\n');
    // What came during the open's waits for the device.
    if (waiting() > 0 || m_pendingLines || m_hangUpQueued)
        deliverLater();
    return true;
}

void SerialControl::closePort()
{
    m_drainTimer->stop();
    m_backlogTimer->stop();
    m_current->close();
    ++m_generation;
    m_holding = false;
    m_hangUpQueued = false;
    m_lostReason.clear();
    m_in.clear();
    m_readPos = 0;
    m_stalled = false;
    m_pendingLines = 0;
    m_break = false;
    m_inForce.reset();
}

QString SerialControl::devicePath() const
{
    if (isOpen())
        return m_current->describe(PortMapping());
    const PortMapping port = readPortMapping(m_commPort);
    return transportFor(port).describe(port);
}

// --- Line settings and the port number

bool SerialControl::setSettings(const QString &settings)
{
    if (!admitted("Settings="_L1, [&] { return settings; }))
        return false;
    const std::optional<LineSettings> parsed = parseSettings(settings);
    if (!parsed) {
        m_settingsNote = u"Settings rejected: "_s + (settings.isEmpty() ? u"(empty)"_s : settings);
        return fail(m_settingsNote);
    }
    m_settingsText = settings;
    m_settings = *parsed;
    m_settingsNote.clear();
    if (isOpen()) {
        const SerialTransport::Line line = m_current->setLine(*parsed, settings);
        m_inForce = line.inForce;
        if (!line.note.isEmpty())
            m_error = line.note;
    }
    return true;
}

std::optional<QString> SerialControl::Settings() const
{
    const bool differs = isOpen() && m_inForce && *m_inForce != m_settings;
    return read("Settings"_L1, differs ? settingsText(*m_inForce) : m_settingsText);
}

bool SerialControl::setCommPort(qint16 port)
{
    if (!admitted("CommPort="_L1, [port] { return QString::number(port); }))
        return false;
    if (isOpen())
        return fail(u"The port number cannot change while the port is open"_s);
    if (port <= 0)
        return fail(u"Invalid port number: "_s + QString::number(port));
    m_commPort = port;
    return true;
}

std::optional<qint16> SerialControl::CommPort() const
{
    return read("CommPort"_L1, m_commPort);
}

// --- How received data is handed out

bool SerialControl::setInputLen(qint16 value)
{
    return storeCount("InputLen="_L1, m_inputLen, value);
}

std::optional<qint16> SerialControl::InputLen() const
{
    return read("InputLen"_L1, m_inputLen);
}

bool SerialControl::setRThreshold(qint16 value)
{
    return storeCount("RThreshold="_L1, m_rThreshold, value);
}

std::optional<qint16> SerialControl::RThreshold() const
{
    return read("RThreshold"_L1, m_rThreshold);
}

bool SerialControl::setSThreshold(qint16 value)
{
    return storeCount("SThreshold="_L1, m_sThreshold, value);
}

std::optional<qint16> SerialControl::SThreshold() const
{
    return read("SThreshold"_L1, m_sThreshold);
}

bool SerialControl::setInputMode(qint32 value)
{
    // 0 text, 1 binary: both hand out the bytes as they came.
    if (value != 0 && value != 1)
        return fail(u"Invalid InputMode: "_s + QString::number(value));
    return store("InputMode="_L1, m_inputMode, value);
}

std::optional<qint32> SerialControl::InputMode() const
{
    return read("InputMode"_L1, m_inputMode);
}

std::optional<qint16> SerialControl::CommEvent() const
{
    return read("CommEvent"_L1, m_event);
}

// --- Sending and line control

bool SerialControl::setOutput(const QByteArray &data)
{
    if (!admitted("Output="_L1, [&] { return QString::fromLatin1(data.toHex()); }))
        return false;
    if (!isOpen())
        return fail(u"The port is not open"_s);
    if (const QString error = m_current->write(data); !error.isEmpty())
        return fail(error);
    return true;
}

bool SerialControl::setBreak(bool on)
{
    if (!admitted("Break="_L1, [on] { return boolText(on); }))
        return false;
    if (!isOpen())
        return fail(u"The port is not open"_s);
    if (const QString error = m_current->setBreak(on); !error.isEmpty())
        return fail(error);
    m_break = on;
    return true;
}

std::optional<bool> SerialControl::Break() const
{
    return read("Break"_L1, m_break);
}

bool SerialControl::setEOFEnable(bool on)
{
    return store("EOFEnable="_L1, m_eofEnable, on);
}

std::optional<bool> SerialControl::EOFEnable() const
{
    return read("EOFEnable"_L1, m_eofEnable);
}

bool SerialControl::setHandshaking(qint32 mode)
{
    if (mode < 0 || mode > 3)
        return fail(u"Invalid handshaking mode "_s + QString::number(mode));
    if (!admitted("Handshaking="_L1, [mode] { return QString::number(mode); }))
        return false;
    if (isOpen()) {
        if (const QString error = m_current->setFlowControl(mode); !error.isEmpty())
            return fail(error);
    }
    m_handshaking = mode;
    return true;
}

std::optional<qint32> SerialControl::Handshaking() const
{
    return read("Handshaking"_L1, m_handshaking);
}

// --- Line states and buffers

std::optional<bool> SerialControl::modemLine(QLatin1StringView member, bool ModemLines::*line) const
{
    // A device without modem lines (a pty) reads False, not an error.
    const std::optional<ModemLines> lines = isOpen() ? m_current->lines() : std::nullopt;
    return read(member, lines && (*lines).*line);
}

std::optional<bool> SerialControl::CDHolding() const
{
    return modemLine("CDHolding"_L1, &ModemLines::cd);
}

std::optional<bool> SerialControl::CTSHolding() const
{
    return modemLine("CTSHolding"_L1, &ModemLines::cts);
}

std::optional<bool> SerialControl::DSRHolding() const
{
    return modemLine("DSRHolding"_L1, &ModemLines::dsr);
}

std::optional<bool> SerialControl::DTREnable() const
{
    return modemLine("DTREnable"_L1, &ModemLines::dtr);
}

std::optional<bool> SerialControl::RTSEnable() const
{
    return modemLine("RTSEnable"_L1, &ModemLines::rts);
}

std::optional<bool> SerialControl::NullDiscard() const
{
    return read("NullDiscard"_L1, false);
}

std::optional<qint16> SerialControl::InBufferCount() const
{
    // Includes what a lost port left to deliver.
    return read("InBufferCount"_L1, clamp16(waiting() + (isOpen() ? m_current->pending() : 0)));
}

std::optional<qint16> SerialControl::InBufferSize() const
{
    return read("InBufferSize"_L1, qint16(1024));
}

std::optional<qint16> SerialControl::OutBufferCount() const
{
    return read("OutBufferCount"_L1, clamp16(isOpen() ? m_current->unsent() : 0));
}

std::optional<qint16> SerialControl::OutBufferSize() const
{
    return read("OutBufferSize"_L1, qint16(512));
}

std::optional<QString> SerialControl::ParityReplace() const
{
    return read("ParityReplace"_L1, u"?"_s);
}

std::optional<LineErrorCounts> SerialControl::errorCounters() const
{
    return isOpen() ? m_current->errorCounters() : std::nullopt;
}
