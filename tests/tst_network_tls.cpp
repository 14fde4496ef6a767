// Network ports over TLS against a real ser2net with its ssl layer, on certificates made at
// run time: data and settings through it, and every refusal with its reason.
#include "port/networktransport.h"
#include "port/serialcontrol.h"
#include "support/certificates.h"
#include "support/fakedevicediscovery.h"
#include "support/monitor.h"
#include "support/loopback.h"
#include "support/pty.h"
#include "support/ser2net.h"
#include "support/tables.h"
#include "support/windowport.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// A TCP port that connects (the kernel's backlog) but whose server never says a word.
class SilentServer
{
public:
    SilentServer()
    {
        m_fd = listenOnLoopback(m_port);
    }
    ~SilentServer() { ::close(m_fd); }
    quint16 port() const { return m_port; }

private:
    int m_fd = -1;
    quint16 m_port = 0;
};

int outputSpeed(const QString &device)
{
    QFile f(device);
    termios t{};
    return f.open(QIODevice::ReadWrite | QIODevice::Unbuffered) && tcgetattr(f.handle(), &t) == 0
               ? int(cfgetospeed(&t))
               : -1;
}

} // namespace

class TestNetworkTls : public QObject
{
    Q_OBJECT
    PortMap *m_map = nullptr;
    TestCertificates m_certs;

    // Serves pty with certificate name (see certificates.h; empty: no TLS).
    bool serve(Ser2net &server, Pty &pty, bool rfc2217, const QString &name,
               bool clientAuth = false, quint16 port = 0)
    {
        const QStringList options =
            clientAuth ? QStringList{u"authdir: "_s + m_certs.authDir()} : QStringList{};
        return server.start(pty.slavePath(), rfc2217, port, options,
                            name.isEmpty() ? QString() : m_certs.sslLayer(name, clientAuth));
    }
    // Port n names url, with the key=value lines; "{certs}" in them is the certificates' folder.
    bool map(int n, const QString &url, const QString &lines = u"ca={certs}/ca.crt"_s)
    {
        return mapToUrl(m_map->path(), n,
                        url + u'\n' + QString(lines).replace(u"{certs}"_s, m_certs.folder()));
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!Ser2net::installed())
            QSKIP("ser2net is not installed (Debian package ser2net)");
        if (!TestCertificates::installed())
            QSKIP("openssl is not installed (Debian package openssl)");
        QVERIFY2(m_certs.make(), qPrintable(m_certs.error()));
    }
    void init() { m_map = new PortMap; }
    void cleanup() { delete m_map; }

    void everyByteValueAndSettings_data()
    {
        QTest::addColumn<bool>("rfc2217");
        QTest::newRow("rfc2217+tls") << true;
        QTest::newRow("tcp+tls") << false;
    }
    void everyByteValueAndSettings()
    {
        QFETCH(bool, rfc2217);
        Pty pty;
        Ser2net server;
        QVERIFY(serve(server, pty, rfc2217, u"server"_s));
        const QString url = (rfc2217 ? u"rfc2217+tls://localhost:"_s : u"tcp+tls://localhost:"_s) +
                            QString::number(server.port());
        QVERIFY(map(6, url));
        SerialControl port;
        Receiver rx;
        rx.attach(port);
        QVERIFY2(openLikeTheWindow(port, 6, u"19200,o,8,2"_s), qPrintable(port.lastError()));
        QVERIFY(qobject_cast<NetworkTransport *>(port.transport()));
        QCOMPARE(port.devicePath(), url);
        if (rfc2217) {
            QVERIFY2(port.lastError().isEmpty(), qPrintable(port.lastError()));
            QCOMPARE(outputSpeed(pty.slavePath()), int(B19200));
            QVERIFY(port.setSettings(u"1200,e,7,2"_s));
            QCOMPARE(outputSpeed(pty.slavePath()), int(B1200));
            QCOMPARE(port.Settings(), std::optional<QString>(u"1200,e,7,2"_s));
        }

        const QByteArray data = allByteValues() + allByteValues();
        QVERIFY(pty.write(data));
        QTRY_COMPARE_WITH_TIMEOUT(rx.received.size(), data.size(), 10000);
        QCOMPARE(rx.received, data);
        QVERIFY(rx.otherEvents.isEmpty());

        const QByteArray command = allByteValues() + "*IDN?\r\n";
        QVERIFY(port.setOutput(command));
        QByteArray sent;
        QTRY_COMPARE_WITH_TIMEOUT((sent += pty.readAvailable(0), sent), command, 10000);
    }

    void refusedWithReason_data()
    {
        // server: the certificate ser2net serves ("auth:" first: it asks the client for
        // one), "plain" for Telnet in clear, "silent" for a server that never answers
        // reason: the start of port.lastError(), {url} replaced; empty: the port opens
        columns<QString, QString, QString>("server", "lines", "reason");
        const QString refused = u"TLS refused for {url}: "_s;
        const QString ca = u"ca={certs}/ca.crt"_s;
        QTest::newRow("untrusted CA") << u"server"_s << u"ca={certs}/other-ca.crt"_s
                                      << refused + u"untrusted issuer (commtest test CA)"_s;
        QTest::newRow("system's trust only")
            << u"server"_s << QString() << refused + u"untrusted issuer"_s;
        QTest::newRow("wrong host")
            << u"wrong-host"_s << ca
            << refused + u"wrong host (the certificate is for elsewhere.invalid, not localhost)"_s;
        QTest::newRow("expired") << u"expired"_s << ca
                                 << refused + u"certificate expired (on 2020-02-01 00:00 UTC)"_s;
        QTest::newRow("plain server")
            << u"plain"_s << ca << u"No TLS on the server at {url}: it answered in clear"_s;
        QTest::newRow("silent server")
            << u"silent"_s << ca << u"No TLS on the server at {url}: no TLS answer within 3 s"_s;
        QTest::newRow("self-signed, itself as ca=")
            << u"self-signed"_s << u"ca={certs}/self-signed.crt"_s << QString();
        QTest::newRow("client key not the certificate's")
            << u"server"_s << ca + u"\ncert={certs}/client.crt\nkey={certs}/server.key"_s
            << u"TLS handshake failed with {url}: the client certificate and key were refused"_s;
        QTest::newRow("ca= file missing") << u"server"_s << u"ca={certs}/none.crt"_s
                                          << u"Cannot read ca= file {certs}/none.crt"_s;
        QTest::newRow("client certificate required, none given")
            << u"auth:server"_s << ca
            << refused + u"the server closed the connection after the handshake; it may require "
                         "a client certificate"_s;
        QTest::newRow("client certificate not allowed")
            << u"auth:server"_s << ca + u"\ncert={certs}/wrong-host.crt\nkey={certs}/server.key"_s
            << refused + u"the server closed the connection after the handshake; it may not "
                         "accept the client certificate"_s;
        QTest::newRow("client certificate required and given")
            << u"auth:server"_s << ca + u"\ncert={certs}/client.crt\nkey={certs}/client.key"_s
            << QString();
    }
    void refusedWithReason()
    {
        QFETCH(QString, server);
        QFETCH(QString, lines);
        QFETCH(QString, reason);
        Pty pty;
        Ser2net ser2net;
        SilentServer silent;
        quint16 tcpPort = silent.port();
        if (server != u"silent") {
            const bool clientAuth = server.startsWith(u"auth:");
            QVERIFY(serve(ser2net, pty, true,
                          server == u"plain" ? QString() : server.section(u':', -1), clientAuth));
            tcpPort = ser2net.port();
        }
        const QString url = u"rfc2217+tls://localhost:"_s + QString::number(tcpPort);
        QVERIFY(map(9, url, lines));
        reason.replace(u"{url}"_s, url).replace(u"{certs}"_s, m_certs.folder());

        SerialControl port;
        QElapsedTimer clock;
        clock.start();
        const bool opened = openLikeTheWindow(port, 9);
        // The transport gives up at its 3 s deadline; only a hang would come near this.
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(opened, reason.isEmpty());
        QCOMPARE(port.PortOpen(), std::optional<bool>(opened));
        QVERIFY2(port.lastError().startsWith(reason), qPrintable(port.lastError()));
        if (!opened)
            return;
        QVERIFY(port.setOutput("through"));
        QByteArray sent;
        QTRY_COMPARE_WITH_TIMEOUT((sent += pty.readAvailable(0), sent), QByteArray("through"),
                                  10000);
    }

    // A server whose certificate changed between two opens is verified again.
    void verifiedAgainAtReopen()
    {
        Pty pty;
        auto server = std::make_unique<Ser2net>();
        QVERIFY(serve(*server, pty, true, u"server"_s));
        const quint16 tcpPort = server->port();
        const QString url = u"rfc2217+tls://localhost:"_s + QString::number(tcpPort);
        QVERIFY(map(6, url));
        SerialControl port;
        QVERIFY2(openLikeTheWindow(port, 6), qPrintable(port.lastError()));
        QVERIFY(port.setPortOpen(false));
        server = std::make_unique<Ser2net>();
        QVERIFY(serve(*server, pty, true, u"expired"_s, false, tcpPort));
        QVERIFY(!port.setPortOpen(true));
        QVERIFY2(
            port.lastError().startsWith(u"TLS refused for "_s + url + u": certificate expired"_s),
            qPrintable(port.lastError()));
        QCOMPARE(port.PortOpen(), std::optional<bool>(false));
    }

    // The window shows a refusal as any other failed open: PortOpen False, the reason on
    // the port box.
    void windowShowsTheRefusal()
    {
        Pty pty;
        Ser2net server;
        QVERIFY(serve(server, pty, true, u"wrong-host"_s));
        QVERIFY(map(4, u"rfc2217+tls://localhost:"_s + QString::number(server.port())));
        Monitor w(std::make_unique<SerialControl>());
        w.form->setDeviceDiscovery(std::make_unique<FakeDeviceDiscovery>());
        QCOMPARE(w.val(2), u"False"_s);
        const QString tip = w.child<QComboBox>("cbo_Port")->toolTip();
        QVERIFY2(tip.contains(u"wrong host (the certificate is for elsewhere.invalid"_s),
                 qPrintable(tip));
    }
};

QTEST_MAIN(TestNetworkTls)
#include "tst_network_tls.moc"
