#pragma once
// What every kind of port keeps the same way: the properties that only shape how received
// data is handed out (InputLen, the thresholds, InputMode), the buffer received characters
// wait in with the event being raised, and the last error. The local and
// the network implementation derive from this, so these rules live in one place.

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

protected:
    // Records why an access failed, for lastError(); returns false to pass on.
    bool fail(const QString &reason) const;
    // Moves what has arrived into m_in, where it may be taken now; Input calls it when
    // none wait.
    virtual void refillForInput() = 0;
    qsizetype waiting() const { return m_in.size() - m_readPos; }

    // Receive buffer: characters from m_readPos on are waiting.
    QByteArray m_in;
    qsizetype m_readPos = 0;
    qint16 m_event = CommEvents::Receive;
    bool m_readThisEvent = false; // Input was called during the event being raised

    qint16 m_inputLen = 0; // characters Input hands out at most; 0 all waiting
    qint16 m_rThreshold = 0;
    qint16 m_sThreshold = 0;
    qint32 m_inputMode = 0;
    mutable QString m_error;
};
