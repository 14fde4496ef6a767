#pragma once
// The serial control as the window uses it: the properties of a classic serial
// communications control, typed, and one receive event. One control for every kind of
// port: it keeps the properties, the receive buffer, the per-character delivery and the
// loss of the port; a transport (port/serialtransport.h) moves the bytes.
//
//   device --transport--> m_in --delivery passes--> OnComm per character --> Form_Comm handlers
//
// Picking a port picks its transport: at each open the port's ports-folder entry
// (readPortMapping) says whether it is a local device or a network port.
//
// Every access can fail. A failed write changes nothing and returns false; a failed read
// returns std::nullopt. lastError() then says why, in words for the operator.

#include "port/lineerrors.h"
#include "port/portrules.h"
#include "port/serialtransport.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QTimer;
struct PortMapping;

// CommEvent numbers the window looks at.
namespace CommEvents {
inline constexpr qint16 Receive = 2;
inline constexpr qint16 Cts = 3;
inline constexpr qint16 Dsr = 4;
inline constexpr qint16 Cd = 5;
} // namespace CommEvents

class SerialControl : public QObject, private SerialTransport::Sink
{
    Q_OBJECT
public:
    // Local devices and network ports, each port over the transport its entry calls for.
    explicit SerialControl(QObject *parent = nullptr);
    // Every port over this one transport.
    explicit SerialControl(std::unique_ptr<SerialTransport> transport, QObject *parent = nullptr);
    ~SerialControl() override;

    // False closes the port; true opens it or fails, leaving it closed.
    bool setPortOpen(bool open);
    std::optional<bool> PortOpen() const;

    // Rejects a text it cannot use and keeps the previous one. Stored while closed,
    // applied when the port opens.
    bool setSettings(const QString &settings);
    std::optional<QString> Settings() const;

    bool setCommPort(qint16 port);
    std::optional<qint16> CommPort() const;

    bool setInputLen(qint16 value);
    std::optional<qint16> InputLen() const;
    bool setRThreshold(qint16 value);
    std::optional<qint16> RThreshold() const;
    bool setSThreshold(qint16 value);
    std::optional<qint16> SThreshold() const;
    bool setInputMode(qint32 value);
    std::optional<qint32> InputMode() const;

    // Takes at most InputLen of the oldest waiting characters (bytes 0..255); empty when
    // none wait.
    std::optional<QByteArray> Input();
    // Number of the event being raised: 2 receive, 3 CTS, 4 DSR, 5 CD.
    std::optional<qint16> CommEvent() const;
    // Sends the bytes in one write; fails when the port is not open or the device refuses.
    bool setOutput(const QByteArray &data);

    bool setBreak(bool on);
    std::optional<bool> Break() const;
    bool setEOFEnable(bool on);
    std::optional<bool> EOFEnable() const;
    bool setHandshaking(qint32 mode);
    std::optional<qint32> Handshaking() const;

    std::optional<bool> CDHolding() const;
    std::optional<bool> CTSHolding() const;
    std::optional<bool> DSRHolding() const;
    std::optional<bool> DTREnable() const;
    std::optional<bool> RTSEnable() const;
    std::optional<bool> NullDiscard() const;
    std::optional<qint16> InBufferCount() const;
    std::optional<qint16> InBufferSize() const;
    std::optional<qint16> OutBufferCount() const;
    std::optional<qint16> OutBufferSize() const;
    std::optional<QString> ParityReplace() const;

    // Why the last access (or the last hang-up) failed, e.g. "Permission denied: /dev/ttyS3".
    QString lastError() const { return m_error; }
    // The device or URL the current port number maps to; while open, the open one.
    QString devicePath() const;
    // The driver's line error counters (they run since the driver started, not since the
    // open); nullopt when the device keeps none or the port is closed.
    std::optional<LineErrorCounts> errorCounters() const;
    // Received characters not taken through Input yet.
    qsizetype waiting() const { return m_in.size() - m_readPos; }
    // Inside a delivery pass: passEnded() follows once the characters waiting were raised.
    bool delivering() const { return m_draining; }
    // The transport of the open port, or of the last one.
    SerialTransport *transport() const { return m_current; }

    // Small reads that come less than intervalMs apart (a trickle) may wait in the device
    // until the work given to askFirst runs, which takes them in: the window then shows
    // them in its next update, and the program wakes once per update rather than once per
    // read. Characters are then raised up to intervalMs after they came. askFirst returns
    // false when it will not run the work soon (reads go on at once); an empty askFirst
    // reads at once again.
    using AskFirst = std::function<bool(std::function<void()>)>;
    void setReadPace(qint64 intervalMs, AskFirst askFirst);
    bool readsPaced() const { return bool(m_askFirst); }

    // At most this many receive events per pass before the event loop gets a turn.
    static constexpr int kMaxEventsPerPass = 32768;
    // Against a flood the waiting characters stop here: the rest stays in the device (a
    // network server is then held back by TCP).
    static constexpr qsizetype kMaxBacklog = 4 << 20;

Q_SIGNALS:
    // Raised on the GUI thread at least once per received character, and for modem-line
    // changes where the device reports them. A handler that does not read Input() stops
    // the raising for the characters already waiting until new ones arrive.
    void OnComm();
    // The port closed by itself (device vanished, connection dropped); reason in words.
    // Raised once, after what was received before has been delivered.
    void portLost(const QString &reason);
    // A delivery pass ended: what was waiting was raised (or as much as one pass raises),
    // so work gathered over a burst of characters can be done once.
    void passEnded();

private:
    // What the transport reports.
    void arrived(QByteArrayView bytes) override;
    qsizetype room() const override;
    void readable() override;
    void lineChanged(qint16 event) override;
    void lost(const QString &reason) override;
    void failed(const QString &reason) override { m_error = reason; }
    void settled() override;

    bool isOpen() const { return m_current->isOpen(); }
    SerialTransport &transportFor(const PortMapping &port) const;
    bool openPort();
    void closePort();
    // Records why an access failed, for lastError(); returns false to pass on.
    bool fail(const QString &reason) const;
    // False when a watching transport refuses the access (see SerialTransport::refusal).
    template<typename Shown>
    bool admitted(QLatin1StringView member, Shown shown) const;
    bool readAdmitted(QLatin1StringView member) const;
    template<typename T>
    std::optional<T> read(QLatin1StringView member, T value) const;
    template<typename T>
    bool store(QLatin1StringView member, T &field, T value);
    std::optional<bool> modemLine(QLatin1StringView member, bool ModemLines::*line) const;
    // A count the window sets (InputLen, the thresholds): never below 0.
    bool storeCount(QLatin1StringView member, qint16 &field, qint16 value);

    // Receiving (serialdelivery.cpp).
    void takeIncoming(qsizetype max);
    void refill();
    void deliverLater();
    void drain();
    // One OnComm with the given event number; true when the handler read Input.
    bool raise(qint16 event);
    // Raises a receive event per waiting character until none wait, a handler leaves one
    // unread (stalled until the next arrival) or the pass has run long. False when the
    // pass ran out and the rest comes later.
    bool deliverWaiting();
    void pollBacklog();
    // After a read of `got` characters has been delivered: holds the next ones if a trickle.
    void paceReads(quint64 got);
    void resumeReads();
    void hangUp(quint64 generation);
    void finishLoss();

    std::unique_ptr<SerialTransport> m_local;
    std::unique_ptr<SerialTransport> m_network; // null: every port over m_local
    SerialTransport *m_current = nullptr;
    bool m_watched = false;
    QTimer *m_drainTimer = nullptr;
    QTimer *m_backlogTimer = nullptr;

    // Stored properties.
    qint16 m_commPort = 4;
    QString m_settingsText = QStringLiteral("9600,n,8,1");
    LineSettings m_settings;
    std::optional<LineSettings> m_inForce; // while open: what the device took
    QString m_settingsNote; // a text refused since the last open, kept as a hint after it
    qint16 m_inputLen = 0;  // characters Input hands out at most; 0 all waiting
    qint16 m_rThreshold = 0;
    qint16 m_sThreshold = 0;
    qint32 m_inputMode = 0;
    bool m_break = false;
    bool m_eofEnable = false;
    qint32 m_handshaking = 0;

    // Receive buffer: characters from m_readPos on are waiting.
    QByteArray m_in;
    qsizetype m_readPos = 0;
    qint16 m_event = CommEvents::Receive;
    bool m_readThisEvent = false; // Input was called during the event being raised
    bool m_stalled = false;       // a handler left characters unread: wait for new ones
    bool m_emitting = false;      // inside OnComm: nested calls leave the raising to the outer pass
    bool m_draining = false;      // inside a delivery pass
    quint64 m_arrivals = 0;       // counts arrivals, so one during an event counts as new
    quint8 m_pendingLines = 0;    // modem-line events not raised yet, bit per event number

    // Read pacing (setReadPace).
    static constexpr quint64 kTrickleBytes = 1024; // a read this large is not a trickle
    qint64 m_paceMs = 0;
    AskFirst m_askFirst;
    QElapsedTimer m_sinceRead;
    quint64 m_arrivedBytes = 0;
    bool m_holding = false;  // the transport holds reads until resumeReads
    bool m_resuming = false; // inside resumeReads: a read there keeps the hold going

    quint64 m_generation = 0; // increases at every open and close, so a stale hang-up is ignored
    bool m_hangUpQueued = false;
    QString m_lostReason; // set from the loss until portLost has been emitted
    mutable QString m_error;
};
