#include "port/networkserialcontrol.h"

#include "port/telnetlink.h"

#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QHostInfo>
#include <QMetaObject>
#include <QStringList>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

constexpr qint64 kSocketBuffer = 64 * 1024;
// While the backlog is full the socket is not read; this often, characters waiting in it
// count as an arrival, so a handler that starts reading again gets its event.
constexpr int kBacklogPollMs = 200;
// A URL file is one short line; a big file is not one.
constexpr qint64 kMaxUrlFile = 4096;

// The port URL in the first line of a ports-folder file, or the reason there is none.
std::variant<PortUrl, QString> readPortUrl(const QString &entry)
{
    QFile f(entry);
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("Cannot read %1: %2").arg(entry, f.errorString());
    const QByteArray line = f.readLine(kMaxUrlFile);
    auto url = parsePortUrl(QString::fromUtf8(line));
    if (auto *reason = std::get_if<QString>(&url))
        *reason += QStringLiteral(" (") + entry + u')';
    return url;
}

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
        return QStringLiteral("Host lookup took longer than %1 s: %2")
            .arg(NetworkSerialControl::kOpenMs / 1000)
            .arg(host);
    const QList<QHostAddress> addresses = shared->info->addresses();
    if (shared->info->error() != QHostInfo::NoError || addresses.isEmpty())
        return QStringLiteral("Host not found: %1 (%2)").arg(host, shared->info->errorString());
    // IPv4 first: ser2net on a small board often listens on it alone.
    for (const QHostAddress &a : addresses) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol)
            return a;
    }
    return addresses.first();
}

} // namespace

NetworkSerialControl::NetworkSerialControl(QObject *parent)
    : StoredSerialControl(parent)
    , m_drainTimer(new QTimer(this))
    , m_backlogTimer(new QTimer(this))
{
    m_drainTimer->setSingleShot(true);
    m_drainTimer->setInterval(0);
    m_backlogTimer->setInterval(kBacklogPollMs);
    connect(m_drainTimer, &QTimer::timeout, this, &NetworkSerialControl::drain);
    connect(m_backlogTimer, &QTimer::timeout, this, [this] {
        if (m_socket && m_socket->bytesAvailable() > 0 && waiting() >= kMaxBacklog) {
            m_stalled = false;
            drain();
        } else if (waiting() < kMaxBacklog) {
            m_backlogTimer->stop();
        }
    });
}

NetworkSerialControl::~NetworkSerialControl()
{
    closePort();
}

// --- Opening and closing

bool NetworkSerialControl::setPortOpen(bool open)
{
    if (!open) {
        closePort();
        return true;
    }
    return openPort();
}

std::optional<bool> NetworkSerialControl::PortOpen() const
{
    return m_open;
}

bool NetworkSerialControl::openPort()
{
    if (m_open)
        return fail(QStringLiteral("The port is already open: ") + portUrlText(m_url));
    const QString entry = deviceForPort(m_commPort);
    if (entry.isEmpty())
        return fail(QStringLiteral("Invalid port number: ") + QString::number(m_commPort));
    const auto parsed = readPortUrl(entry);
    if (const auto *reason = std::get_if<QString>(&parsed))
        return fail(*reason);
    closePort();
    m_url = std::get<PortUrl>(parsed);
    const QDeadlineTimer deadline(kOpenMs);
    if (!connectSocket(m_url, deadline))
        return false;

    if (!rawTcp()) {
        m_telnet->start();
        waitFor([this] { return m_telnet->comPort() != TelnetLink::ComPort::Asked; }, deadline);
        if (m_telnet->comPort() != TelnetLink::ComPort::Agreed) {
            QString why =
                QStringLiteral("no answer to COM-PORT-OPTION within %1 s").arg(kOpenMs / 1000);
            if (m_telnet->comPort() == TelnetLink::ComPort::Refused)
                why = QStringLiteral("the server refused COM-PORT-OPTION");
            else if (m_socket->state() != QAbstractSocket::ConnectedState)
                why = QStringLiteral("the server closed the connection");
            const QString url = portUrlText(m_url);
            closePort();
            return fail(QStringLiteral("No RFC 2217 offered by %1: %2").arg(url, why));
        }
    }
    m_open = true;
    ++m_generation;

    QStringList notes;
    if (rawTcp()) {
        notes << QStringLiteral("Settings not applied: %1 carries bytes only")
                     .arg(portUrlText(m_url));
    } else {
        sendComPort(Rfc2217::setModemStateMask(Rfc2217::Modem::Cts | Rfc2217::Modem::Dsr |
                                               Rfc2217::Modem::Cd));
        if (const QString note = applyLine(m_settings, m_settingsText); !note.isEmpty())
            notes << note;
        QString answer;
        if (!applyControl(Rfc2217::flowControlFor(m_handshaking), &answer))
            notes << QStringLiteral("Handshaking %1 not confirmed by %2 (%3)")
                         .arg(QString::number(m_handshaking), portUrlText(m_url), answer);
    }
    if (!m_settingsNote.isEmpty())
        notes.prepend(m_settingsNote);
    m_settingsNote.clear();
    m_error = notes.join(QStringLiteral("\n"));
    if (waiting() > 0 || m_pendingLines || m_hangUpQueued)
        m_drainTimer->start();
    return true;
}

bool NetworkSerialControl::connectSocket(const PortUrl &url, const QDeadlineTimer &deadline)
{
    const QString urlText = portUrlText(url);
    const auto address = resolve(url.host, deadline);
    if (const auto *reason = std::get_if<QString>(&address))
        return fail(*reason + QStringLiteral(" (") + urlText + u')');

    m_socket = new QTcpSocket(this);
    m_socket->setReadBufferSize(kSocketBuffer);
    if (url.kind == PortUrl::Kind::Rfc2217) {
        m_telnet = std::make_unique<TelnetLink>(TelnetLink::Callbacks{
            [this](QByteArrayView out) {
                if (m_socket)
                    m_socket->write(out.data(), out.size());
            },
            [this](QByteArrayView data) { onSocketData(data); },
            [this](QByteArrayView payload) { onComPort(payload); },
            [this](const QString &error) {
                queueHangUp(QStringLiteral("Telnet protocol error: ") + error);
            }});
    }
    connect(m_socket, &QTcpSocket::readyRead, this, &NetworkSerialControl::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this,
            [this] { queueHangUp(QStringLiteral("the server closed the connection")); });
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        // A wait for an answer that timed out is the request's failure, not the connection's.
        if (e != QAbstractSocket::SocketTimeoutError)
            queueHangUp(m_socket->errorString());
    });
    m_socket->connectToHost(std::get<QHostAddress>(address), url.port);
    if (m_socket->waitForConnected(int(std::max<qint64>(deadline.remainingTime(), 1))))
        return true;
    QString reason;
    switch (m_socket->error()) {
    case QAbstractSocket::ConnectionRefusedError:
        reason = QStringLiteral("Connection refused: ") + urlText;
        break;
    case QAbstractSocket::SocketTimeoutError:
        reason = QStringLiteral("No answer within %1 s: %2").arg(kOpenMs / 1000).arg(urlText);
        break;
    default:
        reason = QStringLiteral("Cannot connect to %1: %2").arg(urlText, m_socket->errorString());
        break;
    }
    closePort();
    return fail(reason);
}

void NetworkSerialControl::closePort()
{
    m_drainTimer->stop();
    m_backlogTimer->stop();
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
    ++m_generation;
    m_hangUpQueued = false;
    m_lostReason.clear();
    m_in.clear();
    m_readPos = 0;
    m_stalled = false;
    m_break = false;
    m_modemState = 0;
    m_modemKnown = false;
    m_pendingLines = 0;
    m_awaiting.fill(0);
}

// --- Talking to the server

void NetworkSerialControl::sendComPort(const QByteArray &payload)
{
    if (!m_telnet)
        return;
    ++m_awaiting[uchar(payload.at(0))];
    m_telnet->sendComPort(payload);
}

bool NetworkSerialControl::waitFor(const std::function<bool()> &done, QDeadlineTimer deadline)
{
    // Signals the socket emits inside its wait functions must not raise OnComm here.
    const bool outer = m_waiting;
    m_waiting = true;
    m_socket->flush();
    while (!done() && !deadline.hasExpired() && m_socket &&
           m_socket->state() == QAbstractSocket::ConnectedState) {
        if (m_socket->bytesAvailable() > 0 && waiting() < kMaxBacklog) {
            takeIncoming();
            continue;
        }
        m_socket->waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1)));
    }
    m_waiting = outer;
    if (!outer && (waiting() > 0 || m_pendingLines || m_hangUpQueued))
        m_drainTimer->start();
    return done();
}

QString NetworkSerialControl::applyLine(const LineSettings &wanted, const QString &wantedText)
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
    QString note = QStringLiteral("Settings partly applied on %1: %2 asked, %3 confirmed")
                       .arg(portUrlText(m_url), wantedText, settingsText(m_confirmed));
    if (!unanswered.isEmpty())
        note += QStringLiteral(" (no answer for %1)").arg(unanswered.join(QStringLiteral(", ")));
    return note;
}

bool NetworkSerialControl::applyControl(Rfc2217::Control value, QString *answer)
{
    m_controlAnswer.reset();
    m_awaiting[int(Rfc2217::Command::SetControl)] = 0;
    sendComPort(Rfc2217::setControl(value));
    waitFor([this] { return m_controlAnswer.has_value(); }, QDeadlineTimer(kReplyMs));
    if (!m_controlAnswer) {
        *answer = QStringLiteral("no answer within %1 s").arg(kReplyMs / 1000.0);
        return false;
    }
    if (*m_controlAnswer != uchar(value)) {
        *answer = QStringLiteral("the server answered %1").arg(*m_controlAnswer);
        return false;
    }
    return true;
}

void NetworkSerialControl::onComPort(QByteArrayView payload)
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

void NetworkSerialControl::onModemState(unsigned char state)
{
    // The first report is the state at the open, not a change.
    if (m_modemKnown && m_open)
        m_pendingLines |= (state ^ m_modemState) &
                          (Rfc2217::Modem::Cts | Rfc2217::Modem::Dsr | Rfc2217::Modem::Cd);
    m_modemState = state;
    m_modemKnown = true;
    if (m_pendingLines && !m_waiting)
        m_drainTimer->start();
}

// --- Receiving

void NetworkSerialControl::onReadyRead()
{
    if (waiting() >= kMaxBacklog) {
        // Characters are waiting in the socket: that is an arrival, read or not.
        m_stalled = false;
        m_backlogTimer->start();
    } else {
        takeIncoming();
    }
    if (!m_waiting)
        drain();
}

void NetworkSerialControl::takeIncoming(bool all)
{
    if (!m_socket)
        return;
    if (m_readPos == m_in.size()) {
        m_in.resize(0);
        m_readPos = 0;
    } else if (m_readPos >= 65536 && m_readPos * 2 >= m_in.size()) {
        m_in.remove(0, m_readPos);
        m_readPos = 0;
    }
    const quint64 before = m_arrivals;
    while (m_socket && m_socket->bytesAvailable() > 0 && (all || waiting() < kMaxBacklog)) {
        char buffer[16384];
        const qint64 got = m_socket->read(buffer, sizeof buffer);
        if (got <= 0)
            break;
        if (m_telnet)
            m_telnet->receive(QByteArrayView(buffer, got));
        else
            onSocketData(QByteArrayView(buffer, got));
    }
    if (m_arrivals != before)
        m_stalled = false;
}

void NetworkSerialControl::onSocketData(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return;
    m_in.append(bytes.data(), bytes.size());
    ++m_arrivals;
}

void NetworkSerialControl::deliverLater()
{
    m_drainTimer->start();
}

void NetworkSerialControl::drain()
{
    if (m_emitting || m_waiting)
        return;
    // Line changes first: they happened before the characters still to be taken.
    const std::pair<unsigned char, qint16> lines[] = {
        {Rfc2217::Modem::Cts, CommEvents::Cts},
        {Rfc2217::Modem::Dsr, CommEvents::Dsr},
        {Rfc2217::Modem::Cd, CommEvents::Cd},
    };
    for (const auto &[bit, event] : lines) {
        if (!(m_pendingLines & bit))
            continue;
        m_pendingLines &= ~bit;
        if (m_open && raise(event))
            m_stalled = false;
    }
    if (!deliverWaiting())
        return;
    if (m_stalled && waiting() >= kMaxBacklog)
        m_backlogTimer->start();
    finishLoss();
}

// --- Loss of the connection

void NetworkSerialControl::queueHangUp(const QString &why)
{
    if (!m_open || m_hangUpQueued)
        return;
    // Closing inside the socket's own notification is not safe.
    m_hangUpQueued = true;
    const quint64 generation = m_generation;
    m_lostReason = QStringLiteral("Connection lost: %1 (%2)").arg(portUrlText(m_url), why);
    QMetaObject::invokeMethod(
        this, [this, generation] { hangUp(generation); }, Qt::QueuedConnection);
}

void NetworkSerialControl::hangUp(quint64 generation)
{
    if (generation != m_generation || !m_open)
        return;
    takeIncoming(true); // the socket's buffer goes with it
    const QString reason = m_lostReason;
    QTcpSocket *old = m_socket;
    m_socket = nullptr;
    old->disconnect(this);
    old->abort();
    old->deleteLater();
    m_telnet.reset();
    m_backlogTimer->stop();
    m_open = false;
    m_hangUpQueued = false;
    m_break = false;
    m_pendingLines = 0;
    m_modemState = 0;
    m_error = reason;
    m_lostReason = reason;
    m_stalled = false;
    drain();
}

void NetworkSerialControl::finishLoss()
{
    if (m_open || m_lostReason.isEmpty() || (waiting() > 0 && !m_stalled))
        return;
    const QString reason = m_lostReason;
    m_lostReason.clear();
    Q_EMIT portLost(reason);
}

// --- Sending and line control

bool NetworkSerialControl::setOutput(const QByteArray &data)
{
    if (!m_open)
        return fail(QStringLiteral("The port is not open"));
    if (data.isEmpty())
        return true;
    if (m_telnet)
        m_telnet->sendData(data);
    else if (m_socket->write(data) != data.size())
        return fail(QStringLiteral("Write failed: %1 (%2)")
                        .arg(portUrlText(m_url), m_socket->errorString()));
    m_socket->flush(); // what the kernel takes now leaves now, not at the next event
    return true;
}

bool NetworkSerialControl::setBreak(bool on)
{
    if (!m_open)
        return fail(QStringLiteral("The port is not open"));
    if (rawTcp())
        return fail(QStringLiteral("Break not supported by %1: it carries bytes only")
                        .arg(portUrlText(m_url)));
    QString answer;
    if (!applyControl(on ? Rfc2217::Control::BreakOn : Rfc2217::Control::BreakOff, &answer))
        return fail(
            QStringLiteral("Break not supported by %1 (%2)").arg(portUrlText(m_url), answer));
    m_break = on;
    return true;
}

std::optional<bool> NetworkSerialControl::Break() const
{
    return m_break;
}

bool NetworkSerialControl::setHandshaking(qint32 mode)
{
    if (mode < 0 || mode > 3)
        return fail(QStringLiteral("Invalid handshaking mode ") + QString::number(mode));
    if (m_open && rawTcp() && mode != 0)
        return fail(QStringLiteral("Handshaking %1 not supported by %2: it carries bytes only")
                        .arg(QString::number(mode), portUrlText(m_url)));
    if (m_open && !rawTcp()) {
        QString answer;
        if (!applyControl(Rfc2217::flowControlFor(mode), &answer))
            return fail(QStringLiteral("Handshaking %1 not supported by %2 (%3)")
                            .arg(QString::number(mode), portUrlText(m_url), answer));
    }
    m_handshaking = mode;
    return true;
}

std::optional<qint32> NetworkSerialControl::Handshaking() const
{
    return m_handshaking;
}

QString NetworkSerialControl::devicePath() const
{
    if (m_open)
        return portUrlText(m_url);
    const QString entry = deviceForPort(m_commPort);
    const auto url = readPortUrl(entry);
    return std::holds_alternative<PortUrl>(url) ? portUrlText(std::get<PortUrl>(url)) : entry;
}
