#pragma once
// The rule of a repeated command: send at each tick of its period unless the previous
// write is still waiting in the port, until the count is reached. No timer and no I/O here.

#include <QString>

class RepeatSchedule
{
public:
    static constexpr int kMinPeriodMs = 10;
    static constexpr int kMaxPeriodMs = 3600000;

    enum class Step {
        Send, // send once now, then report sent()
        Skip, // the port still holds earlier bytes: this tick is counted as skipped
        Done, // the count is reached
    };

    // count 0: until stopped.
    RepeatSchedule(int periodMs, int count);

    // What to do at a tick; portBusy: bytes of an earlier write have not left the port.
    Step tick(bool portBusy);
    // A send went out.
    void sent() { ++m_sent; }
    bool finished() const { return m_count > 0 && m_sent >= m_count; }

    int periodMs() const { return m_periodMs; }
    int count() const { return m_count; }
    int sentCount() const { return m_sent; }
    int skipped() const { return m_skipped; }

    // "Repeating every 100 ms: 12 of 50 sent" (with count 0 "12 sent"), and the skipped
    // ticks when there were any.
    QString statusText() const;
    // "Repeating stopped after 12 of 50 sent: <reason>".
    QString stoppedText(const QString &reason) const;

private:
    QString sentText() const;

    int m_periodMs;
    int m_count;
    int m_sent = 0;
    int m_skipped = 0;
};
