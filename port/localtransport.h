#pragma once
// The transport of a local device: QSerialPort, plus the ioctls Qt does not offer (the
// line as the driver set it, the output queue, the error counters).
//
//   device --QSerialPort (unbounded buffer)--> fetch --> the control's buffer
//
// The port's path (its ports-folder entry, else its legacy device) is opened with links
// resolved and exclusively (lock file and flock). A device that hangs up, or keeps failing
// reads, is reported lost once.

#include "port/serialtransport.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSerialPort>
#include <QString>

class QSocketNotifier;
class QTimer;

class LocalTransport : public SerialTransport
{
    Q_OBJECT
public:
    explicit LocalTransport(QObject *parent = nullptr);
    ~LocalTransport() override;

    Opened open(const PortMapping &port, const LineSettings &line, const QString &lineText,
                qint32 handshaking) override;
    void close() override;
    bool isOpen() const override { return m_port->isOpen(); }
    QString describe(const PortMapping &port) const override;
    Line setLine(const LineSettings &wanted, const QString &wantedText) override;
    QString setFlowControl(qint32 mode) override;
    QString setBreak(bool on) override;
    QString write(const QByteArray &data) override;
    void fetch(qsizetype max) override;
    bool holdReads(bool hold) override;
    qint64 pending() const override;
    qint64 unsent() const override;
    std::optional<ModemLines> lines() const override;
    std::optional<LineErrorCounts> errorCounters() const override;

private:
    QString openFailure(const QString &device, qint16 port) const;
    LineSettings lineInForce() const;
    void onErrorOccurred(QSerialPort::SerialPortError error);
    bool deviceHungUp() const;
    void reportLoss();
    std::optional<QSerialPort::PinoutSignals> pins() const;
    void pollLines();

    QSerialPort *m_port = nullptr;
    QTimer *m_lineTimer = nullptr;
    QString m_device; // canonical device of the open port
    QByteArray m_chunk; // what one fetch reads
    QPointer<QSocketNotifier> m_readNotifier; // the open port's, while reads are held
    bool m_break = false;
    bool m_lossReported = false;
    int m_readErrors = 0;
    QElapsedTimer m_readErrorWindow;
    mutable bool m_linesReadable = false;
    QSerialPort::PinoutSignals m_lastPins;
};
