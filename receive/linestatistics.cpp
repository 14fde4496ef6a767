#include "receive/linestatistics.h"

#include <algorithm>

void LineStatistics::takeSample(qint64 nowMs)
{
    m_samples[size_t(m_next)] = {nowMs, m_received};
    m_next = (m_next + 1) % int(m_samples.size());
    m_count = std::min(m_count + 1, int(m_samples.size()));
}

void LineStatistics::tick(qint64 nowMs)
{
    takeSample(nowMs);

    // The oldest sample at least a second old, else the oldest there is: the rate then
    // covers a whole second whenever the ticks allow it.
    const Sample *base = nullptr;
    for (int k = 1; k < m_count; ++k) {
        const int i = (m_next - 1 - k + 2 * int(m_samples.size())) % int(m_samples.size());
        base = &m_samples[size_t(i)];
        if (nowMs - base->ms >= 1000)
            break;
    }
    if (!base || nowMs <= base->ms) {
        m_rate = 0;
        return;
    }
    m_rate = double(m_received - base->received) * 1000.0 / double(nowMs - base->ms);
    m_peak = std::max(m_peak, m_rate);
}

void LineStatistics::reset(qint64 nowMs, const std::optional<LineErrorCounts> &deviceErrors)
{
    auto samples = m_samples;
    for (Sample &sample : samples)
        sample.received = 0;
    const int count = m_count;
    const int next = m_next;
    *this = LineStatistics();
    m_samples = samples;
    m_count = count;
    m_next = next;
    takeSample(nowMs);
    if (deviceErrors)
        m_errorBase = *deviceErrors;
}

std::optional<LineErrorCounts> LineStatistics::errorsSinceReset(
    const std::optional<LineErrorCounts> &deviceErrors) const
{
    if (!deviceErrors)
        return std::nullopt;
    // A driver's counters only grow; one that went back (a re-opened device) counts afresh.
    auto since = [](quint64 now, quint64 base) { return now >= base ? now - base : now; };
    LineErrorCounts d;
    d.framing = since(deviceErrors->framing, m_errorBase.framing);
    d.parity = since(deviceErrors->parity, m_errorBase.parity);
    d.overrun = since(deviceErrors->overrun, m_errorBase.overrun);
    d.bufferOverrun = since(deviceErrors->bufferOverrun, m_errorBase.bufferOverrun);
    d.breaks = since(deviceErrors->breaks, m_errorBase.breaks);
    return d;
}

namespace {

QString count(quint64 n)
{
    return QString::number(n);
}

QString rateText(double perSecond)
{
    return QString::number(qRound64(perSecond));
}

} // namespace

QList<StatisticsRow> statisticsRows(const LineStatistics &s,
                                    const std::optional<LineErrorCounts> &errors,
                                    const QDateTime &lastReceive)
{
    QList<StatisticsRow> rows = {
        {QStringLiteral("Characters received"), count(s.received())},
        {QStringLiteral("Characters sent"), count(s.sent())},
        {QStringLiteral("Frames"), count(s.frames())},
        {QStringLiteral("Records written"), count(s.records())},
        {QStringLiteral("Rate (characters/s)"), rateText(s.rate())},
        {QStringLiteral("Peak rate (characters/s)"), rateText(s.peakRate())},
        {QStringLiteral("Last character"),
         lastReceive.isValid() ? lastReceive.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"))
                               : QStringLiteral("none yet")},
    };
    const auto error = [&](const char *caption, quint64 LineErrorCounts::*field) {
        rows.append(
            {QString::fromLatin1(caption), errors ? count((*errors).*field) : notReportedText()});
    };
    error("Framing errors", &LineErrorCounts::framing);
    error("Parity errors", &LineErrorCounts::parity);
    error("Overruns", &LineErrorCounts::overrun);
    error("Buffer overruns", &LineErrorCounts::bufferOverrun);
    error("Breaks", &LineErrorCounts::breaks);
    return rows;
}

QString receiveIndicatorTip(const LineStatistics &s, const std::optional<LineErrorCounts> &errors)
{
    const QString errorText = errors ? QStringLiteral("%1 line errors").arg(errors->total())
                                     : QStringLiteral("line errors ") + notReportedText();
    return QStringLiteral("Receiving %1 characters/s; %2").arg(rateText(s.rate()), errorText);
}
