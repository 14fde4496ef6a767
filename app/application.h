#pragma once
// The application object: a last guard so that an exception thrown inside any handler is
// reported to the operator instead of ending the program, and how updates reach an X server.

#include <QApplication>

#include <functional>

class Application : public QApplication
{
    Q_OBJECT
public:
    Application(int &argc, char **argv);
    // Where escaped errors go (the main window's report); stderr only until it is set.
    void setErrorReporter(std::function<void(const QString &)> reporter);
    bool notify(QObject *receiver, QEvent *event) override;

private:
    Application(int &argc, char **argv, bool setHere);
    std::function<void(const QString &)> m_reporter;
};
