#pragma once
// Sends a file's bytes raw through the serial control, a chunk at a time as the port takes
// them, from short timer ticks: the window keeps handling events, and no more of the file
// is in memory than the port may hold for about a tenth of a second.
//
//   timer tick --> OutBufferCount --> SendPacing --> FileChunkReader::read --> setOutput

#include "transmit/filetransfer.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <deque>
#include <utility>

class SerialControl;

class FileSender : public QObject
{
    Q_OBJECT
public:
    enum class Outcome {
        Done,    // every byte left the window
        Stopped, // by the operator: Cancel, a port pick, Reset Comm, the window closing
        Failed,  // by a fault of the port or the file; the operator is to be told
    };
    Q_ENUM(Outcome)

    static constexpr int kTickMs = 2;

    explicit FileSender(SerialControl *port, QObject *parent = nullptr);

    // Starts sending the file; false (error() says why) when it cannot be sent at all.
    bool start(const QString &path);
    QString error() const { return m_reader.error(); }
    bool isRunning() const { return m_running; }

    // Stops at once. by: what stopped it, for the final text. A stop by the operator lets
    // what the port holds go out; portGone: the port lost what it held.
    void stop(Outcome outcome, const QString &by, bool portGone = false);

    QString fileName() const { return m_reader.fileName(); }
    qint64 total() const { return m_reader.size(); }
    // Bytes that have left the window (handed to the port, less what it still holds).
    qint64 sent() const { return m_sent; }
    // Bytes per second over about the last two seconds; 0 while the port takes nothing.
    double rate() const;
    // What the operator reads at the end: how many bytes went, and why it stopped.
    QString outcomeText() const { return m_outcomeText; }

Q_SIGNALS:
    // At most every 100 ms while sending.
    void progressed();
    void finished(FileSender::Outcome outcome, const QString &text);

private:
    void pump();

    SerialControl *m_port;
    FileChunkReader m_reader;
    SendPacing m_pacing;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_lastProgressMs = 0;
    std::deque<std::pair<qint64, qint64>> m_samples; // (ms, sent) at each progress report
    qint64 m_handed = 0;
    qint64 m_sent = 0;
    bool m_running = false;
    QString m_outcomeText;
};
