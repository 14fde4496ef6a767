#include "port/storedserialcontrol.h"

#include <QElapsedTimer>

#include <algorithm>
#include <array>
#include <exception>

bool StoredSerialControl::fail(const QString &reason) const
{
    m_error = reason;
    return false;
}

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

} // namespace

std::optional<QByteArray> StoredSerialControl::Input()
{
    m_readThisEvent = true;
    if (waiting() == 0)
        refill();
    const qsizetype n = m_inputLen > 0 ? std::min<qsizetype>(m_inputLen, waiting()) : waiting();
    const char *from = m_in.constData() + m_readPos;
    m_readPos += n;
    return n == 1 ? singleByte(*from) : QByteArray(from, n);
}

std::optional<qint16> StoredSerialControl::CommEvent() const
{
    return m_event;
}

bool StoredSerialControl::raise(qint16 event)
{
    // Restores the state even when a handler throws, and lets the rest be delivered later.
    struct Guard
    {
        StoredSerialControl *self;
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

bool StoredSerialControl::deliverWaiting()
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

QString StoredSerialControl::lastError() const
{
    return m_error;
}

bool StoredSerialControl::setInputLen(qint16 value)
{
    if (value < 0)
        return fail(QStringLiteral("Invalid InputLen: ") + QString::number(value));
    m_inputLen = value;
    return true;
}

std::optional<qint16> StoredSerialControl::InputLen() const
{
    return m_inputLen;
}

bool StoredSerialControl::setRThreshold(qint16 value)
{
    if (value < 0)
        return fail(QStringLiteral("Invalid RThreshold: ") + QString::number(value));
    m_rThreshold = value;
    return true;
}

std::optional<qint16> StoredSerialControl::RThreshold() const
{
    return m_rThreshold;
}

bool StoredSerialControl::setSThreshold(qint16 value)
{
    if (value < 0)
        return fail(QStringLiteral("Invalid SThreshold: ") + QString::number(value));
    m_sThreshold = value;
    return true;
}

std::optional<qint16> StoredSerialControl::SThreshold() const
{
    return m_sThreshold;
}

bool StoredSerialControl::setInputMode(qint32 value)
{
    // 0 text, 1 binary: both hand out the bytes as they came.
    if (value != 0 && value != 1)
        return fail(QStringLiteral("Invalid InputMode: ") + QString::number(value));
    m_inputMode = value;
    return true;
}

std::optional<qint32> StoredSerialControl::InputMode() const
{
    return m_inputMode;
}
