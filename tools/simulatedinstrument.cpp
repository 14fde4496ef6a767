#include "tools/simulatedinstrument.h"

#include "tools/commandresponder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

int s_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(s_signalPipe[1], &c, 1);
}

bool installSignals()
{
    if (s_signalPipe[0] < 0 && ::pipe2(s_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction sa
    {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaction(sig, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

qint64 nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

QString systemError(const char *what)
{
    return QString::fromLatin1(what) + QStringLiteral(": ") +
           QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

SimulatedInstrument::SimulatedInstrument(SimOptions options)
    : m_options(std::move(options))
{}

SimulatedInstrument::~SimulatedInstrument()
{
    closePty();
    removeLink();
    if (m_log >= 0)
        ::close(m_log);
}

bool SimulatedInstrument::open()
{
    // Before anyone learns the device path, so an early SIGTERM still ends cleanly.
    if (!installSignals()) {
        m_error = systemError("cannot watch for signals");
        return false;
    }
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_error = systemError("cannot open a pseudo-terminal");
        return false;
    }
    // Raw, so every byte value passes unchanged and nothing is echoed back.
    termios t{};
    tcgetattr(m_slave, &t);
    cfmakeraw(&t);
    tcsetattr(m_slave, TCSANOW, &t);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    m_slavePath = QString::fromLocal8Bit(name);

    if (!m_options.logPath.isEmpty()) {
        m_log = ::open(QFile::encodeName(m_options.logPath).constData(),
                       O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (m_log < 0) {
            m_error = systemError("cannot create the log") + QStringLiteral(" (") +
                      m_options.logPath + u')';
            return false;
        }
    }
    return m_options.linkPath.isEmpty() || placeLink();
}

bool SimulatedInstrument::placeLink()
{
    const QString &link = m_options.linkPath;
    const QFileInfo info(link);
    if (info.isSymLink()) {
        if (info.exists()) {
            m_error = link + QStringLiteral(" already points at ") + info.symLinkTarget() +
                      QStringLiteral("; remove it first, or choose another port");
            return false;
        }
        // A dangling link: left behind by an instrument or adapter that is gone.
        QFile::remove(link);
    } else if (info.exists()) {
        m_error = link +
                  QStringLiteral(
                      " already exists and is not a link; remove it first, or choose another port");
        return false;
    }
    if (!QDir().mkpath(info.absolutePath())) {
        m_error = QStringLiteral("cannot create the folder ") + info.absolutePath();
        return false;
    }
    if (!QFile::link(m_slavePath, link)) {
        m_error = QStringLiteral("cannot create the link ") + link;
        return false;
    }
    m_linkPlaced = true;
    return true;
}

void SimulatedInstrument::removeLink()
{
    // Only our own link: someone may have replaced it meanwhile.
    if (m_linkPlaced && QFileInfo(m_options.linkPath).symLinkTarget() == m_slavePath)
        QFile::remove(m_options.linkPath);
    m_linkPlaced = false;
}

void SimulatedInstrument::closePty()
{
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    m_master = m_slave = -1;
}

bool SimulatedInstrument::logSent(const char *data, qsizetype size)
{
    if (m_log < 0)
        return true;
    while (size > 0) {
        const ssize_t n = ::write(m_log, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_error = systemError("cannot write the log") + QStringLiteral(" (") +
                      m_options.logPath + u')';
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

void SimulatedInstrument::waitUntilTaken(int timeoutMs)
{
    // A hang-up discards what the reader has not taken yet; give it the chance to.
    const qint64 end = nowMs() + timeoutMs;
    int emptyChecks = 0;
    while (nowMs() < end && emptyChecks < 3) {
        int waiting = 0;
        if (::ioctl(m_slave, TIOCINQ, &waiting) != 0)
            return;
        emptyChecks = waiting == 0 ? emptyChecks + 1 : 0;
        pollfd p{s_signalPipe[0], POLLIN, 0};
        if (::poll(&p, 1, 20) > 0)
            return;
    }
}

int SimulatedInstrument::run()
{
    const SimOptions &o = m_options;
    FrameGenerator frames(o.profile, o.seed, o.binary);
    CommandResponder responder(o.profile, o.seed);
    std::deque<QByteArray> answers;
    QByteArray current; // the unit being sent: a frame or an answer, never interleaved
    qsizetype done = 0;
    bool currentIsFrame = false;
    qint64 framesSent = 0;
    qint64 nextFrameAt = nowMs();
    qint64 paceStart = 0;
    qint64 paced = 0;
    qint64 lastInputAt = 0;
    bool writeBlocked = false;

    const auto framesLeft = [&] {
        return (o.count < 0 || framesSent < o.count) &&
               (o.hangupAfter < 0 || framesSent < o.hangupAfter);
    };
    const auto finished = [&] {
        return (o.hangupAfter >= 0 && framesSent >= o.hangupAfter) ||
               (o.exitAfterCount && o.count >= 0 && framesSent >= o.count);
    };

    for (;;) {
        qint64 t = nowMs();
        if (current.isEmpty()) {
            if (!answers.empty()) {
                current = answers.front();
                answers.pop_front();
                currentIsFrame = false;
            } else if (framesLeft() && t >= nextFrameAt) {
                current = frames.next();
                currentIsFrame = true;
            } else if (finished()) {
                waitUntilTaken(3000);
                if (o.hangupAfter >= 0 && framesSent >= o.hangupAfter)
                    closePty();
                return 0;
            }
            done = 0;
            // Keep the pace across back-to-back units; start afresh after a pause.
            if (o.rate > 0 && t > paceStart + paced * 1000 / o.rate + 5) {
                paceStart = t;
                paced = 0;
            }
        }

        qint64 allowed = 0;
        if (!current.isEmpty()) {
            allowed = current.size() - done;
            if (o.rate > 0)
                allowed = std::min(allowed, (t - paceStart) * o.rate / 1000 + 1 - paced);
            if (allowed > 0) {
                const ssize_t n = ::write(m_master, current.constData() + done, size_t(allowed));
                if (n > 0) {
                    if (!logSent(current.constData() + done, n))
                        return 1;
                    done += n;
                    paced += n;
                    writeBlocked = false;
                    if (done == current.size()) {
                        if (currentIsFrame) {
                            ++framesSent;
                            nextFrameAt = nowMs() + o.intervalMs;
                        }
                        current.clear();
                    }
                } else if (n < 0 && errno == EAGAIN) {
                    writeBlocked = true;
                } else if (n < 0 && errno != EINTR) {
                    m_error = systemError("cannot write to the pseudo-terminal");
                    return 1;
                }
            }
        }

        t = nowMs();
        qint64 timeout = -1;
        const auto wakeAt = [&](qint64 at) {
            const qint64 d = std::max<qint64>(0, at - t);
            timeout = timeout < 0 ? d : std::min(timeout, d);
        };
        short masterEvents = POLLIN;
        if (!current.isEmpty()) {
            if (writeBlocked)
                masterEvents |= POLLOUT;
            else if (o.rate > 0 && (t - paceStart) * o.rate / 1000 + 1 - paced <= 0)
                wakeAt(paceStart + (paced * 1000 + o.rate - 1) / o.rate); // the next byte's turn
            else
                wakeAt(t);
        } else if (!answers.empty() || finished()) {
            wakeAt(t);
        } else if (framesLeft()) {
            wakeAt(nextFrameAt);
        }
        if (responder.pending())
            wakeAt(lastInputAt + o.quietMs);

        pollfd fds[2] = {{m_master, masterEvents, 0}, {s_signalPipe[0], POLLIN, 0}};
        const int ready = ::poll(fds, 2, int(std::min<qint64>(timeout, 60000)));
        if (ready < 0 && errno != EINTR) {
            m_error = systemError("cannot wait for the pseudo-terminal");
            return 1;
        }
        if (fds[1].revents & POLLIN)
            return 0;
        if (fds[0].revents & POLLIN) {
            char buf[4096];
            for (;;) {
                const ssize_t n = ::read(m_master, buf, sizeof buf);
                if (n <= 0)
                    break;
                lastInputAt = nowMs();
                for (QByteArray &a : responder.feed(QByteArrayView(buf, n)))
                    answers.push_back(std::move(a));
            }
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            // Not expected while we hold the slave side; do not spin if it happens.
            ::poll(fds + 1, 1, 20);
        }
        if (responder.pending() && nowMs() - lastInputAt >= o.quietMs) {
            for (QByteArray &a : responder.quiet())
                answers.push_back(std::move(a));
        }
    }
}
