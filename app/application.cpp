#include "app/application.h"

#include <cstdio>
#include <exception>

namespace {

const char *const kNoShm = "QT_XCB_NO_MITSHM";

// On X the window puts its updates on the server straight, not through shared memory: with
// shared memory every paint first waits for the server to have read the last one (a round
// trip), and at a line rate each update is a few rows, so that wait is most of what putting
// it costs. A flood's full repaints cost the same either way. COMMTEST_XCB_SHM=1, or the
// variable already set, leaves Qt's choice alone. Returns whether it was set here.
bool choosePlainPuts()
{
    if (qEnvironmentVariableIsSet(kNoShm) || qEnvironmentVariableIntValue("COMMTEST_XCB_SHM"))
        return false;
    qputenv(kNoShm, "1");
    return true;
}

// Runs before QApplication's constructor, which connects to the display.
int &beforeDisplay(int &argc, bool &setHere)
{
    setHere = choosePlainPuts();
    return argc;
}

} // namespace

Application::Application(int &argc, char **argv)
    : Application(argc, argv, false)
{
}

Application::Application(int &argc, char **argv, bool setHere)
    : QApplication(beforeDisplay(argc, setHere), argv)
{
    // Programs started from here (a browser for a link) keep the display's default.
    if (setHere)
        qunsetenv(kNoShm);
    // No display name: Qt would append it to every window title ("Form1 — commtest"), and
    // the window manager must show the captions as they are. Message boxes name the
    // program in their own title.
    setApplicationName(QStringLiteral("commtest"));
}

void Application::setErrorReporter(std::function<void(const QString &)> reporter)
{
    m_reporter = std::move(reporter);
}

bool Application::notify(QObject *receiver, QEvent *event)
{
    // Our code reports errors as values; this only catches what a library throws (e.g.
    // std::bad_alloc), so one failed handler leaves the window usable.
    QString what;
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &e) {
        what = QString::fromLocal8Bit(e.what());
    } catch (...) {
        what = QStringLiteral("unknown error");
    }
    const QString text = QStringLiteral("An operation failed and was abandoned: ") + what;
    std::fprintf(stderr, "commtest: %s\n", qPrintable(text));
    if (m_reporter)
        m_reporter(text);
    return false;
}
