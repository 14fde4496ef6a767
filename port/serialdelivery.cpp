// The serial control's receive side: the buffer received characters wait in, their
// delivery as one OnComm per character in bounded passes, modem-line events, and the loss
// of the port, the same for every transport.
#include "port/serialcontrol.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <QScopedValueRollback>
#include <QTimer>

#include <algorithm>
#include <array>
#include <exception>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

// Every byte value followed by a terminating zero. A character handed out alone refers to
// its entry here: no allocation and no reference count, at millions a second.
constexpr std::array<char, 512> kSingleBytes = [] {
    std::array<char, 512> all{};
    for (int i = 0; i < 256; ++i)
        all[size_t(2 * i)] = char(i);
    return all;
}();

QByteArray singleByte(char c)
{
    return QByteArray::fromRawData(&kSingleBytes[size_t(2 * uchar(c))], 1);
}

constexpr quint8 lineBit(qint16 event)
{
    return quint8(1u << event);
}

} // namespace

std::optional<QByteArray> SerialControl::Input()
{
    if (!readAdmitted("Input"_L1))
        return std::nullopt;
    m_readThisEvent = true;
    if (waiting() == 0)
        refill();
    const qsizetype n = m_inputLen > 0 ? std::min<qsizetype>(m_inputLen, waiting()) : waiting();
    const char *from = m_in.constData() + m_readPos;
    m_readPos += n;
    return n == 1 ? singleByte(*from) : QByteArray(from, n);
}

// --- What the transport reports

void SerialControl::arrived(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return;
    m_in.append(bytes.data(), bytes.size());
    ++m_arrivals;
    m_arrivedBytes += quint64(bytes.size());
    m_stalled = false;
}

qsizetype SerialControl::room() const
{
    return std::max<qsizetype>(kMaxBacklog - waiting(), 0);
}

void SerialControl::readable()
{
    const quint64 before = m_arrivedBytes;
    if (waiting() >= kMaxBacklog) {
        // Characters are waiting in the device: that is an arrival, read or not.
        m_stalled = false;
        m_backlogTimer->start();
    } else {
        takeIncoming(room());
    }
    drain();
    paceReads(m_arrivedBytes - before);
}

void SerialControl::lineChanged(qint16 event)
{
    m_pendingLines |= lineBit(event);
    if (m_emitting || m_current->busy())
        deliverLater();
    else
        drain();
}

void SerialControl::settled()
{
    if (waiting() > 0 || m_pendingLines || m_hangUpQueued)
        deliverLater();
}

void SerialControl::lost(const QString &reason)
{
    if (!isOpen() || m_hangUpQueued)
        return;
    // Closing inside the transport's own notification is not safe.
    m_hangUpQueued = true;
    m_lostReason = reason;
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(
        this, [this, generation] { hangUp(generation); }, Qt::QueuedConnection);
}

// --- Delivery

void SerialControl::takeIncoming(qsizetype max)
{
    if (!isOpen() || max <= 0)
        return;
    if (m_readPos == m_in.size()) {
        m_in.resize(0);
        m_readPos = 0;
    } else if (m_readPos >= 65536 && m_readPos * 2 >= m_in.size()) {
        m_in.remove(0, m_readPos);
        m_readPos = 0;
    }
    m_current->fetch(max);
}

void SerialControl::refill()
{
    // Not inside a wait of the transport: what arrives there waits for the next pass.
    if (!m_current->busy())
        takeIncoming(room());
}

void SerialControl::deliverLater()
{
    m_drainTimer->start();
}

void SerialControl::drain()
{
    // A handler waiting in a nested event loop, or a pass already running: the pass
    // around it goes on when it returns.
    if (m_emitting || m_current->busy())
        return;
    if (m_draining) {
        deliverLater();
        return;
    }
    const QScopedValueRollback<bool> draining(m_draining, true);
    // Line changes first: they happened before the characters still to be taken.
    for (const qint16 event : {CommEvents::Cts, CommEvents::Dsr, CommEvents::Cd}) {
        if (!(m_pendingLines & lineBit(event)))
            continue;
        m_pendingLines &= quint8(~lineBit(event));
        if (isOpen() && raise(event))
            m_stalled = false;
    }
    const bool delivered = deliverWaiting();
    Q_EMIT passEnded();
    if (!delivered)
        return;
    if (m_stalled && waiting() >= kMaxBacklog)
        m_backlogTimer->start();
    finishLoss();
}

bool SerialControl::raise(qint16 event)
{
    // Restores the state even when a handler throws, and lets the rest be delivered later.
    struct Guard
    {
        SerialControl *self;
        ~Guard()
        {
            self->m_emitting = false;
            self->m_event = CommEvents::Receive;
            if (std::uncaught_exceptions() > 0)
                self->deliverLater();
        }
    } guard{this};
    m_event = event;
    m_readThisEvent = false;
    m_emitting = true;
    Q_EMIT OnComm();
    return m_readThisEvent;
}

bool SerialControl::deliverWaiting()
{
    // Long enough to keep the per-pass overhead small, short enough that painting and
    // clicks keep their turn at 3 Mbaud.
    constexpr qint64 kPassMs = 15;
    QElapsedTimer clock;
    clock.start();
    int events = 0;
    while (!m_stalled) {
        if (waiting() == 0) {
            refill();
            if (waiting() == 0)
                break;
        }
        if (events == kMaxEventsPerPass || ((events & 1023) == 1023 && clock.hasExpired(kPassMs))) {
            deliverLater();
            return false;
        }
        ++events;
        const quint64 arrivals = m_arrivals;
        if (!raise(CommEvents::Receive) && m_arrivals == arrivals)
            m_stalled = true;
    }
    if (m_readPos == m_in.size()) {
        m_in.resize(0);
        m_readPos = 0;
    }
    return true;
}

void SerialControl::pollBacklog()
{
    if (isOpen() && m_current->pending() > 0 && waiting() >= kMaxBacklog) {
        m_stalled = false;
        drain();
    } else if (waiting() < kMaxBacklog) {
        m_backlogTimer->stop();
    }
}

// --- Read pacing

void SerialControl::setReadPace(qint64 intervalMs, AskFirst askFirst)
{
    m_paceMs = intervalMs;
    m_askFirst = std::move(askFirst);
    if (!m_askFirst && m_holding)
        resumeReads();
}

void SerialControl::paceReads(quint64 got)
{
    // A read soon after the last one, or one more at a resume, is a trickle.
    const bool trickle = m_resuming || (m_sinceRead.isValid() && m_sinceRead.elapsed() < m_paceMs);
    m_sinceRead.start();
    // Only a read fully delivered in a pass of its own: a flood or a stall keeps reading.
    if (!m_askFirst || !trickle || m_holding || got == 0 || got >= kTrickleBytes
        || waiting() > 0 || m_draining || m_emitting || !isOpen() || m_current->busy())
        return;
    // The work may come from an earlier hold (asked before a close, unasked again since),
    // or find none (the transport could not hold): it resumes whatever hold there is then.
    if (!m_askFirst([this] { resumeReads(); }) || !m_current->holdReads(true))
        return;
    m_holding = true;
}

void SerialControl::resumeReads()
{
    // A close ended the hold; an open starts with reads on.
    if (!m_holding || !isOpen())
        return;
    m_holding = false;
    const QScopedValueRollback<bool> resuming(m_resuming, true);
    // What came meanwhile is delivered from inside this call (readable()).
    m_current->holdReads(false);
}

// --- Loss of the port

void SerialControl::hangUp(quint64 generation)
{
    if (generation != m_generation || !isOpen())
        return;
    // What the device still holds goes with it.
    takeIncoming(std::numeric_limits<qsizetype>::max());
    m_current->close();
    m_backlogTimer->stop();
    m_holding = false;
    m_hangUpQueued = false;
    m_break = false;
    m_pendingLines = 0;
    m_inForce.reset();
    m_error = m_lostReason;
    // The loss counts as an event: a handler that reads now gets the rest.
    m_stalled = false;
    drain();
}

void SerialControl::finishLoss()
{
    if (isOpen() || m_lostReason.isEmpty() || (waiting() > 0 && !m_stalled))
        return;
    const QString reason = m_lostReason;
    m_lostReason.clear();
    Q_EMIT portLost(reason);
}
