#include "app/application.h"

#include <cstdio>
#include <exception>

Application::Application(int &argc, char **argv)
    : QApplication(argc, argv)
{
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
