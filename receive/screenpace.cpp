#include "receive/screenpace.h"

#include <QCoreApplication>

#include <algorithm>
#include <ctime>
#include <utility>

namespace {

qint64 threadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

} // namespace

ScreenPace &ScreenPace::instance()
{
    static QPointer<ScreenPace> pace;
    if (!pace)
        pace = new ScreenPace(QCoreApplication::instance());
    return *pace;
}

ScreenPace::ScreenPace(QObject *parent)
    : QObject(parent)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &ScreenPace::round);
}

void ScreenPace::request(QObject *owner, std::function<void()> work, Order order)
{
    QList<Pending> &list = order == First ? m_first : m_pending;
    for (const Pending &p : std::as_const(list)) {
        if (p.owner == owner)
            return;
    }
    list.append({owner, std::move(work)});
    if (m_timer.isActive())
        return;
    if (m_busy) {
        m_timer.start(int(2 * kFrameMs));
        return;
    }
    const qint64 since = m_sinceRound.isValid() ? m_sinceRound.elapsed() : kFrameMs;
    m_timer.start(int(std::max<qint64>(0, kFrameMs - since)));
}

void ScreenPace::cancel(const QObject *owner)
{
    const auto of = [owner](const Pending &p) { return p.owner == owner; };
    m_first.removeIf(of);
    m_pending.removeIf(of);
    if (m_first.isEmpty() && m_pending.isEmpty())
        m_timer.stop();
}

void ScreenPace::round()
{
    const qint64 cpu = threadCpuNs();
    const qint64 wall = m_sinceRound.isValid() ? m_sinceRound.nsecsElapsed() : 0;
    m_busy = wall > 0 && (cpu - m_cpuAtRound) * 2 > wall;
    m_cpuAtRound = cpu;
    m_sinceRound.start();
    for (const Pending &p : std::exchange(m_first, {})) {
        if (p.owner)
            p.work();
    }
    // Work done from here on may ask for the next round.
    for (const Pending &p : std::exchange(m_pending, {})) {
        if (p.owner)
            p.work();
    }
}
