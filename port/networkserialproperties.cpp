// The network port's plain properties: stored, or read from what the server reported.
#include "port/networkserialcontrol.h"

#include <QTcpSocket>

#include <algorithm>

namespace {

qint16 clamp16(qint64 n)
{
    return qint16(std::clamp<qint64>(n, 0, 32767));
}

} // namespace

bool NetworkSerialControl::setSettings(const QString &settings)
{
    const std::optional<LineSettings> parsed = parseSettings(settings);
    if (!parsed) {
        m_settingsNote = QStringLiteral("Settings rejected: ") +
                         (settings.isEmpty() ? QStringLiteral("(empty)") : settings);
        return fail(m_settingsNote);
    }
    m_settingsText = settings;
    m_settings = *parsed;
    m_settingsNote.clear();
    if (m_open && !rawTcp()) {
        if (const QString note = applyLine(*parsed, settings); !note.isEmpty())
            m_error = note;
    }
    return true;
}

std::optional<QString> NetworkSerialControl::Settings() const
{
    if (m_open && !rawTcp())
        return m_confirmed == m_settings ? m_settingsText : Rfc2217::settingsText(m_confirmed);
    return m_settingsText;
}

bool NetworkSerialControl::setCommPort(qint16 port)
{
    if (m_open)
        return fail(QStringLiteral("The port number cannot change while the port is open"));
    if (port <= 0)
        return fail(QStringLiteral("Invalid port number: ") + QString::number(port));
    m_commPort = port;
    return true;
}

std::optional<qint16> NetworkSerialControl::CommPort() const
{
    return m_commPort;
}

bool NetworkSerialControl::setEOFEnable(bool on)
{
    m_eofEnable = on;
    return true;
}

std::optional<bool> NetworkSerialControl::EOFEnable() const
{
    return m_eofEnable;
}

std::optional<bool> NetworkSerialControl::CDHolding() const
{
    return m_open && (m_modemState & Rfc2217::Modem::Cd);
}

std::optional<bool> NetworkSerialControl::CTSHolding() const
{
    return m_open && (m_modemState & Rfc2217::Modem::Cts);
}

std::optional<bool> NetworkSerialControl::DSRHolding() const
{
    return m_open && (m_modemState & Rfc2217::Modem::Dsr);
}

// The server reports no output lines unasked, and ser2net does not answer when asked.
std::optional<bool> NetworkSerialControl::DTREnable() const
{
    return false;
}

std::optional<bool> NetworkSerialControl::RTSEnable() const
{
    return false;
}

std::optional<bool> NetworkSerialControl::NullDiscard() const
{
    return false;
}

std::optional<qint16> NetworkSerialControl::InBufferCount() const
{
    return clamp16(waiting() + (m_socket ? m_socket->bytesAvailable() : 0));
}

std::optional<qint16> NetworkSerialControl::InBufferSize() const
{
    return qint16(1024);
}

std::optional<qint16> NetworkSerialControl::OutBufferCount() const
{
    return clamp16(m_socket ? m_socket->bytesToWrite() : 0);
}

std::optional<qint16> NetworkSerialControl::OutBufferSize() const
{
    return qint16(512);
}

std::optional<QString> NetworkSerialControl::ParityReplace() const
{
    return QStringLiteral("?");
}
