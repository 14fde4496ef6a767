#pragma once
// What the serial control needs from one kind of port: open and close it, move bytes, set
// the line, and report modem lines, error counters and the loss of the device. Everything
// the window sees as a property is the control's (port/serialcontrol.h); a transport keeps
// only the state of its connection.
//
//   SerialControl --open, write, setLine, setBreak...--> SerialTransport
//   SerialControl <--arrived, readable, lineChanged, lost--  (through Sink)
//
// Local devices: LocalTransport. rfc2217:// and tcp:// entries: NetworkTransport. Tests:
// FakeTransport (tests/support).

#include "port/lineerrors.h"
#include "port/portrules.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QLatin1StringView>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

struct PortMapping;

struct ModemLines
{
    bool cts = false;
    bool dsr = false;
    bool cd = false;
    bool dtr = false;
    bool rts = false;
};

class SerialTransport : public QObject
{
    Q_OBJECT
public:
    // What a transport tells its control, on the GUI thread.
    class Sink
    {
    public:
        // Received characters, in order.
        virtual void arrived(QByteArrayView bytes) = 0;
        // How many more characters the control takes now: a flood is left in the device.
        virtual qsizetype room() const = 0;
        // Characters wait in the device to be fetched.
        virtual void readable() = 0;
        // CTS, DSR or CD changed (a CommEvents number).
        virtual void lineChanged(qint16 event) = 0;
        // The device or connection is gone, with the reason in words. May come from inside
        // the transport's own notifications: the control closes it later.
        virtual void lost(const QString &reason) = 0;
        // A failure that leaves the port open (a write the device gave up on later).
        virtual void failed(const QString &reason) = 0;
        // A wait inside the transport (busy()) ended: what came meanwhile may be raised.
        virtual void settled() = 0;

    protected:
        ~Sink() = default;
    };

    struct Opened
    {
        QString error{};                    // empty: the port is open
        QStringList notes{};                // what the device did not take
        std::optional<LineSettings> line{}; // in force; none: the port carries bytes only
    };
    struct Line
    {
        std::optional<LineSettings> inForce{}; // none: the port carries bytes only
        QString note{};                        // empty when the device took all
    };

    using QObject::QObject;
    void attach(Sink *sink) { m_sink = sink; }

    // Opens the port the mapping names, with these line settings and handshaking mode.
    virtual Opened open(const PortMapping &port, const LineSettings &line, const QString &lineText,
                        qint32 handshaking) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // The device or URL the mapping leads to, as messages name it; while open, the open one.
    virtual QString describe(const PortMapping &port) const = 0;

    // While open. Each returns empty when done, else why not, in words.
    virtual Line setLine(const LineSettings &wanted, const QString &wantedText) = 0;
    virtual QString setFlowControl(qint32 mode) = 0;
    virtual QString setBreak(bool on) = 0;
    virtual QString write(const QByteArray &data) = 0; // an empty write sends nothing

    // Hands at most about max received characters to the sink.
    virtual void fetch(qsizetype max) = 0;
    // Stops telling the sink of characters that arrive (true) or tells it again (false),
    // and at once if some came meanwhile. False when this transport cannot hold them.
    virtual bool holdReads(bool) { return false; }
    // Received characters not fetched yet, and written ones not sent yet.
    virtual qint64 pending() const = 0;
    virtual qint64 unsent() const = 0;
    // None when the device has no modem lines to read.
    virtual std::optional<ModemLines> lines() const = 0;
    virtual std::optional<LineErrorCounts> errorCounters() const { return std::nullopt; }
    // Inside a wait for the device's answer: no event may be raised now.
    virtual bool busy() const { return false; }
    // A test transport watches the control's property accesses: refusal() is then asked
    // before each ("X" a read, "X=" a write with the value shown), and a reason refuses it.
    virtual bool watchesAccess() const { return false; }
    virtual std::optional<QString> refusal(QLatin1StringView, const QString &)
    {
        return std::nullopt;
    }

protected:
    Sink *sink() const { return m_sink; }

private:
    Sink *m_sink = nullptr;
};
