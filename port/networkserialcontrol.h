#pragma once
// The serial control over a network port: the comN entry of the ports folder is a regular
// file whose first line is rfc2217://host:port (Telnet with COM-PORT-OPTION: settings,
// break, handshaking and modem lines reach the remote device) or tcp://host:port (bytes
// only).
//
//   server --QTcpSocket (64 KiB)--> TelnetLink (rfc2217 only) --> m_in --drain passes-->
//   OnComm per character
//
// The contract is the local control's: one OnComm per received character in bounded
// passes, a handler that does not read stops the raising until new characters arrive,
// a dropped connection closes the port once and emits portLost once. Requests that the
// server must confirm wait a bounded time; no answer or a different one fails the write
// and leaves the port open. Opening fails within kOpenMs with the reason in lastError().
// Against a flooding server the waiting characters stop at kMaxBacklog: the socket is
// no longer read, so TCP holds the rest back.

#include "port/portrules.h"
#include "port/rfc2217.h"
#include "port/storedserialcontrol.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>

#include <array>
#include <functional>
#include <memory>

class QTcpSocket;
class QTimer;
class TelnetLink;

class NetworkSerialControl : public StoredSerialControl
{
    Q_OBJECT
public:
    explicit NetworkSerialControl(QObject *parent = nullptr);
    ~NetworkSerialControl() override;

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
    // The URL the current port number maps to, or the entry when it holds none.
    QString devicePath() const override;

    static constexpr int kOpenMs = 3000;
    // How long a setting, break or handshaking change waits for the server's answer.
    static constexpr int kReplyMs = 1000;
    static constexpr qsizetype kMaxBacklog = 4 << 20;

private:
    bool openPort();
    bool connectSocket(const PortUrl &url, const QDeadlineTimer &deadline);
    void closePort();
    void sendComPort(const QByteArray &payload);
    // Waits for the server until done() or the deadline, without raising OnComm.
    bool waitFor(const std::function<bool()> &done, QDeadlineTimer deadline);
    // Sends the line settings and returns a note when the server did not confirm them all.
    QString applyLine(const LineSettings &wanted, const QString &wantedText);
    bool applyControl(Rfc2217::Control value, QString *answer);

    void onReadyRead();
    void onSocketData(QByteArrayView bytes);
    void onComPort(QByteArrayView payload);
    void onModemState(unsigned char state);
    void queueHangUp(const QString &why);
    void hangUp(quint64 generation);
    bool rawTcp() const { return m_url.kind == PortUrl::Kind::RawTcp; }

    void takeIncoming(bool all = false);
    // Not inside waitFor: what arrives there waits for the drain timer.
    void refill() override
    {
        if (!m_waiting)
            takeIncoming();
    }
    void deliverLater() override;
    void drain();
    void finishLoss();

    QTcpSocket *m_socket = nullptr;
    std::unique_ptr<TelnetLink> m_telnet;
    QTimer *m_drainTimer = nullptr;
    QTimer *m_backlogTimer = nullptr;
    PortUrl m_url;
    bool m_open = false;
    bool m_waiting = false; // inside waitFor: arrivals wait for the drain timer

    qint16 m_commPort = 4;
    QString m_settingsText = QStringLiteral("9600,n,8,1");
    LineSettings m_settings;
    LineSettings m_confirmed; // while open: what the server answered
    std::array<int, Rfc2217::kCommandCount> m_awaiting{};
    std::optional<unsigned char> m_controlAnswer;
    QString m_settingsNote;
    bool m_break = false;
    bool m_eofEnable = false;
    qint32 m_handshaking = 0;

    unsigned char m_modemState = 0;
    bool m_modemKnown = false;
    unsigned char m_pendingLines = 0; // modem bits changed since the last raise

    quint64 m_generation = 0;
    bool m_hangUpQueued = false;
    QString m_lostReason;
};
