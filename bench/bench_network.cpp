// Receive rate of a network port through a real ser2net beside the local pty rate, in the
// same run and the same way the window reads: one OnComm and one character per event.
//
//   writer thread --pty--> SerialControl                          (local)
//   writer thread --pty--> ser2net --TCP--> SerialControl          (rfc2217://, tcp://)
//   writer thread --pty--> ser2net --TCP--> plain socket reader    (what ser2net delivers)
//   sender thread --TCP--> SerialControl                           (the client alone)
//
// Prints characters per second for each path, whether every byte arrived in order, and
// each network rate as a share of the local one (goal: at least one half). The plain
// reader shows how fast ser2net itself forwards a pty on this machine. ser2net runs twice:
// as installed (64-byte device buffer) and with a 64 KiB one. Each ser2net path runs again
// over TLS (rfc2217+tls://, tcp+tls://, certificates made with openssl), printed beside
// the same path in clear (goal with the 64 KiB buffer: TLS at least 80% of it).
//
// Usage: bench_network [megabytes per path, default 32]

#include "port/networktransport.h"
#include "port/serialcontrol.h"
#include "support/certificates.h"
#include "support/loopback.h"
#include "support/pty.h"
#include "support/ser2net.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <QTcpSocket>

#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>

namespace {

char patternAt(qsizetype i)
{
    return char((i * 131 + i / 256) & 0xff);
}

// Sends the pattern over TCP from its own thread: the client's receive path without
// ser2net. For Telnet it offers COM-PORT-OPTION and doubles byte 255.
class TcpSender
{
public:
    explicit TcpSender(bool telnet)
        : m_telnet(telnet)
    {
        m_listen = listenOnLoopback(m_port, 1);
        m_thread = std::thread([this] {
            m_fd = ::accept(m_listen, nullptr, nullptr);
            if (m_telnet)
                sendAll("\xff\xfd\x2c", 3);
        });
    }
    ~TcpSender()
    {
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_fd);
        ::close(m_listen);
    }
    quint16 port() const { return m_port; }
    // From one writer thread. A raw client counts as open once the kernel has connected it,
    // which can be before accept() has returned here.
    bool write(const QByteArray &chunk)
    {
        if (m_thread.joinable())
            m_thread.join();
        if (!m_telnet)
            return sendAll(chunk.constData(), chunk.size());
        QByteArray doubled = chunk;
        doubled.replace("\xff", "\xff\xff");
        return sendAll(doubled.constData(), doubled.size());
    }

private:
    bool sendAll(const char *data, qsizetype size)
    {
        for (qsizetype done = 0; done < size;) {
            const ssize_t n = ::send(m_fd, data + done, size_t(size - done), MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
    }
    bool m_telnet;
    int m_listen = -1;
    int m_fd = -1;
    quint16 m_port = 0;
    std::thread m_thread;
};

using Writer = std::function<bool(const QByteArray &)>;

// Characters per second that reach read(), or a negative value when the run failed.
double measure(const Writer &write, qsizetype total, const char *name,
               const std::function<void(qsizetype &, bool &)> &hookUp)
{
    qsizetype received = 0;
    bool inOrder = true;
    hookUp(received, inOrder);
    std::atomic<bool> writeOk{true};
    QElapsedTimer clock;
    clock.start();
    std::thread writer([&] {
        QByteArray chunk(1 << 16, '\0');
        for (qsizetype sent = 0; sent < total && writeOk; sent += chunk.size()) {
            for (qsizetype i = 0; i < chunk.size(); ++i)
                chunk[i] = patternAt(sent + i);
            writeOk = write(chunk);
        }
    });
    // Gives up when nothing arrives for 10 s.
    QElapsedTimer quiet;
    quiet.start();
    for (qsizetype last = 0; received < total && !quiet.hasExpired(10000);) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (received != last) {
            last = received;
            quiet.restart();
        }
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    writer.join();
    const bool complete = received == total && inOrder;
    std::printf("%-22s %lld characters in %.2f s: %6.2f M characters/s, %s\n", name,
                qlonglong(received), seconds, received / seconds / 1e6,
                complete ? "all in order" : "INCOMPLETE OR OUT OF ORDER");
    return complete ? received / seconds : -1;
}

// The same through a serial control on port 1, read as the window reads.
double receiveRate(SerialControl &port, const Writer &write, qsizetype total, const char *name)
{
    port.setSettings(QStringLiteral("115200,n,8,1"));
    port.setCommPort(1);
    port.setInputLen(1);
    if (!port.setPortOpen(true)) {
        std::printf("%-22s cannot open: %s\n", name, qPrintable(port.lastError()));
        return -1;
    }
    const double rate = measure(write, total, name, [&](qsizetype &received, bool &inOrder) {
        QObject::connect(&port, &SerialControl::OnComm, &port, [&] {
            const QByteArray in = port.Input().value_or(QByteArray());
            for (char c : in)
                inOrder = inOrder && c == patternAt(received++);
        });
    });
    if (rate < 0)
        std::printf("%-22s port open: %d, last error: %s\n", name,
                    int(port.PortOpen().value_or(false)), qPrintable(port.lastError()));
    port.setPortOpen(false);
    return rate;
}

void printShare(const char *name, double rate, double local)
{
    if (rate > 0 && local > 0)
        std::printf("%-22s %.0f%% of the local rate (goal: at least 50%%)\n", name,
                    100 * rate / local);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const qsizetype megabytes =
        argc > 1 && QByteArray(argv[1]).toLongLong() > 0 ? QByteArray(argv[1]).toLongLong() : 32;
    const qsizetype total = megabytes << 20;
    if (!Ser2net::installed()) {
        std::printf("ser2net is not installed (Debian package ser2net)\n");
        return 1;
    }
    double local = -1;
    {
        PtyPort device(1);
        SerialControl port;
        if (device.ok())
            local = receiveRate(
                port, [&](const QByteArray &c) { return device.pty->write(c, 60000); }, total,
                "local pty");
    }
    bool ok = local > 0;
    for (const bool rfc2217 : {true, false}) {
        const char *name = rfc2217 ? "client alone, rfc2217" : "client alone, raw tcp";
        TcpSender sender(rfc2217);
        PortMap map;
        SerialControl port;
        mapToUrl(map.path(), 1,
                 (rfc2217 ? QStringLiteral("rfc2217://127.0.0.1:")
                          : QStringLiteral("tcp://127.0.0.1:")) +
                     QString::number(sender.port()));
        const double rate = receiveRate(
            port, [&](const QByteArray &c) { return sender.write(c); }, total, name);
        printShare(name, rate, local);
        ok = ok && rate > 0;
    }
    TestCertificates certificates;
    const bool tls = TestCertificates::installed() && certificates.make();
    if (!tls)
        std::printf("TLS not measured: %s\n", TestCertificates::installed()
                                                  ? qPrintable(certificates.error())
                                                  : "openssl is not installed");
    // ser2net reads the device 64 bytes at a time unless told otherwise; a server set up for
    // speed has a larger buffer. Both are measured.
    const QList<std::pair<const char *, QStringList>> configs = {
        {"default buffer", {}},
        {"dev-to-net-bufsize 65536", {QStringLiteral("dev-to-net-bufsize: 65536")}}};
    for (const auto &[config, options] : configs) {
        std::printf("ser2net with %s:\n", config);
        for (const bool rfc2217 : {true, false}) {
            PortMap map;
            ServedPty served;
            SerialControl port;
            const char *name = rfc2217 ? "ser2net, rfc2217" : "ser2net, raw tcp";
            if (!served.start(map.path(), 1, rfc2217, options)) {
                std::printf("%-22s ser2net did not start\n", name);
                ok = false;
                continue;
            }
            const auto write = [&](const QByteArray &c) { return served.pty.write(c, 60000); };
            const double rate = receiveRate(port, write, total, name);
            printShare(name, rate, local);
            ok = ok && rate > 0;
            if (tls) {
                const char *tlsName = rfc2217 ? "ser2net, rfc2217+tls" : "ser2net, tcp+tls";
                Pty pty;
                Ser2net server;
                const double tlsRate =
                    server.start(pty.slavePath(), rfc2217, 0, options,
                                 certificates.sslLayer(QStringLiteral("server"))) &&
                            mapToUrl(map.path(), 1,
                                     (rfc2217 ? QStringLiteral("rfc2217+tls://localhost:")
                                              : QStringLiteral("tcp+tls://localhost:")) +
                                         QString::number(server.port()) + QStringLiteral("\nca=") +
                                         certificates.path(QStringLiteral("ca.crt")))
                        ? receiveRate(
                              port, [&](const QByteArray &c) { return pty.write(c, 60000); }, total,
                              tlsName)
                        : -1;
                printShare(tlsName, tlsRate, local);
                if (tlsRate > 0 && rate > 0)
                    std::printf("%-22s %.0f%% of the rate in clear (goal with the 64 KiB "
                                "buffer: at least 80%%)\n",
                                tlsName, 100 * tlsRate / rate);
                ok = ok && tlsRate > 0;
            }
            if (rfc2217)
                continue;
            // ser2net's own ceiling: the same stream into a socket that only counts.
            QTcpSocket plain;
            plain.connectToHost(QHostAddress::LocalHost, served.server.port());
            if (!plain.waitForConnected(5000))
                continue;
            served.pty.readAvailable(100);
            measure(write, total, "ser2net, plain reader", [&](qsizetype &received, bool &inOrder) {
                QObject::connect(&plain, &QTcpSocket::readyRead, &plain, [&] {
                    for (char c : plain.readAll())
                        inOrder = inOrder && c == patternAt(received++);
                });
            });
        }
    }
    return ok ? 0 : 1;
}
