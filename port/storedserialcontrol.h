#pragma once
// What every kind of port keeps the same way: the properties that only shape how received
// data is handed out (InputLen, the thresholds, InputMode), the buffer received characters
// wait in, their delivery as one OnComm per character in bounded passes, and the last
// error. The local and the network implementation derive from this, so these rules live in
// one place.

#include "port/serialcontrol.h"

class StoredSerialControl : public SerialControl
{
    Q_OBJECT
public:
    using SerialControl::SerialControl;

    bool setInputLen(qint16 value) override;
    std::optional<qint16> InputLen() const override;
    bool setRThreshold(qint16 value) override;
    std::optional<qint16> RThreshold() const override;
    bool setSThreshold(qint16 value) override;
    std::optional<qint16> SThreshold() const override;
    bool setInputMode(qint32 value) override;
    std::optional<qint32> InputMode() const override;
    std::optional<QByteArray> Input() override;
    std::optional<qint16> CommEvent() const override;
    QString lastError() const override;

    // At most this many receive events per pass before the event loop gets a turn.
    static constexpr int kMaxEventsPerPass = 32768;

protected:
    // Records why an access failed, for lastError(); returns false to pass on.
    bool fail(const QString &reason) const;
    // Moves what has arrived into m_in, where it may be taken now; called when none wait.
    virtual void refill() = 0;
    // Has the rest delivered in a later pass of the event loop.
    virtual void deliverLater() = 0;
    qsizetype waiting() const { return m_in.size() - m_readPos; }

    // One OnComm with the given event number; true when the handler read Input.
    bool raise(qint16 event);
    // Raises a receive event per waiting character until none wait, a handler leaves one
    // unread (stalled until the next arrival) or the pass has run long; then the event
    // loop gets its turn. False when the pass ran out and the rest comes later.
    bool deliverWaiting();

    // Receive buffer: characters from m_readPos on are waiting.
    QByteArray m_in;
    qsizetype m_readPos = 0;
    qint16 m_event = CommEvents::Receive;
    bool m_readThisEvent = false; // Input was called during the event being raised
    bool m_stalled = false;       // a handler left characters unread: wait for new ones
    bool m_emitting = false;      // inside OnComm: nested calls leave the raising to the outer pass
    quint64 m_arrivals = 0;       // counts arrivals, so one during an event counts as new

    qint16 m_inputLen = 0; // characters Input hands out at most; 0 all waiting
    qint16 m_rThreshold = 0;
    qint16 m_sThreshold = 0;
    qint32 m_inputMode = 0;
    mutable QString m_error;
};
