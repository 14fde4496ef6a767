#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

// What the window shows is brought up to date at the screen's pace: at once (after the
// events under way) when the last round is a screen frame old, else a frame after it, and
// everything asked for by then in one round, so that what changed together reaches the
// window in one update. A burst of input costs one round per frame, and nothing is more
// than a frame behind. While the program is busy more than half the time (a flood), a round
// waits two frames from the first request after the last: the screen gives way to the data.
class ScreenPace : public QObject
{
public:
    static constexpr qint64 kFrameMs = 16;

    static ScreenPace &instance();

    // `work` runs in the next round, unless `owner` is gone by then; asking again for the
    // same owner before that does nothing. Work asked for `first` runs before the rest, and
    // what it asks for in turn still runs in that round: input taken in then is shown in
    // the round's update.
    enum Order { Last, First };
    void request(QObject *owner, std::function<void()> work, Order order = Last);
    void cancel(const QObject *owner);
    // The program was busy more than half the time before the last round (a flood).
    bool busy() const { return m_busy; }

private:
    explicit ScreenPace(QObject *parent);
    void round();

    struct Pending
    {
        QPointer<QObject> owner;
        std::function<void()> work;
    };
    QTimer m_timer;
    QElapsedTimer m_sinceRound;
    qint64 m_cpuAtRound = 0; // this thread's, in ns
    bool m_busy = false;     // more than half the time since the round before
    QList<Pending> m_first;
    QList<Pending> m_pending;
};
