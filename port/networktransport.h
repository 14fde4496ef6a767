#pragma once
// The transport of a network port: the comN entry of the ports folder is a regular file
// whose first line is rfc2217://host:port (Telnet with COM-PORT-OPTION: settings, break,
// handshaking and modem lines reach the remote device) or tcp://host:port (bytes only).
// With +tls after the scheme the connection is TLS, and the server's certificate is
// verified at every open (tlssetup.h); after the handshake everything is the same.
//
//   server --QTcpSocket or QSslSocket (64 KiB)--> TelnetLink (rfc2217 only) --> the buffer
//
// Requests the server must confirm wait a bounded time (busy() meanwhile); no answer or a
// different one fails the request and leaves the port open. Opening fails within kOpenMs
// with the reason. A dropped connection is reported lost once.

#include "port/rfc2217.h"
#include "port/serialtransport.h"

#include <QDeadlineTimer>

#include <array>
#include <functional>
#include <memory>

class QTcpSocket;
class TelnetLink;
struct TlsFiles;

class NetworkTransport : public SerialTransport
{
    Q_OBJECT
public:
    NetworkTransport();
    ~NetworkTransport() override;

    Opened open(const PortMapping &port, const LineSettings &line, const QString &lineText,
                qint32 handshaking) override;
    void close() override;
    QString describe(const PortMapping &port) const override;
    // Bytes, and the modem lines the server reports.
    void fetch(qsizetype max) override;
    qint64 pending() const override;
    qint64 unsent() const override;
    std::optional<ModemLines> lines() const override;
    QString write(const QByteArray &data) override;
    bool isOpen() const override { return m_open; }
    bool busy() const override { return m_waiting; }
    // Requests the server confirms; a raw TCP port takes none.
    Line setLine(const LineSettings &wanted, const QString &wantedText) override;
    QString setBreak(bool on) override;
    QString setFlowControl(qint32 mode) override;

    static constexpr int kOpenMs = 3000;
    // How long a setting, break or handshaking change waits for the server's answer.
    static constexpr int kReplyMs = 1000;

private:
    QString connectSocket(const PortUrl &url, const TlsFiles &tls, const QDeadlineTimer &deadline);
    // Why the TLS handshake failed, in words.
    QString handshakeFailure(const QString &text, bool timedOut) const;
    void sendComPort(const QByteArray &payload);
    // Waits for the server until done() or the deadline, reading what arrives meanwhile.
    bool waitFor(const std::function<bool()> &done, QDeadlineTimer deadline);
    // Sends the line settings and returns a note when the server did not confirm them all.
    QString applyLine(const LineSettings &wanted, const QString &wantedText);
    bool applyControl(Rfc2217::Control value, QString *answer);
    void onComPort(QByteArrayView payload);
    void onModemState(unsigned char state);
    void connectionLost(const QString &why);
    bool rawTcp() const { return m_url.kind == PortUrl::Kind::RawTcp; }
    QString urlText() const { return portUrlText(m_url); }

    QTcpSocket *m_socket = nullptr;
    std::unique_ptr<TelnetLink> m_telnet;
    PortUrl m_url;
    bool m_clientCertificate = false; // +tls: one was offered
    bool m_open = false;
    bool m_waiting = false; // inside waitFor

    LineSettings m_confirmed; // while open: what the server answered
    std::array<int, Rfc2217::kCommandCount> m_awaiting{};
    std::optional<unsigned char> m_controlAnswer;
    unsigned char m_modemState = 0;
    bool m_modemKnown = false;
};
