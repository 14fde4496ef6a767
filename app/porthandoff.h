#pragma once
// Lending the port to another program (a flashing tool) on a signal, as other serial
// terminals do:
//
//   SIGUSR2 / SIGUSR1 --handler writes one byte--> socket pair --QSocketNotifier-->
//   releaseRequested() / retakeRequested() in the event loop
//
// The handler itself only writes to the socket; everything else runs as an ordinary
// event, in the order the signals came. One hand-off at a time in a process: the handlers
// are process-wide.

#include <QObject>
#include <QString>

class QSocketNotifier;

class PortHandOff : public QObject
{
    Q_OBJECT
public:
    // Installs the handlers; error() says why when it could not.
    explicit PortHandOff(QObject *parent = nullptr);
    // Puts the default actions back.
    ~PortHandOff() override;

    // Empty when the signals are handled.
    QString error() const { return m_error; }

Q_SIGNALS:
    void releaseRequested(); // SIGUSR2
    void retakeRequested();  // SIGUSR1

private:
    void readSignals();

    int m_fds[2] = {-1, -1}; // [0] read here, [1] written by the handler
    QSocketNotifier *m_notifier = nullptr;
    QString m_error;
};
