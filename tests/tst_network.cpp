// Network ports through the port router: against a real ser2net serving a pty, and
// against a scripted server for what ser2net cannot show (modem lines, refusal, malformed
// replies, a flood).
#include "port/localtransport.h"
#include "port/networktransport.h"
#include "port/serialcontrol.h"
#include "support/loopback.h"
#include "support/pty.h"
#include "support/ser2net.h"
#include "support/tables.h"
#include "support/windowport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <mutex>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>

namespace {

QByteArray bytes(std::initializer_list<char> values)
{
    return QByteArray(values.begin(), qsizetype(values.size()));
}

constexpr char IAC = char(255), SB = char(250), SE = char(240), DO = char(253), DONT = char(254);

QByteArray comPort(QByteArray payload)
{
    return bytes({IAC, SB, char(44)}) + payload.replace("\xff", "\xff\xff") + bytes({IAC, SE});
}

// A scripted Telnet server on its own thread (the control waits synchronously): sends the
// greeting, answers each COM-PORT-OPTION setting with its value as a server does, then
// sends what the test queues, and optionally a flood of `floodBytes` characters i % 251.
class FakeServer
{
public:
    explicit FakeServer(QByteArray greeting, bool answer = true)
        : m_greeting(std::move(greeting))
        , m_answer(answer)
    {
        m_listen = listenOnLoopback(m_port);
        m_thread = std::thread([this] { run(); });
    }
    ~FakeServer()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_listen);
    }
    quint16 port() const { return m_port; }
    void send(const QByteArray &bytes)
    {
        const std::lock_guard lock(m_mutex);
        m_outbox += bytes;
    }
    void flood(qint64 bytes) { m_floodLeft = bytes; }
    std::atomic<qint64> floodSent{0};

private:
    void run()
    {
        int fd = -1;
        while (!m_stop && fd < 0) {
            pollfd p{m_listen, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0)
                fd = ::accept(m_listen, nullptr, nullptr);
        }
        if (fd < 0)
            return;
        send(m_greeting);
        QByteArray in;
        while (!m_stop) {
            QByteArray out;
            {
                const std::lock_guard lock(m_mutex);
                out.swap(m_outbox);
            }
            if (out.isEmpty() && m_floodLeft > 0) {
                const qint64 n = std::min<qint64>(m_floodLeft, 65536);
                out.resize(n);
                for (qint64 i = 0; i < n; ++i)
                    out[i] = char((floodSent + i) % 251);
                m_floodLeft -= n;
                floodSent += n; // counted once handed to the kernel below
            }
            for (qsizetype done = 0; done < out.size() && !m_stop;) {
                const ssize_t n = ::send(fd, out.constData() + done, out.size() - done,
                                         MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n > 0)
                    done += n;
                else if (errno == EAGAIN) {
                    pollfd p{fd, POLLOUT, 0};
                    ::poll(&p, 1, 20);
                } else
                    break;
            }
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, out.isEmpty() ? 10 : 0) > 0) {
                char buf[4096];
                const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                in.append(buf, n);
                answerSettings(in);
            }
        }
        ::close(fd);
    }
    // Answers SET-BAUDRATE to SET-CONTROL (1..5) with command + 100 and the same value.
    void answerSettings(QByteArray &in)
    {
        for (qsizetype at; (at = in.indexOf(bytes({IAC, SB, char(44)}))) >= 0;) {
            const qsizetype end = in.indexOf(bytes({IAC, SE}), at);
            if (end < 0)
                return;
            const QByteArray payload = in.mid(at + 3, end - at - 3).replace("\xff\xff", "\xff");
            in.remove(0, end + 2);
            if (m_answer && !payload.isEmpty() && payload[0] >= 1 && payload[0] <= 5)
                send(comPort(char(payload[0] + 100) + payload.mid(1)));
        }
    }

    QByteArray m_greeting;
    bool m_answer;
    int m_listen = -1;
    quint16 m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<qint64> m_floodLeft{0};
    std::mutex m_mutex;
    QByteArray m_outbox;
};

const QByteArray kAgree = bytes({IAC, DO, char(44)});

} // namespace

class TestNetwork : public QObject
{
    Q_OBJECT
    PortMap *m_map = nullptr;

    QString url(quint16 port, bool rfc2217 = true) const
    {
        return (rfc2217 ? QStringLiteral("rfc2217://127.0.0.1:")
                        : QStringLiteral("tcp://127.0.0.1:")) +
               QString::number(port);
    }

private Q_SLOTS:
    void init() { m_map = new PortMap; }
    void cleanup() { delete m_map; }

    void settingsReachTheDevice_data()
    {
        columns<QString, QString, int, int>("atOpen", "whileOpen", "speedAtOpen", "speedWhileOpen");
        QTest::newRow("115200 then 1200,e,7,2")
            << QStringLiteral("115200,n,8,1") << QStringLiteral("1200,e,7,2") << int(B115200)
            << int(B1200);
        QTest::newRow("19200,o,8,2 then 57600,n,8,1")
            << QStringLiteral("19200,o,8,2") << QStringLiteral("57600,n,8,1") << int(B19200)
            << int(B57600);
    }
    void settingsReachTheDevice()
    {
        if (!Ser2net::installed())
            QSKIP("ser2net is not installed (Debian package ser2net)");
        QFETCH(QString, atOpen);
        QFETCH(QString, whileOpen);
        QFETCH(int, speedAtOpen);
        QFETCH(int, speedWhileOpen);
        ServedPty s;
        QVERIFY(s.start(m_map->path(), 6, true));
        SerialControl port;
        QVERIFY2(openLikeTheWindow(port, 6, atOpen), qPrintable(port.lastError()));
        QVERIFY2(port.lastError().isEmpty(), qPrintable(port.lastError()));
        QCOMPARE(port.devicePath(), s.server.url(true));
        QFile slave(s.pty.slavePath());
        QVERIFY(slave.open(QIODevice::ReadWrite | QIODevice::Unbuffered));
        const auto speed = [&] {
            termios t{};
            return tcgetattr(slave.handle(), &t) == 0 ? int(cfgetospeed(&t)) : -1;
        };
        QCOMPARE(speed(), speedAtOpen);
        QCOMPARE(port.Settings(), std::optional<QString>(atOpen));

        QVERIFY(port.setSettings(whileOpen));
        QCOMPARE(speed(), speedWhileOpen);
        QCOMPARE(port.Settings(), std::optional<QString>(whileOpen));
    }

    void everyByteValueBothWays_data()
    {
        QTest::addColumn<bool>("rfc2217");
        QTest::newRow("rfc2217") << true;
        QTest::newRow("raw tcp") << false;
    }
    void everyByteValueBothWays()
    {
        if (!Ser2net::installed())
            QSKIP("ser2net is not installed (Debian package ser2net)");
        QFETCH(bool, rfc2217);
        ServedPty s;
        QVERIFY(s.start(m_map->path(), 6, rfc2217));
        QVERIFY(m_map->map(1, s.pty.slavePath())); // a local port beside it
        SerialControl port;
        Receiver rx;
        rx.attach(port);
        QVERIFY2(openLikeTheWindow(port, 6), qPrintable(port.lastError()));
        QVERIFY(qobject_cast<NetworkTransport *>(port.transport()));
        s.pty.readAvailable(200); // what the Telnet negotiation left on a raw port

        const QByteArray data = allByteValues() + allByteValues();
        QVERIFY(s.pty.write(data));
        QTRY_COMPARE_WITH_TIMEOUT(rx.received.size(), data.size(), 10000);
        QCOMPARE(rx.received, data);
        QCOMPARE(rx.events, data.size()); // one event per character at InputLen 1
        QVERIFY(rx.otherEvents.isEmpty());

        const QByteArray command = allByteValues() + "*IDN?\r\n";
        QVERIFY(port.setOutput(command));
        QByteArray sent;
        QTRY_COMPARE_WITH_TIMEOUT((sent += s.pty.readAvailable(0), sent), command, 10000);

        // The same router on a local port.
        QVERIFY(openLikeTheWindow(port, 1));
        QVERIFY(qobject_cast<LocalTransport *>(port.transport()));
        QCOMPARE(port.devicePath(), QFileInfo(s.pty.slavePath()).canonicalFilePath());
    }

    void serverStoppedAndBack()
    {
        if (!Ser2net::installed())
            QSKIP("ser2net is not installed (Debian package ser2net)");
        Pty pty;
        auto server = std::make_unique<Ser2net>();
        QVERIFY(server->start(pty.slavePath(), true));
        const quint16 tcpPort = server->port();
        QVERIFY(mapToUrl(m_map->path(), 6, server->url(true)));
        SerialControl port;
        Receiver rx;
        rx.attach(port);
        QSignalSpy lost(&port, &SerialControl::portLost);
        QVERIFY2(openLikeTheWindow(port, 6), qPrintable(port.lastError()));

        server.reset();
        QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 10000);
        QCOMPARE(port.PortOpen(), std::optional<bool>(false));
        const QString reason = lost.at(0).at(0).toString();
        QVERIFY2(reason.startsWith(QStringLiteral("Connection lost: ") + url(tcpPort)),
                 qPrintable(reason));
        QCOMPARE(port.lastError(), reason);
        for (int i = 0; i < 50; ++i)
            QCoreApplication::processEvents();
        QCOMPARE(lost.size(), 1);
        QVERIFY(!port.setOutput("x"));

        QVERIFY(!port.setPortOpen(true));
        QCOMPARE(port.lastError(), QStringLiteral("Connection refused: ") + url(tcpPort));

        server = std::make_unique<Ser2net>();
        QVERIFY(server->start(pty.slavePath(), true, tcpPort));
        QVERIFY2(port.setPortOpen(true), qPrintable(port.lastError()));
        QVERIFY(pty.write("back"));
        QTRY_COMPARE_WITH_TIMEOUT(rx.received, QByteArray("back"), 10000);
        QCOMPARE(lost.size(), 1);
    }

    void controlsThroughSer2net()
    {
        if (!Ser2net::installed())
            QSKIP("ser2net is not installed (Debian package ser2net)");
        ServedPty s;
        QVERIFY(s.start(m_map->path(), 6, true));
        SerialControl port;
        QVERIFY(port.setHandshaking(2)); // held while closed, applied at the open
        QVERIFY2(openLikeTheWindow(port, 6), qPrintable(port.lastError()));
        QVERIFY2(port.lastError().isEmpty(), qPrintable(port.lastError()));
        for (qint32 mode : {0, 1, 3}) {
            QVERIFY2(port.setHandshaking(mode), qPrintable(port.lastError()));
            QCOMPARE(port.Handshaking(), std::optional<qint32>(mode));
        }
        // ser2net (gensio 2.x) answers Break off with "on" after clearing it: still taken.
        for (bool on : {true, false, true, false}) {
            QVERIFY2(port.setBreak(on), qPrintable(port.lastError()));
            QCOMPARE(port.Break(), std::optional<bool>(on));
            QCOMPARE(port.PortOpen(), std::optional<bool>(true));
        }
        QCOMPARE(port.CTSHolding(), std::optional<bool>(false)); // a pty has no modem lines
        QVERIFY(port.setOutput("still here"));
        QByteArray sent;
        QTRY_COMPARE_WITH_TIMEOUT((sent += s.pty.readAvailable(0), sent), QByteArray("still here"),
                                  10000);
    }

    void openFailsWithReason_data()
    {
        // fileText: {port}: where the row's server listens
        // server: none, refuse (DONT 44), silent
        // reason: {port} and {entry} replaced
        columns<QString, QString, QString>("fileText", "server", "reason");
        QTest::newRow("garbage")
            << QStringLiteral("hello") << QStringLiteral("none")
            << QStringLiteral("Not a port URL: \"hello\"; expected rfc2217://host:port or "
                              "tcp://host:port (+tls after rfc2217 or tcp for TLS) ({entry})");
        QTest::newRow("missing port") << QStringLiteral("tcp://127.0.0.1") << QStringLiteral("none")
                                      << QStringLiteral("No port number in \"tcp://127.0.0.1\" "
                                                        "({entry})");
        QTest::newRow("port out of range")
            << QStringLiteral("rfc2217://127.0.0.1:70000") << QStringLiteral("none")
            << QStringLiteral("Port number out of range (1 to 65535) in "
                              "\"rfc2217://127.0.0.1:70000\" ({entry})");
        QTest::newRow("refused") << QStringLiteral("tcp://127.0.0.1:{port}")
                                 << QStringLiteral("free")
                                 << QStringLiteral("Connection refused: tcp://127.0.0.1:{port}");
        QTest::newRow("host not found") << QStringLiteral("rfc2217://no-such-host.invalid:2001")
                                        << QStringLiteral("none") << QStringLiteral("Host ");
        QTest::newRow("RFC 2217 refused")
            << QStringLiteral("rfc2217://127.0.0.1:{port}") << QStringLiteral("refuse")
            << QStringLiteral("No RFC 2217 offered by rfc2217://127.0.0.1:{port}: the server "
                              "refused COM-PORT-OPTION");
        QTest::newRow("no Telnet answer")
            << QStringLiteral("rfc2217://127.0.0.1:{port}") << QStringLiteral("silent")
            << QStringLiteral("No RFC 2217 offered by rfc2217://127.0.0.1:{port}: no answer to "
                              "COM-PORT-OPTION within 3 s");
    }
    void openFailsWithReason()
    {
        QFETCH(QString, fileText);
        QFETCH(QString, server);
        QFETCH(QString, reason);
        std::unique_ptr<FakeServer> fake;
        quint16 tcpPort = 0;
        if (server == u"free")
            tcpPort = Ser2net::freePort();
        else if (server != u"none") {
            fake = std::make_unique<FakeServer>(server == u"refuse" ? bytes({IAC, DONT, char(44)})
                                                                    : QByteArray());
            tcpPort = fake->port();
        }
        fileText.replace(QStringLiteral("{port}"), QString::number(tcpPort));
        reason.replace(QStringLiteral("{port}"), QString::number(tcpPort));
        reason.replace(QStringLiteral("{entry}"),
                       m_map->path() + QStringLiteral("/commtest/ports/com9"));
        QVERIFY(mapToUrl(m_map->path(), 9, fileText));
        SerialControl port;
        QVERIFY(port.setSettings(QStringLiteral("19200,n,8,1")));
        QVERIFY(port.setCommPort(9));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!port.setPortOpen(true));
        // A lookup, connect or negotiation without end would take far longer.
        QVERIFY2(clock.elapsed() < 6000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(port.lastError().startsWith(reason), qPrintable(port.lastError()));
        QCOMPARE(port.PortOpen(), std::optional<bool>(false));
        QCOMPARE(port.Settings(), std::optional<QString>(QStringLiteral("19200,n,8,1")));
    }

    void modemLinesRaiseEvents_data()
    {
        columns<int, int>("bit", "event");
        QTest::newRow("CTS") << 0x10 << int(CommEvents::Cts);
        QTest::newRow("DSR") << 0x20 << int(CommEvents::Dsr);
        QTest::newRow("CD") << 0x80 << int(CommEvents::Cd);
    }
    void modemLinesRaiseEvents()
    {
        QFETCH(int, bit);
        QFETCH(int, event);
        FakeServer fake(kAgree + comPort(bytes({char(107), char(0)})));
        QVERIFY(mapToUrl(m_map->path(), 9, url(fake.port())));
        SerialControl port;
        Receiver rx;
        rx.attach(port);
        QVERIFY2(openLikeTheWindow(port, 9), qPrintable(port.lastError()));
        QVERIFY2(port.lastError().isEmpty(), qPrintable(port.lastError()));
        const auto holding = [&] {
            return QList<bool>{*port.CTSHolding(), *port.DSRHolding(), *port.CDHolding()};
        };
        QCOMPARE(holding(), QList<bool>({false, false, false}));

        fake.send(comPort(bytes({char(107), char(bit | 0x01)})) + "x");
        QTRY_COMPARE_WITH_TIMEOUT(rx.received, QByteArray("x"), 10000);
        QCOMPARE(rx.otherEvents, QList<qint16>{qint16(event)});
        const QList<bool> expected{bit == 0x10, bit == 0x20, bit == 0x80};
        QCOMPARE(holding(), expected);

        fake.send(comPort(bytes({char(107), char(0)})) + "y");
        QTRY_COMPARE_WITH_TIMEOUT(rx.received, QByteArray("xy"), 10000);
        QCOMPARE(rx.otherEvents, QList<qint16>({qint16(event), qint16(event)}));
        QCOMPARE(holding(), QList<bool>({false, false, false}));
    }

    void unansweredRequestsFailOnlyTheWrite()
    {
        FakeServer fake(kAgree, false);
        QVERIFY(mapToUrl(m_map->path(), 9, url(fake.port())));
        SerialControl port;
        Receiver rx;
        rx.attach(port);
        QVERIFY2(openLikeTheWindow(port, 9, QStringLiteral("4800,n,8,1")),
                 qPrintable(port.lastError()));
        QVERIFY2(port.lastError().contains(
                     QStringLiteral("(no answer for baud rate, data bits, parity, stop bits)")),
                 qPrintable(port.lastError()));
        QVERIFY2(port.lastError().contains(QStringLiteral("Handshaking 0 not confirmed")),
                 qPrintable(port.lastError()));
        QVERIFY(!port.setBreak(true));
        QVERIFY2(port.lastError().startsWith(QStringLiteral("Break not supported by ") +
                                             url(fake.port()) + QStringLiteral(" (no answer")),
                 qPrintable(port.lastError()));
        QCOMPARE(port.Break(), std::optional<bool>(false));
        fake.send("ok");
        QTRY_COMPARE_WITH_TIMEOUT(rx.received, QByteArray("ok"), 10000);
        QCOMPARE(port.PortOpen(), std::optional<bool>(true));
    }

    void malformedRepliesAndFloodKeepMemoryBounded()
    {
        const QByteArray malformed =
            comPort(bytes({char(101), 0, 1})) + comPort(bytes({char(250)})) +
            comPort(QByteArray()) + comPort(bytes({char(103), char(9)})) + bytes({IAC, char(241)}) +
            comPort(bytes({char(105), char(5), char(6)}));
        FakeServer fake(kAgree + malformed);
        QVERIFY(mapToUrl(m_map->path(), 9, url(fake.port())));
        SerialControl port;
        Receiver rx;
        rx.attach(port);
        QVERIFY2(openLikeTheWindow(port, 9), qPrintable(port.lastError()));
        QVERIFY(port.setInputLen(0));

        rx.monitoring = false;
        const qint64 total = 64 << 20;
        fake.flood(total);
        // The server gets stuck once the backlog and the socket buffers are full.
        qint64 last = -1;
        QElapsedTimer clock;
        clock.start();
        while (fake.floodSent != last && clock.elapsed() < 60000) {
            last = fake.floodSent;
            QTest::qWait(500);
        }
        QVERIFY2(fake.floodSent >= SerialControl::kMaxBacklog && fake.floodSent < 64 << 20,
                 qPrintable(QString::number(fake.floodSent)));
        QCOMPARE(port.PortOpen(), std::optional<bool>(true));

        // A handler that reads again gets everything, in order.
        rx.monitoring = true;
        QTRY_COMPARE_WITH_TIMEOUT(rx.received.size(), total, 60000);
        for (qint64 i = 0; i < total; i += 4093)
            QCOMPARE(uchar(rx.received[i]), uchar(i % 251));
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    TestNetwork test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_network.moc"
