#pragma once
// Shared pieces of the fault suite: the whole monitor (window, real serial layer over a
// pty, capture through the window's set-up) and the instruments to watch it.
//
//   test --Pty master (WireWriter thread)--> SerialControl --> Form_Comm --> capture file
//                                                              TickWatch: longest event-loop gap
//                                                              StderrTap: errors reported
//
// Each test prints one line REPORT|fault|checked|PASS or FAIL|sent|captured|lost|note on
// stdout, which tools/reliability-report collects into a table.

#include "port/serialcontrol.h"
#include "receive/lineview.h"
#include "support/files.h"
#include "support/modalwatcher.h"
#include "support/monitor.h"
#include "support/pty.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace reliability {

// A numbered frame of the standard profile: "F<n>:<payload>\r".
inline QByteArray numberedFrame(int n, int payload = 24)
{
    QByteArray f = "F" + QByteArray::number(n) + ':';
    for (int i = 0; i < payload; ++i)
        f += char('a' + (n + i) % 26);
    return f + '\r';
}

// "<fault> (<data row>)": the fault as the row being run names it.
inline QString ofRow(const char *fault)
{
    return QStringLiteral("%1 (%2)").arg(QString::fromUtf8(fault),
                                         QString::fromUtf8(QTest::currentDataTag()));
}

// Prints the test's REPORT line when the test function ends, however it ends: PASS only
// when no check of the function failed.
class Report
{
public:
    Report(QString fault, QString checked)
        : m_fault(std::move(fault))
        , m_checked(std::move(checked))
    {}
    ~Report()
    {
        const bool pass = !QTest::currentTestFailed();
        const QString line =
            QStringLiteral("REPORT|%1|%2|%3|%4|%5|%6|%7\n")
                .arg(m_fault, m_checked, pass ? QStringLiteral("PASS") : QStringLiteral("FAIL"),
                     number(sent), number(captured), number(lost), note);
        std::fputs(line.toUtf8().constData(), stdout);
        std::fflush(stdout);
    }
    Report(const Report &) = delete;
    Report &operator=(const Report &) = delete;

    qint64 sent = -1;
    qint64 captured = -1;
    qint64 lost = -1;
    QString note;

private:
    static QString number(qint64 n) { return n < 0 ? QStringLiteral("-") : QString::number(n); }
    QString m_fault;
    QString m_checked;
};

// A hang detector: the longest time the event loop went without running a 20 ms timer.
//
// A gap counts as a stall only when it is longer than kStallFloorMs and longer than a third
// of all the time watched. A monitor that works through a whole stream or a storm of errors
// in one event stops for nearly all of the run; one that is only slow (a sanitizer, a busy
// machine, many fonts to fall back on) stops for a small share of it, however slow each
// event is. A test that runs the program synchronously in a loop watches each step on its
// own (restart() before, stalled() after), so the loop does not count as one long event.
class TickWatch : public QObject
{
public:
    static constexpr qint64 kStallFloorMs = 2000;

    TickWatch()
    {
        m_timer.setInterval(20);
        connect(&m_timer, &QTimer::timeout, this,
                [this] { m_longest = std::max(m_longest, m_last.restart()); });
        restart();
    }
    void restart()
    {
        m_watched.start();
        m_last.start();
        m_longest = 0;
        m_stoppedAtMs = -1;
        m_timer.start();
    }
    // Ends the watch, so that the test's own checks after it do not count.
    void stop()
    {
        m_longest = longestGapMs();
        m_stoppedAtMs = m_watched.elapsed();
        m_timer.stop();
    }
    // Counts the time since the last tick too, so a hang in progress is not missed.
    qint64 longestGapMs() const
    {
        return m_stoppedAtMs < 0 ? std::max(m_longest, m_last.elapsed()) : m_longest;
    }
    qint64 watchedMs() const { return m_stoppedAtMs < 0 ? m_watched.elapsed() : m_stoppedAtMs; }
    bool stalled() const
    {
        const qint64 gap = longestGapMs();
        return gap > kStallFloorMs && gap * 3 > watchedMs();
    }
    QByteArray describe() const
    {
        return QStringLiteral("longest gap %1 ms of %2 ms watched")
            .arg(longestGapMs())
            .arg(watchedMs())
            .toUtf8();
    }

private:
    QTimer m_timer;
    QElapsedTimer m_watched;
    QElapsedTimer m_last;
    qint64 m_longest = 0;
    qint64 m_stoppedAtMs = -1;
};

// Catches what the program writes to stderr (reportError prints every error there) in a
// file, for counting reports.
class StderrTap
{
public:
    StderrTap()
    {
        char name[] = "/tmp/tst_reliability_stderr_XXXXXX";
        m_fd = ::mkstemp(name);
        m_path = QString::fromLocal8Bit(name);
        std::fflush(stderr);
        m_saved = ::dup(2);
        if (m_fd >= 0)
            ::dup2(m_fd, 2);
    }
    ~StderrTap()
    {
        std::fflush(stderr);
        if (m_saved >= 0) {
            ::dup2(m_saved, 2);
            ::close(m_saved);
        }
        // Shown after the test, so the errors stay visible in the log.
        const QByteArray text = this->text();
        std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
        if (m_fd >= 0)
            ::close(m_fd);
        QFile::remove(m_path);
    }
    StderrTap(const StderrTap &) = delete;
    StderrTap &operator=(const StderrTap &) = delete;

    QByteArray text() const
    {
        std::fflush(stderr);
        return readFile(m_path);
    }
    // Lines the program printed as its own errors that contain what.
    int count(const QByteArray &what) const
    {
        int n = 0;
        for (const QByteArray &line : text().split('\n'))
            n += line.startsWith("commtest:") && line.contains(what);
        return n;
    }

private:
    int m_fd = -1;
    int m_saved = -1;
    QString m_path;
};

// Writes to the pty master from a thread of its own, so the window's event loop (which
// reads the slave side) keeps running while the wire is busy. Chunks of `chunk` bytes;
// with hangUpAfter >= 0 the master is closed once that many bytes are written, in the
// middle of the stream, and the rest is never sent.
class WireWriter
{
public:
    WireWriter(Pty &pty, QByteArray data, qsizetype chunk = 4096, qsizetype hangUpAfter = -1)
        : m_thread([this, &pty, data = std::move(data), chunk, hangUpAfter] {
            bool ok = true;
            for (qsizetype at = 0; ok && at < data.size(); at += chunk) {
                if (hangUpAfter >= 0 && at >= hangUpAfter) {
                    m_drainedBeforeHangUp = waitUntilRead(pty.slavePath());
                    pty.closeMaster();
                    break;
                }
                ok = pty.write(data.mid(at, chunk), 60000);
                m_written = at + std::min(chunk, data.size() - at);
            }
            m_ok = ok;
            m_done = true;
        })
    {}
    qsizetype written() const { return m_written; }
    // Whether the monitor had taken every byte out of the device before the hang-up; the
    // kernel throws away what is still queued when the master closes.
    bool drainedBeforeHangUp() const { return m_drainedBeforeHangUp; }
    // Joining blocks the event loop: wait for done() with QTRY first.
    ~WireWriter() { join(); }
    bool done() const { return m_done; }
    bool join()
    {
        if (m_thread.joinable())
            m_thread.join();
        return m_ok;
    }

private:
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_ok{false};
    // The slave's input queue empty twice in a row, 20 ms apart: the kernel also moves
    // what waits in its buffer between master and slave into that queue meanwhile.
    static bool waitUntilRead(const QString &slave)
    {
        const int fd =
            ::open(QFile::encodeName(slave).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return false;
        int empty = 0;
        for (QDeadlineTimer deadline(20000); empty < 2 && !deadline.hasExpired();) {
            int n = -1;
            if (::ioctl(fd, FIONREAD, &n) != 0)
                break;
            empty = n == 0 ? empty + 1 : 0;
            ::usleep(20000);
        }
        ::close(fd);
        return empty == 2;
    }
    std::atomic<qsizetype> m_written{0};
    std::atomic<bool> m_drainedBeforeHangUp{false};
    std::thread m_thread;
};

// The monitor as the operator has it: the window with the real serial layer on port 4,
// mapped to a pty of its own (or to the device given), shown, "Monitor Port" checked.
struct RunningMonitor : PtyMonitor
{
    CaptureFolder captures; // where a test puts its capture files

    explicit RunningMonitor(const QString &device = QString())
        : PtyMonitor(device)
    {
        form->show();
        monitor(true);
    }

    // True when the monitor has worked through everything the device sent: nothing waits
    // in the serial layer or in the device's queue, three checks in a row 20 ms apart.
    bool waitQuiet(int timeoutMs)
    {
        const QByteArray slave = QFile::encodeName(pty->slavePath());
        const int fd = ::open(slave.constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return false;
        int quiet = 0;
        for (QDeadlineTimer deadline(timeoutMs); quiet < 3 && !deadline.hasExpired();) {
            QTest::qWait(20);
            int queued = -1;
            const bool idle = ::ioctl(fd, FIONREAD, &queued) == 0 && queued == 0 &&
                              form->serial()->InBufferCount().value_or(-1) == 0;
            quiet = idle ? quiet + 1 : 0;
        }
        ::close(fd);
        return quiet == 3;
    }

    // Runs the event loop for a while without waiting on anything, so that what is queued
    // (a second report, a storm of errors) has its chance to happen.
    static void settle()
    {
        for (int i = 0; i < 200; ++i)
            QCoreApplication::processEvents();
    }
};

} // namespace reliability
