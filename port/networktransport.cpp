#include "port/networktransport.h"

#include "port/portmapping.h"
#include "port/telnetlink.h"
#include "port/tlssetup.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 kSocketBuffer = 64 * 1024;

// QHostInfo's lookup cannot be cancelled or bounded; it runs on a thread of its own that
// is left behind when it takes too long.
std::variant<QHostAddress, QString> resolve(const QString &host, const QDeadlineTimer &deadline)
{
    if (QHostAddress address; address.setAddress(host))
        return address;
    struct Shared
    {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<QHostInfo> info;
    };
    auto shared = std::make_shared<Shared>();
    std::thread([shared, host] {
        QHostInfo info = QHostInfo::fromName(host);
        const std::lock_guard lock(shared->mutex);
        shared->info = std::move(info);
        shared->done.notify_all();
    }).detach();
    std::unique_lock lock(shared->mutex);
    if (!shared->done.wait_for(lock, std::chrono::milliseconds(deadline.remainingTime()),
                               [&] { return shared->info.has_value(); }))
        return u"Host lookup took longer than %1 s: %2"_s.arg(NetworkTransport::kOpenMs / 1000)
            .arg(host);
    const QList<QHostAddress> addresses = shared->info->addresses();
    if (shared->info->error() != QHostInfo::NoError || addresses.isEmpty())
        return u"Host not found: %1 (%2)"_s.arg(host, shared->info->errorString());
    // IPv4 first: ser2net on a small board often listens on it alone.
    for (const QHostAddress &a : addresses) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol)
            return a;
    }
    return addresses.first();
}

} // namespace

NetworkTransport::NetworkTransport() = default;

NetworkTransport::~NetworkTransport()
{
    close();
}

// --- Opening and closing

SerialTransport::Opened NetworkTransport::open(const PortMapping &port, const LineSettings &line,
                                               const QString &lineText, qint32 handshaking)
{
    if (!port.urlError.isEmpty())
        return {port.urlError};
    m_url = port.url;
    const QDeadlineTimer deadline(kOpenMs);
    if (const QString error = connectSocket(m_url, port.tls, deadline); !error.isEmpty()) {
        close();
        return {error};
    }
    if (!rawTcp()) {
        m_telnet->start();
        waitFor([this] { return m_telnet->comPort() != TelnetLink::ComPort::Asked; }, deadline);
        if (m_telnet->comPort() != TelnetLink::ComPort::Agreed) {
            const bool closed = m_socket->state() != QAbstractSocket::ConnectedState;
            QString why = u"no answer to COM-PORT-OPTION within %1 s"_s.arg(kOpenMs / 1000);
            if (m_telnet->comPort() == TelnetLink::ComPort::Refused)
                why = u"the server refused COM-PORT-OPTION"_s;
            else if (closed)
                why = u"the server closed the connection"_s;
            close();
            // TLS 1.3 settles the client's certificate after the client's handshake is done.
            if (closed && m_url.tls)
                return {u"TLS refused for %1: the server closed the connection after the "
                        "handshake; %2"_s.arg(urlText(),
                                              m_clientCertificate
                                                  ? u"it may not accept the client certificate"_s
                                                  : u"it may require a client certificate "
                                                    "(cert= and key=)"_s)};
            return {u"No RFC 2217 offered by %1: %2"_s.arg(portUrlText(port.url), why)};
        }
    }
    m_open = true;

    Opened opened;
    if (rawTcp()) {
        opened.notes << u"Settings not applied: %1 carries bytes only"_s.arg(urlText());
        return opened;
    }
    sendComPort(
        Rfc2217::setModemStateMask(Rfc2217::Modem::Cts | Rfc2217::Modem::Dsr | Rfc2217::Modem::Cd));
    if (const QString note = applyLine(line, lineText); !note.isEmpty())
        opened.notes << note;
    opened.line = m_confirmed;
    QString answer;
    if (!applyControl(Rfc2217::flowControlFor(handshaking), &answer))
        opened.notes << u"Handshaking %1 not confirmed by %2 (%3)"_s.arg(
            QString::number(handshaking), urlText(), answer);
    return opened;
}

QString NetworkTransport::connectSocket(const PortUrl &url, const TlsFiles &tls,
                                        const QDeadlineTimer &deadline)
{
    const QString text = portUrlText(url);
    std::optional<QSslConfiguration> tlsConfig;
    if (url.tls) {
        if (!QSslSocket::supportsSsl())
            return u"No TLS on this computer for %1 (Qt finds no TLS library)"_s.arg(text);
        auto config = tlsConfiguration(tls);
        if (const auto *reason = std::get_if<QString>(&config))
            return *reason + u" ("_s + text + u')';
        tlsConfig = std::get<QSslConfiguration>(config);
    }
    const auto address = resolve(url.host, deadline);
    if (const auto *reason = std::get_if<QString>(&address))
        return *reason + u" ("_s + text + u')';

    // A new socket at every open: a server whose certificate changed is verified again.
    QSslSocket *secure = tlsConfig ? new QSslSocket(this) : nullptr;
    m_socket = secure ? secure : new QTcpSocket(this);
    m_clientCertificate = !tls.cert.isEmpty();
    m_socket->setReadBufferSize(kSocketBuffer);
    if (url.kind == PortUrl::Kind::Rfc2217) {
        m_telnet = std::make_unique<TelnetLink>(
            TelnetLink::Callbacks{[this](QByteArrayView out) {
                                      if (m_socket)
                                          m_socket->write(out.data(), out.size());
                                  },
                                  [this](QByteArrayView data) { sink()->arrived(data); },
                                  [this](QByteArrayView payload) { onComPort(payload); },
                                  [this](const QString &error) {
                                      connectionLost(u"Telnet protocol error: "_s + error);
                                  }});
    }
    connect(m_socket, &QTcpSocket::readyRead, this, [this] { sink()->readable(); });
    connect(m_socket, &QTcpSocket::disconnected, this,
            [this] { connectionLost(u"the server closed the connection"_s); });
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        // A wait for an answer that timed out is the request's failure, not the connection's.
        if (e != QAbstractSocket::SocketTimeoutError)
            connectionLost(m_socket->errorString());
    });
    if (secure) {
        secure->setSslConfiguration(*tlsConfig);
        // The address looked up above, and the URL's host name for the certificate.
        secure->connectToHostEncrypted(std::get<QHostAddress>(address).toString(), url.port,
                                       url.host);
    } else {
        m_socket->connectToHost(std::get<QHostAddress>(address), url.port);
    }
    const auto remaining = [&] { return int(std::max<qint64>(deadline.remainingTime(), 1)); };
    if (m_socket->waitForConnected(remaining())) {
        // A client certificate the TLS library refuses fails before the handshake, and
        // waitForEncrypted would wait for the deadline.
        if (!secure || (secure->error() == QAbstractSocket::UnknownSocketError &&
                        secure->waitForEncrypted(remaining())))
            return {};
        if (const QString refusal = tlsRefusal(secure->sslHandshakeErrors(), url.host);
            !refusal.isEmpty())
            return u"TLS refused for %1: %2"_s.arg(text, refusal);
        return handshakeFailure(text, deadline.hasExpired());
    }
    switch (m_socket->error()) {
    case QAbstractSocket::ConnectionRefusedError:
        return u"Connection refused: "_s + text;
    case QAbstractSocket::SocketTimeoutError:
        return u"No answer within %1 s: %2"_s.arg(kOpenMs / 1000).arg(text);
    default:
        return u"Cannot connect to %1: %2"_s.arg(text, m_socket->errorString());
    }
}

QString NetworkTransport::handshakeFailure(const QString &text, bool timedOut) const
{
    if (timedOut || m_socket->error() == QAbstractSocket::SocketTimeoutError)
        return u"No TLS on the server at %1: no TLS answer within %2 s"_s.arg(text).arg(kOpenMs /
                                                                                        1000);
    QString error = m_socket->errorString().trimmed();
    if (error.endsWith(u':')) // Qt's text when the TLS library gave no detail
        error.chop(1);
    // The TLS library checks a client certificate against its key as it sets them up.
    if ((m_socket->error() == QAbstractSocket::SslInvalidUserDataError ||
         m_socket->error() == QAbstractSocket::SslInternalError) &&
        m_clientCertificate)
        return u"TLS handshake failed with %1: the client certificate and key were refused "
               "(are they a pair?): %2"_s.arg(text, error);
    if (answeredInClear(error))
        return u"No TLS on the server at %1: it answered in clear (%2)"_s.arg(text, error);
    return u"TLS handshake failed with %1: %2"_s.arg(text, error);
}

void NetworkTransport::close()
{
    if (m_socket) {
        // Let what was sent last reach the server; the socket goes when it is done.
        QTcpSocket *old = m_socket;
        m_socket = nullptr;
        old->disconnect(this);
        if (old->state() == QAbstractSocket::ConnectedState && old->bytesToWrite() > 0) {
            connect(old, &QTcpSocket::disconnected, old, &QObject::deleteLater);
            QTimer::singleShot(kOpenMs, old, &QObject::deleteLater);
            old->disconnectFromHost();
        } else {
            old->abort();
            old->deleteLater();
        }
    }
    m_telnet.reset();
    m_open = false;
    m_modemState = 0;
    m_modemKnown = false;
    m_awaiting.fill(0);
}

QString NetworkTransport::describe(const PortMapping &port) const
{
    if (m_open)
        return urlText();
    return port.kind == PortMapping::Kind::Network ? portUrlText(port.url) : port.entry;
}

void NetworkTransport::connectionLost(const QString &why)
{
    if (m_open)
        sink()->lost(u"Connection lost: %1 (%2)"_s.arg(urlText(), why));
}

// --- Talking to the server

void NetworkTransport::sendComPort(const QByteArray &payload)
{
    if (!m_telnet)
        return;
    ++m_awaiting[uchar(payload.at(0))];
    m_telnet->sendComPort(payload);
}

bool NetworkTransport::waitFor(const std::function<bool()> &done, QDeadlineTimer deadline)
{
    // Signals the socket emits inside its wait functions must not raise OnComm here.
    const bool outer = m_waiting;
    m_waiting = true;
    m_socket->flush();
    while (!done() && !deadline.hasExpired() && m_socket &&
           m_socket->state() == QAbstractSocket::ConnectedState) {
        if (m_socket->bytesAvailable() > 0 && sink()->room() > 0) {
            fetch(sink()->room());
            continue;
        }
        m_socket->waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1)));
    }
    m_waiting = outer;
    if (!outer)
        sink()->settled();
    return done();
}

QString NetworkTransport::applyLine(const LineSettings &wanted, const QString &wantedText)
{
    using namespace Rfc2217;
    m_confirmed = wanted;
    const Command commands[] = {Command::SetBaudRate, Command::SetDataSize, Command::SetParity,
                                Command::SetStopSize};
    for (Command c : commands)
        m_awaiting[int(c)] = 0;
    sendComPort(Rfc2217::setBaudRate(quint32(wanted.baudRate)));
    sendComPort(Rfc2217::setDataSize(wanted.dataBits));
    sendComPort(Rfc2217::setParity(wanted.parity));
    sendComPort(Rfc2217::setStopSize(wanted.stopBits));
    waitFor(
        [&] {
            return std::all_of(std::begin(commands), std::end(commands),
                               [&](Command c) { return m_awaiting[int(c)] <= 0; });
        },
        QDeadlineTimer(kReplyMs));
    QStringList unanswered;
    static const char *const kNames[] = {"", "baud rate", "data bits", "parity", "stop bits"};
    for (Command c : commands) {
        if (m_awaiting[int(c)] > 0)
            unanswered << QLatin1StringView(kNames[int(c)]);
    }
    if (unanswered.isEmpty() && m_confirmed == wanted)
        return {};
    QString note = u"Settings partly applied on %1: %2 asked, %3 confirmed"_s.arg(
        urlText(), wantedText, settingsText(m_confirmed));
    if (!unanswered.isEmpty())
        note += u" (no answer for %1)"_s.arg(unanswered.join(u", "_s));
    return note;
}

bool NetworkTransport::applyControl(Rfc2217::Control value, QString *answer)
{
    m_controlAnswer.reset();
    m_awaiting[int(Rfc2217::Command::SetControl)] = 0;
    sendComPort(Rfc2217::setControl(value));
    waitFor([this] { return m_controlAnswer.has_value(); }, QDeadlineTimer(kReplyMs));
    if (!m_controlAnswer) {
        *answer = u"no answer within %1 s"_s.arg(kReplyMs / 1000.0);
        return false;
    }
    if (*m_controlAnswer != uchar(value)) {
        *answer = u"the server answered %1"_s.arg(*m_controlAnswer);
        return false;
    }
    return true;
}

void NetworkTransport::onComPort(QByteArrayView payload)
{
    using Rfc2217::Command;
    const auto decoded = Rfc2217::decodeReply(payload);
    const auto *reply = std::get_if<Rfc2217::Reply>(&decoded);
    if (!reply)
        return; // a malformed answer counts as none: the request waiting for it fails
    if (m_awaiting[int(reply->command)] > 0)
        --m_awaiting[int(reply->command)];
    switch (reply->command) {
    case Command::SetBaudRate:
        m_confirmed.baudRate = qint32(reply->value);
        break;
    case Command::SetDataSize:
        m_confirmed.dataBits = int(reply->value);
        break;
    case Command::SetParity:
        m_confirmed.parity = *reply->parity;
        break;
    case Command::SetStopSize:
        m_confirmed.stopBits = *reply->stopBits;
        break;
    case Command::SetControl:
        m_controlAnswer = uchar(reply->value);
        break;
    case Command::NotifyModemState:
        onModemState(uchar(reply->value));
        break;
    default:
        break;
    }
}

void NetworkTransport::onModemState(unsigned char state)
{
    // The first report is the state at the open, not a change.
    const unsigned char changed = m_modemKnown && m_open ? state ^ m_modemState : 0;
    m_modemState = state;
    m_modemKnown = true;
    const std::pair<unsigned char, qint16> events[] = {
        {Rfc2217::Modem::Cts, 3},
        {Rfc2217::Modem::Dsr, 4},
        {Rfc2217::Modem::Cd, 5},
    };
    for (const auto &[bit, event] : events) {
        if (changed & bit)
            sink()->lineChanged(event);
    }
}

// --- Data

void NetworkTransport::fetch(qsizetype max)
{
    qsizetype taken = 0;
    while (m_socket && m_socket->bytesAvailable() > 0 && taken < max) {
        char buffer[16384];
        const qint64 got =
            m_socket->read(buffer, std::min<qint64>(qint64(sizeof buffer), max - taken));
        if (got <= 0)
            break;
        taken += got;
        if (m_telnet)
            m_telnet->receive(QByteArrayView(buffer, got));
        else
            sink()->arrived(QByteArrayView(buffer, got));
    }
}

qint64 NetworkTransport::pending() const
{
    return m_socket ? m_socket->bytesAvailable() : 0;
}

qint64 NetworkTransport::unsent() const
{
    return m_socket ? m_socket->bytesToWrite() : 0;
}

std::optional<ModemLines> NetworkTransport::lines() const
{
    if (!m_open)
        return std::nullopt;
    // The server reports no output lines unasked, and ser2net does not answer when asked.
    return ModemLines{.cts = bool(m_modemState & Rfc2217::Modem::Cts),
                      .dsr = bool(m_modemState & Rfc2217::Modem::Dsr),
                      .cd = bool(m_modemState & Rfc2217::Modem::Cd)};
}

// --- Sending and line control

QString NetworkTransport::write(const QByteArray &data)
{
    if (data.isEmpty())
        return {};
    if (m_telnet)
        m_telnet->sendData(data);
    else if (m_socket->write(data) != data.size())
        return u"Write failed: %1 (%2)"_s.arg(urlText(), m_socket->errorString());
    m_socket->flush(); // what the kernel takes now leaves now, not at the next event
    return {};
}

SerialTransport::Line NetworkTransport::setLine(const LineSettings &wanted,
                                                const QString &wantedText)
{
    if (rawTcp())
        return {};
    const QString note = applyLine(wanted, wantedText);
    return {m_confirmed, note};
}

QString NetworkTransport::setBreak(bool on)
{
    if (rawTcp())
        return u"Break not supported by %1: it carries bytes only"_s.arg(urlText());
    QString answer;
    if (applyControl(on ? Rfc2217::Control::BreakOn : Rfc2217::Control::BreakOff, &answer))
        return {};
    // ser2net on gensio 2.x clears the break and then answers from a flag that holds the
    // ioctl's request number, so Break off is always answered "on". The server did act on
    // the request; calling that a refusal would leave the panel showing a break the line
    // no longer has. It is done, with the server's answer kept as a note.
    if (!on && m_controlAnswer == uchar(Rfc2217::Control::BreakOn)) {
        sink()->failed(
            u"Break off sent to %1; it still reports Break on (%2)"_s.arg(urlText(), answer));
        return {};
    }
    return u"Break not supported by %1 (%2)"_s.arg(urlText(), answer);
}

QString NetworkTransport::setFlowControl(qint32 mode)
{
    if (rawTcp())
        return mode == 0 ? QString()
                         : u"Handshaking %1 not supported by %2: it carries bytes only"_s.arg(
                               QString::number(mode), urlText());
    QString answer;
    if (!applyControl(Rfc2217::flowControlFor(mode), &answer))
        return u"Handshaking %1 not supported by %2 (%3)"_s.arg(QString::number(mode), urlText(),
                                                                answer);
    return {};
}
