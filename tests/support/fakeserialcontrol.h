#pragma once
// The serial control for window tests: the real control, delivery loop included, over a
// transport that holds the device in memory. The transport records what the window wrote,
// can be told to refuse any property access, and receives what a test feeds in.

#include "port/portmapping.h"
#include "port/serialcontrol.h"
#include "port/serialtransport.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSet>
#include <QStringList>

class FakeTransport : public SerialTransport
{
    Q_OBJECT
public:
    using SerialTransport::SerialTransport;

    // --- Test controls
    // Members named here (e.g. "PortOpen=", "Settings", "Output=") fail; "X=" is the write,
    // "X" the read.
    QSet<QString> failing;
    // Port numbers that fail to open.
    QSet<qint16> absentPorts;
    // Every write the window made, in order, as "Member=value".
    QStringList calls;
    // Every Output write.
    QList<QByteArray> written;
    // What the "driver" reports; none by default.
    std::optional<LineErrorCounts> errors;

    // Characters arriving from the device; they wait there while the port is closed.
    void receive(const QByteArray &data)
    {
        m_device += data;
        if (m_open)
            sink()->readable();
    }
    // A modem-line change (3 CTS, 4 DSR, 5 CD).
    void changeLine(qint16 event)
    {
        if (m_open)
            sink()->lineChanged(event);
    }

    // --- SerialTransport
    Opened open(const PortMapping &port, const LineSettings &line, const QString &, qint32) override
    {
        m_port = qint16(port.port);
        if (absentPorts.contains(m_port))
            return {QStringLiteral("No such file or directory: ") + describe(port)};
        m_open = true;
        return {{}, {}, line};
    }
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    QString describe(const PortMapping &port) const override
    {
        return QStringLiteral("/dev/fake") + QString::number(m_open ? m_port : port.port);
    }
    Line setLine(const LineSettings &wanted, const QString &) override { return {wanted, {}}; }
    QString setFlowControl(qint32) override { return {}; }
    QString setBreak(bool) override { return {}; }
    QString write(const QByteArray &data) override
    {
        written.append(data);
        return {};
    }
    void fetch(qsizetype max) override
    {
        const QByteArray taken = m_device.left(max);
        m_device.remove(0, taken.size());
        sink()->arrived(taken);
    }
    qint64 pending() const override { return m_device.size(); }
    qint64 unsent() const override { return 0; }
    std::optional<ModemLines> lines() const override
    {
        return ModemLines{.dtr = m_open, .rts = m_open};
    }
    std::optional<LineErrorCounts> errorCounters() const override { return errors; }
    bool watchesAccess() const override { return true; }
    std::optional<QString> refusal(QLatin1StringView member, const QString &shown) override
    {
        const bool write = member.endsWith(u'=');
        if (!write && failing.isEmpty())
            return std::nullopt; // the common case, once per received character
        const QString name = member;
        if (failing.contains(name))
            return QStringLiteral("refused: ") + name;
        if (write)
            calls.append(name + shown);
        return std::nullopt;
    }

private:
    QByteArray m_device;
    qint16 m_port = 0;
    bool m_open = false;
};

// The control on a FakeTransport, with the transport's test controls at hand.
class FakeSerialControl : public SerialControl
{
    Q_OBJECT
public:
    explicit FakeSerialControl(QObject *parent = nullptr)
        : FakeSerialControl(new FakeTransport, parent)
    {}

    FakeTransport &device;
    QSet<QString> &failing;
    QSet<qint16> &absentPorts;
    QStringList &calls;
    QList<QByteArray> &written;
    std::optional<LineErrorCounts> &errors;
    int raised = 0; // OnComm events so far

    void receive(const QByteArray &data) { device.receive(data); }
    // Lets the event loop run until every received character has been taken, as the
    // delivery passes of a large arrival need; false when they are not taken in time.
    bool taken(int timeoutMs = 60000)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (waiting() > 0 && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        return waiting() == 0;
    }
    void raiseEvent(qint16 event) { device.changeLine(event); }

private:
    FakeSerialControl(FakeTransport *transport, QObject *parent)
        : SerialControl(std::unique_ptr<SerialTransport>(transport), parent)
        , device(*transport)
        , failing(transport->failing)
        , absentPorts(transport->absentPorts)
        , calls(transport->calls)
        , written(transport->written)
        , errors(transport->errors)
    {
        connect(this, &SerialControl::OnComm, this, [this] { ++raised; });
    }
};
