#include "transmit/repeatschedule.h"

#include <algorithm>

RepeatSchedule::RepeatSchedule(int periodMs, int count)
    : m_periodMs(std::clamp(periodMs, kMinPeriodMs, kMaxPeriodMs))
    , m_count(std::max(count, 0))
{}

RepeatSchedule::Step RepeatSchedule::tick(bool portBusy)
{
    if (finished())
        return Step::Done;
    // Sending anyway would pile commands up in the port faster than it empties.
    if (portBusy) {
        ++m_skipped;
        return Step::Skip;
    }
    return Step::Send;
}

QString RepeatSchedule::sentText() const
{
    return m_count > 0 ? QStringLiteral("%1 of %2 sent").arg(m_sent).arg(m_count)
                       : QStringLiteral("%1 sent").arg(m_sent);
}

QString RepeatSchedule::statusText() const
{
    QString text = QStringLiteral("Repeating every %1 ms: %2").arg(m_periodMs).arg(sentText());
    if (m_skipped > 0)
        text += QStringLiteral(", %1 skipped while the port was busy").arg(m_skipped);
    return text;
}

QString RepeatSchedule::stoppedText(const QString &reason) const
{
    return QStringLiteral("Repeating stopped after %1: %2").arg(sentText(), reason);
}
