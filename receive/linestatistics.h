#pragma once
// Counts of what the line carried since the port last opened, and the receive rate over
// the last second. The receive path only increments; rates and the window's text are
// worked out once per timer tick from samples, so nothing here costs more per character
// than an addition.

#include "port/lineerrors.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <array>
#include <optional>

class LineStatistics
{
public:
    // What happened, one call each: the receive path, the send path and the capture
    // writer tell it; it keeps the counts.
    void noteReceived(qint64 nowMs, qsizetype count = 1)
    {
        m_received += quint64(count);
        m_lastReceiveMs = nowMs;
    }
    void noteFrames(quint64 count) { m_frames += count; }
    void noteSent(quint64 count) { m_sent += count; }
    void noteRecords(quint64 count) { m_records += count; }

    quint64 received() const { return m_received; }
    quint64 sent() const { return m_sent; }
    quint64 frames() const { return m_frames; }
    quint64 records() const { return m_records; }
    // Milliseconds since the epoch of the last character; -1 none.
    qint64 lastReceiveMs() const { return m_lastReceiveMs; }

    // Takes a sample at a timer tick (time in ms, any monotonic origin) and updates the rate
    // over the last second and its peak.
    void tick(qint64 nowMs);
    // Characters per second over about the last second, as of the last tick.
    double rate() const { return m_rate; }
    double peakRate() const { return m_peak; }

    // Zero the counts, the rates and the baseline the device's error counters are shown
    // against, at nowMs (the tick clock). The samples keep their times with their counts
    // zeroed, and one is taken now: characters that arrive before the next tick still
    // make a rate, and the rate covers the same second as it does without a reset.
    void reset(qint64 nowMs, const std::optional<LineErrorCounts> &deviceErrors);
    // The device's counters since the last reset; nullopt when the device reports none.
    std::optional<LineErrorCounts> errorsSinceReset(
        const std::optional<LineErrorCounts> &deviceErrors) const;

private:
    void takeSample(qint64 nowMs);

    struct Sample
    {
        qint64 ms = 0;
        quint64 received = 0;
    };
    // Ticks come every 500 ms; a few more samples than a second's worth keep the window
    // whole when a tick is late.
    std::array<Sample, 8> m_samples{};
    int m_count = 0;
    int m_next = 0;
    quint64 m_received = 0;
    quint64 m_sent = 0;
    quint64 m_frames = 0;
    quint64 m_records = 0;
    qint64 m_lastReceiveMs = -1;
    double m_rate = 0;
    double m_peak = 0;
    LineErrorCounts m_errorBase;
};

// What a device without error counters shows in their place.
inline QString notReportedText()
{
    return QStringLiteral("not reported by this device");
}

struct StatisticsRow
{
    QString caption;
    QString value;
};

// The rows of the "Line statistics" window, in order. lastReceive is the local time of the
// last character (invalid: none yet); errors are the device's counters since the reset.
QList<StatisticsRow> statisticsRows(const LineStatistics &s,
                                    const std::optional<LineErrorCounts> &errors,
                                    const QDateTime &lastReceive);
// The "Rec" indicator's tooltip: the rate and the error total.
QString receiveIndicatorTip(const LineStatistics &s, const std::optional<LineErrorCounts> &errors);
