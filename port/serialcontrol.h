#pragma once
// The serial control as the window uses it: the properties of a classic serial
// communications control, typed, and one receive event.
//
//   device --> SerialControl (buffer, OnComm per waiting character) --> Form_Comm handlers
//
// Every access can fail. A failed write changes nothing and returns false; a failed read
// returns std::nullopt. lastError() then says why, in words for the operator.

#include "port/lineerrors.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>

// CommEvent numbers the window looks at.
namespace CommEvents {
inline constexpr qint16 Receive = 2;
inline constexpr qint16 Cts = 3;
inline constexpr qint16 Dsr = 4;
inline constexpr qint16 Cd = 5;
} // namespace CommEvents

class SerialControl : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~SerialControl() override = default;

    // False closes the port; true opens it or fails, leaving it closed.
    virtual bool setPortOpen(bool open) = 0;
    virtual std::optional<bool> PortOpen() const = 0;

    // Rejects a text it cannot use and keeps the previous one. Stored while closed,
    // applied when the port opens.
    virtual bool setSettings(const QString &settings) = 0;
    virtual std::optional<QString> Settings() const = 0;

    virtual bool setCommPort(qint16 port) = 0;
    virtual std::optional<qint16> CommPort() const = 0;

    virtual bool setInputLen(qint16 value) = 0;
    virtual std::optional<qint16> InputLen() const = 0;
    virtual bool setRThreshold(qint16 value) = 0;
    virtual std::optional<qint16> RThreshold() const = 0;
    virtual bool setSThreshold(qint16 value) = 0;
    virtual std::optional<qint16> SThreshold() const = 0;
    virtual bool setInputMode(qint32 value) = 0;
    virtual std::optional<qint32> InputMode() const = 0;

    // Takes at most InputLen of the oldest waiting characters (bytes 0..255); empty when
    // none wait.
    virtual std::optional<QByteArray> Input() = 0;
    // Number of the event being raised: 2 receive, 3 CTS, 4 DSR, 5 CD.
    virtual std::optional<qint16> CommEvent() const = 0;
    // Sends the bytes in one write; fails when the port is not open or the device refuses.
    virtual bool setOutput(const QByteArray &data) = 0;

    virtual bool setBreak(bool on) = 0;
    virtual std::optional<bool> Break() const = 0;
    virtual bool setEOFEnable(bool on) = 0;
    virtual std::optional<bool> EOFEnable() const = 0;
    virtual bool setHandshaking(qint32 mode) = 0;
    virtual std::optional<qint32> Handshaking() const = 0;

    virtual std::optional<bool> CDHolding() const = 0;
    virtual std::optional<bool> CTSHolding() const = 0;
    virtual std::optional<bool> DSRHolding() const = 0;
    virtual std::optional<bool> DTREnable() const = 0;
    virtual std::optional<bool> RTSEnable() const = 0;
    virtual std::optional<bool> NullDiscard() const = 0;
    virtual std::optional<qint16> InBufferCount() const = 0;
    virtual std::optional<qint16> InBufferSize() const = 0;
    virtual std::optional<qint16> OutBufferCount() const = 0;
    virtual std::optional<qint16> OutBufferSize() const = 0;
    virtual std::optional<QString> ParityReplace() const = 0;

    // Why the last access (or the last hang-up) failed, e.g. "Permission denied: /dev/ttyS3".
    virtual QString lastError() const = 0;
    // The device the current port number maps to.
    virtual QString devicePath() const = 0;
    // The driver's line error counters (they run since the driver started, not since the
    // open); nullopt when the device keeps none or the port is closed.
    virtual std::optional<LineErrorCounts> errorCounters() const { return std::nullopt; }

Q_SIGNALS:
    // Raised on the GUI thread at least once per received character, and for modem-line
    // changes where the device reports them. A handler that does not read Input() stops
    // the raising for the characters already waiting until new ones arrive.
    void OnComm();
    // The port closed by itself (device vanished); reason in words.
    void portLost(const QString &reason);
};
