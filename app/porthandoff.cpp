#include "app/porthandoff.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t g_writeFd = -1;

extern "C" void onHandOffSignal(int signal)
{
    // Async-signal-safe only: one write, errno kept for the code that was interrupted. A
    // full socket drops the byte; the requests already queued say the same.
    const int saved = errno;
    const unsigned char code = static_cast<unsigned char>(signal);
    if (g_writeFd >= 0)
        (void)::write(g_writeFd, &code, 1);
    errno = saved;
}

QString errnoText(const char *what)
{
    return QStringLiteral("Port hand-off signals not available: %1: %2")
        .arg(QString::fromLatin1(what), QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

PortHandOff::PortHandOff(QObject *parent)
    : QObject(parent)
{
    if (g_writeFd >= 0) {
        m_error = QStringLiteral("Port hand-off signals are already handled in this process");
        return;
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, m_fds) != 0) {
        m_error = errnoText("socketpair");
        m_fds[0] = m_fds[1] = -1;
        return;
    }
    m_notifier = new QSocketNotifier(m_fds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &PortHandOff::readSignals);
    g_writeFd = m_fds[1];
    struct sigaction action
    {};
    action.sa_handler = onHandOffSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART; // no EINTR for the blocking calls the program makes
    for (int signal : {SIGUSR1, SIGUSR2}) {
        if (::sigaction(signal, &action, nullptr) != 0) {
            m_error = errnoText("sigaction");
            return;
        }
    }
}

PortHandOff::~PortHandOff()
{
    if (m_fds[0] < 0)
        return;
    if (g_writeFd == m_fds[1]) {
        struct sigaction action
        {};
        action.sa_handler = SIG_DFL;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGUSR1, &action, nullptr);
        ::sigaction(SIGUSR2, &action, nullptr);
        g_writeFd = -1;
    }
    ::close(m_fds[0]);
    ::close(m_fds[1]);
}

void PortHandOff::readSignals()
{
    unsigned char codes[64];
    ssize_t n = 0;
    while ((n = ::read(m_fds[0], codes, sizeof codes)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            if (codes[i] == SIGUSR2)
                Q_EMIT releaseRequested();
            else if (codes[i] == SIGUSR1)
                Q_EMIT retakeRequested();
        }
    }
}
