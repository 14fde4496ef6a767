#pragma once
// A real ser2net on 127.0.0.1 serving a test device, for tests and benchmarks of network
// ports; and the ports-folder file that names it.

#include "support/pty.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

class Ser2net
{
public:
    static bool installed()
    {
        return !QStandardPaths::findExecutable(QStringLiteral("ser2net")).isEmpty();
    }

    // A port nobody listens on now.
    static quint16 freePort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        return probe.serverPort();
    }

    // Serves device through Telnet with RFC 2217, or as raw TCP; true once it listens.
    // options: more lines for the connection's options, each "name: value".
    // layer: a gensio layer under Telnet, e.g. TLS: "ssl(key=...,cert=...)".
    bool start(const QString &device, bool rfc2217, quint16 port = 0,
               const QStringList &options = {}, const QString &layer = {})
    {
        m_port = port ? port : freePort();
        const QString accepter = (rfc2217 ? QStringLiteral("telnet(rfc2217),") : QString()) +
                                 (layer.isEmpty() ? QString() : layer + u',') +
                                 QStringLiteral("tcp,127.0.0.1,%1");
        QFile yaml(m_dir.filePath(QStringLiteral("ser2net.yaml")));
        if (!yaml.open(QIODevice::WriteOnly))
            return false;
        yaml.write(QStringLiteral("%YAML 1.1\n---\nconnection: &test\n  accepter: %1\n"
                                  "  connector: serialdev,%2,9600n81,local\n"
                                  "  options:\n    kickolduser: true\n%3")
                       .arg(accepter.arg(m_port), device,
                            options.isEmpty()
                                ? QString()
                                : QStringLiteral("    ") + options.join(QStringLiteral("\n    ")) +
                                      QStringLiteral("\n"))
                       .toUtf8());
        yaml.close();
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("ser2net"),
                        {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-c"),
                         yaml.fileName(), QStringLiteral("-P"),
                         m_dir.filePath(QStringLiteral("ser2net.pid"))});
        if (!m_process.waitForStarted(5000))
            return false;
        const QDeadlineTimer deadline(10000);
        while (!listening()) {
            if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
                return false;
            QThread::msleep(20);
        }
        return true;
    }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }
    ~Ser2net() { stop(); }

    quint16 port() const { return m_port; }
    QString url(bool rfc2217) const
    {
        return (rfc2217 ? QStringLiteral("rfc2217://127.0.0.1:")
                        : QStringLiteral("tcp://127.0.0.1:")) +
               QString::number(m_port);
    }

private:
    // Listening on the port, seen in /proc so that no test connection reaches the device.
    bool listening() const
    {
        QFile tcp(QStringLiteral("/proc/net/tcp"));
        if (!tcp.open(QIODevice::ReadOnly))
            return false;
        const QByteArray wanted =
            "0100007F:" + QByteArray::number(m_port, 16).toUpper().rightJustified(4, '0');
        for (const QByteArray &line : tcp.readAll().split('\n')) {
            const QList<QByteArray> f = line.simplified().split(' ');
            if (f.size() > 3 && f[1] == wanted && f[3] == "0A")
                return true;
        }
        return false;
    }

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
};

// Writes a ports-folder file for port n whose first line is text (a URL, or anything).
inline bool mapToUrl(const QString &configHome, int port, const QString &text)
{
    QFile f(configHome + QStringLiteral("/commtest/ports/com") + QString::number(port));
    f.remove();
    return f.open(QIODevice::WriteOnly) && f.write(text.toUtf8() + '\n') > 0;
}

// A pty of its own served by ser2net, and port n of the ports folder at configHome naming it.
struct ServedPty
{
    Pty pty;
    Ser2net server;

    bool start(const QString &configHome, int port, bool rfc2217, const QStringList &options = {})
    {
        return pty.isValid() && server.start(pty.slavePath(), rfc2217, 0, options) &&
               mapToUrl(configHome, port, server.url(rfc2217));
    }
};
