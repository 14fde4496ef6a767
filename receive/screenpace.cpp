#include "receive/screenpace.h"

#include <QCoreApplication>

#include <algorithm>
#include <utility>

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

void ScreenPace::request(QObject *owner, std::function<void()> work)
{
    for (const Pending &p : std::as_const(m_pending)) {
        if (p.owner == owner)
            return;
    }
    m_pending.append({owner, std::move(work)});
    if (m_timer.isActive())
        return;
    const qint64 since = m_sinceRound.isValid() ? m_sinceRound.elapsed() : kFrameMs;
    m_timer.start(int(std::max<qint64>(0, kFrameMs - since)));
}

void ScreenPace::cancel(const QObject *owner)
{
    m_pending.removeIf([owner](const Pending &p) { return p.owner == owner; });
    if (m_pending.isEmpty())
        m_timer.stop();
}

void ScreenPace::round()
{
    m_sinceRound.start();
    // Work done in the round may ask for the next one.
    for (const Pending &p : std::exchange(m_pending, {})) {
        if (p.owner)
            p.work();
    }
}
