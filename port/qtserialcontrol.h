#pragma once
// The serial control over QSerialPort.
//
//   device --QSerialPort (unbounded buffer)--> m_in --drain passes--> OnComm per character
//
// Port n is the device deviceForPort(n) names, links resolved, opened exclusively (lock
// file and flock). Received characters wait in m_in until a handler takes them through
// Input(); a handler that does not read stops the raising until new characters arrive.
// A device that vanishes closes the port once, delivers what was already received and
// emits portLost.

#include "port/portrules.h"
#include "port/storedserialcontrol.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QSerialPort>
#include <QString>

class QTimer;

class QtSerialControl : public StoredSerialControl
{
    Q_OBJECT
public:
    explicit QtSerialControl(QObject *parent = nullptr);
    ~QtSerialControl() override;

    bool setPortOpen(bool open) override;
    std::optional<bool> PortOpen() const override;
    bool setSettings(const QString &settings) override;
    std::optional<QString> Settings() const override;
    bool setCommPort(qint16 port) override;
    std::optional<qint16> CommPort() const override;
    bool setOutput(const QByteArray &data) override;
    bool setBreak(bool on) override;
    std::optional<bool> Break() const override;
    bool setEOFEnable(bool on) override;
    std::optional<bool> EOFEnable() const override;
    bool setHandshaking(qint32 mode) override;
    std::optional<qint32> Handshaking() const override;
    std::optional<bool> CDHolding() const override;
    std::optional<bool> CTSHolding() const override;
    std::optional<bool> DSRHolding() const override;
    std::optional<bool> DTREnable() const override;
    std::optional<bool> RTSEnable() const override;
    std::optional<bool> NullDiscard() const override;
    std::optional<qint16> InBufferCount() const override;
    std::optional<qint16> InBufferSize() const override;
    std::optional<qint16> OutBufferCount() const override;
    std::optional<qint16> OutBufferSize() const override;
    std::optional<QString> ParityReplace() const override;
    QString devicePath() const override;
    std::optional<LineErrorCounts> errorCounters() const override;

private:
    bool openPort();
    void closePort();
    QString openFailure(const QString &device) const;
    // Applies the line settings to the open port; returns a note when the device did not
    // take all of them, empty otherwise.
    QString applyLine(const LineSettings &wanted);
    LineSettings lineInForce() const;
    bool applyFlowControl(qint32 mode);

    void onReadyRead();
    void onErrorOccurred(QSerialPort::SerialPortError error);
    bool deviceHungUp() const;
    void queueHangUp();
    void hangUp(quint64 generation);

    void takeIncoming();
    void refill() override { takeIncoming(); }
    void deliverLater() override;
    void drain();
    void finishLoss();

    std::optional<QSerialPort::PinoutSignals> pins() const;
    std::optional<bool> pin(QSerialPort::PinoutSignal signal) const;
    void pollLines();

    QSerialPort *m_port = nullptr;
    QTimer *m_drainTimer = nullptr;
    QTimer *m_lineTimer = nullptr;

    qint16 m_commPort = 4;
    QString m_settingsText = QStringLiteral("9600,n,8,1");
    LineSettings m_settings;
    QString m_inForceText; // while open: the settings the device took
    bool m_break = false;
    bool m_eofEnable = false;
    qint32 m_handshaking = 0;
    // A settings text refused since the last open, kept as a hint after the open.
    QString m_settingsNote;

    QString m_device;         // canonical device of the open port
    quint64 m_generation = 0; // increases at every open, so a stale hang-up is ignored
    bool m_hangUpQueued = false;
    QString m_lostReason; // set from the hang-up until portLost has been emitted
    int m_readErrors = 0;
    QElapsedTimer m_readErrorWindow;

    mutable bool m_linesReadable = false;
    QSerialPort::PinoutSignals m_lastPins;
};
