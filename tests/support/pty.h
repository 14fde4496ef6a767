#pragma once
// A pseudo-terminal pair for tests: the monitor opens the slave side as its serial device
// (through a comN link in a private configuration folder); the test drives the master side.
// A pty has no modem lines, parity or break.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

class Pty
{
public:
    Pty()
    {
        int slave = -1;
        char name[256] = {};
        if (openpty(&m_master, &slave, name, nullptr, nullptr) != 0)
            return;
        // Raw both ways, so every byte value passes unchanged.
        termios t{};
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
        ::close(slave); // the monitor opens it again by name
        m_slavePath = QString::fromLocal8Bit(name);
        fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    }
    ~Pty() { closeMaster(); }
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    bool isValid() const { return m_master >= 0; }
    int masterFd() const { return m_master; }
    QString slavePath() const { return m_slavePath; }

    // Writes all of data to the master side (the wire towards the monitor).
    bool write(const QByteArray &data, int timeoutMs = 10000)
    {
        qsizetype done = 0;
        QDeadlineTimer deadline(timeoutMs);
        while (done < data.size()) {
            const ssize_t n =
                ::write(m_master, data.constData() + done, size_t(data.size() - done));
            if (n > 0) {
                done += n;
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            if (deadline.hasExpired())
                return false;
            pollfd p{m_master, POLLOUT, 0};
            ::poll(&p, 1, 20);
        }
        return true;
    }

    // Reads what the monitor sent until at least `count` bytes arrived or the time is up.
    QByteArray read(qsizetype count, int timeoutMs = 5000)
    {
        QByteArray out;
        QDeadlineTimer deadline(timeoutMs);
        while (out.size() < count && !deadline.hasExpired()) {
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, int(std::min<qint64>(deadline.remainingTime(), 50))) > 0) {
                char buf[4096];
                const ssize_t n = ::read(m_master, buf, sizeof buf);
                if (n > 0)
                    out.append(buf, n);
            }
        }
        return out;
    }
    // Everything that is waiting now, after a short quiet period.
    QByteArray readAvailable(int quietMs = 100)
    {
        QByteArray out;
        for (;;) {
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, quietMs) <= 0)
                return out;
            char buf[4096];
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n <= 0)
                return out;
            out.append(buf, n);
        }
    }

    // Hangs up: the device vanishes for the side that has the slave open.
    void closeMaster()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

private:
    int m_master = -1;
    QString m_slavePath;
};

// A private configuration folder whose commtest/ports/comN entries point at test devices;
// while it lives, XDG_CONFIG_HOME points at it.
class PortMap
{
public:
    PortMap()
        : m_saved(qgetenv("XDG_CONFIG_HOME"))
        , m_hadValue(qEnvironmentVariableIsSet("XDG_CONFIG_HOME"))
    {
        QDir(m_dir.path()).mkpath(QStringLiteral("commtest/ports"));
        qputenv("XDG_CONFIG_HOME", m_dir.path().toLocal8Bit());
    }
    ~PortMap()
    {
        if (m_hadValue)
            qputenv("XDG_CONFIG_HOME", m_saved);
        else
            qunsetenv("XDG_CONFIG_HOME");
    }
    bool map(int port, const QString &device)
    {
        const QString entry =
            m_dir.path() + QStringLiteral("/commtest/ports/com") + QString::number(port);
        QFile::remove(entry);
        return QFile::link(device, entry);
    }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QByteArray m_saved;
    bool m_hadValue;
};

// A pty reachable as port n through a private configuration folder, or port n mapped to
// another device when one is given (then there is no pty). ok() tells that the set-up
// worked.
class PtyPort
{
public:
    explicit PtyPort(int port = 4, const QString &device = QString())
        : m_port(port)
    {
        if (device.isEmpty())
            pty = std::make_unique<Pty>();
        m_ok =
            (!pty || pty->isValid()) && map.map(port, device.isEmpty() ? pty->slavePath() : device);
    }
    bool ok() const { return m_ok; }
    // Maps the port to a new pty, as when the adapter is plugged in again.
    void replug()
    {
        pty = std::make_unique<Pty>();
        m_ok = pty->isValid() && map.map(m_port, pty->slavePath());
    }

    PortMap map;
    std::unique_ptr<Pty> pty;

private:
    int m_port;
    bool m_ok = false;
};
