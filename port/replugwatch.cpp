#include "port/replugwatch.h"

#include <algorithm>

namespace {
constexpr int kMaxBackoffTicks = 8;
}

void ReplugWatch::lost(int port, const QString &device)
{
    m_waiting = true;
    m_port = port;
    m_lostDevice = device;
    m_backoff = 0;
    m_skip = 0;
}

bool ReplugWatch::due(const PortMapping &now)
{
    if (!m_waiting || now.port != m_port)
        return false;
    if (m_skip > 0) {
        --m_skip;
        return false;
    }
    // Whether a server is back only a connection tells; the back-off paces the tries.
    if (now.kind == PortMapping::Kind::Network)
        return true;
    return now.kind != PortMapping::Kind::Folder && now.kind != PortMapping::Kind::Garbage &&
           !now.device.isEmpty();
}

void ReplugWatch::reopened(bool ok)
{
    if (ok) {
        m_waiting = false;
        return;
    }
    m_backoff = std::min(std::max(1, m_backoff * 2), kMaxBackoffTicks);
    m_skip = m_backoff;
}

QString ReplugWatch::backMessage(const QString &device) const
{
    QString text = QStringLiteral("COM %1 is back: re-opened %2").arg(m_port).arg(device);
    if (!m_lostDevice.isEmpty() && device != m_lostDevice)
        text += QStringLiteral(" (was %1)").arg(m_lostDevice);
    return text;
}
