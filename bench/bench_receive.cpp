// Throughput of the receive path, printed as figures.
//
//   1. Without widgets: per character the log line and the frame rule, per frame the
//      capture record and its write to a file in a temporary folder.
//   2. End to end: the window offscreen on the real serial layer, a pty as the device, a
//      writer thread sending random frames as fast as the pty takes them, capture on.
//      Prints characters per second sustained until the capture file is complete and the
//      window idle, whether the capture file is complete, the longest event-loop stall,
//      the peak memory (VmHWM) and whether accessibility was active.
//
// Usage: bench_receive [megabytes for part 2, default 100] [--no-window] [--window-only]
//                      [--frame-length N] [--extras]
//   --frame-length N   part 2 sends frames of exactly N characters, the end code included
//                      (default: random lengths of 1 to 81)
//   --extras           part 2 with the times shown in both panes and the line statistics
//                      window open, to compare with a run without
// bench_a11y runs part 2 through this program under Xvfb with accessibility off and on.

#include "app/form_comm.h"
#include "capture/capturerecord.h"
#include "capture/fileservice.h"
#include "port/serialcontrol.h"
#include "receive/receiverules.h"
#include "support/fakeoptionsprompt.h"
#include "support/fakesavedialog.h"
#include "support/pty.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <thread>

namespace {

// Random frames of 0 to 80 characters (frameLength - 1 when frameLength > 0) other than
// the end codes, each closed by one of CR, LF, ACK, EOT; appended to out until it holds
// at least bytes.
void appendRandomFrames(QByteArray &out, qsizetype bytes, QRandomGenerator &rng,
                        int frameLength = 0)
{
    static const char kEnds[] = {'\r', '\n', '\x06', '\x04'};
    const qsizetype target = out.size() + bytes;
    while (out.size() < target) {
        const int length = frameLength > 0 ? frameLength - 1 : int(rng.bounded(81));
        for (int i = 0; i < length; ++i) {
            char c = char(rng.bounded(256));
            if (c == '\r' || c == '\n' || c == '\x06' || c == '\x04')
                c = 'x';
            out.append(c);
        }
        out.append(kEnds[rng.bounded(4)]);
    }
}

quint64 fnv1a(quint64 h, QByteArrayView data)
{
    for (char c : data) {
        h ^= uchar(c);
        h *= 1099511628211ULL;
    }
    return h;
}
constexpr quint64 kFnvStart = 14695981039346656037ULL;

long peakMemoryKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// Part 1: the receive path's own work, no widgets. Three passes over the same characters
// show where the time goes: the per-character work alone, then with the record format,
// then with the capture write.
enum class Stage {
    PerCharacter,
    Records,
    Write
};

bool benchWithoutWidgets(const QString &folder)
{
    QRandomGenerator rng(1);
    QByteArray wire;
    wire.reserve(64 << 20);
    appendRandomFrames(wire, 64 << 20, rng);
    const FrameEndRule rule = frameEndRuleFor(QStringLiteral("<select application>"));
    FileService files;

    for (const Stage stage : {Stage::PerCharacter, Stage::Records, Stage::Write}) {
        const QString path = folder + QStringLiteral("/bench_core%1.txt").arg(int(stage));
        StreamResult opened = files.CreateTextFile(path);
        if (!opened.stream) {
            std::printf("cannot create %s: %s\n", qPrintable(path), qPrintable(opened.error));
            return false;
        }
        QByteArray frame;
        QByteArray logLine;
        QByteArray record;
        qsizetype logBytes = 0;
        qsizetype recordBytes = 0;
        qsizetype frames = 0;

        QElapsedTimer t;
        t.start();
        for (const char c : wire) {
            frame.append(c);
            formatBufferLogLine(logLine, frame.size(), c);
            logBytes += logLine.size();
            if (endsFrame(rule, uchar(c)) || frame.size() >= kMaxFrameLength) {
                if (stage != Stage::PerCharacter) {
                    record.resize(0);
                    appendCaptureRecord(record, {}, frame);
                    recordBytes += record.size();
                }
                if (stage == Stage::Write) {
                    const QString error = opened.stream->Write(record);
                    if (!error.isEmpty()) {
                        std::printf("write failed: %s\n", qPrintable(error));
                        return false;
                    }
                }
                frame.resize(0);
                ++frames;
            }
        }
        const double seconds = t.nsecsElapsed() / 1e9;
        opened.stream->Close();
        static const char *const kNames[] = {"log line and frame rule", "  + record format",
                                             "  + capture write (all)"};
        std::printf(
            "without widgets, %-24s %lld characters, %lld frames (%.1f characters each), "
            "%.3f s: %6.1f M characters/s; log %lld bytes, records %lld bytes, file %lld bytes\n",
            kNames[int(stage)], qlonglong(wire.size()), qlonglong(frames),
            double(wire.size()) / double(frames), seconds, wire.size() / seconds / 1e6,
            qlonglong(logBytes), qlonglong(recordBytes), qlonglong(QFileInfo(path).size()));
    }
    std::printf("goal without widgets: 20 M characters/s through all of it\n");
    return true;
}

// Part 2: the window end to end through a pty.
bool benchWindow(const QString &folder, qsizetype megabytes, int frameLength, bool extras)
{
    Pty pty;
    PortMap map;
    if (!pty.isValid() || !map.map(4, pty.slavePath())) {
        std::printf("no pty\n");
        return false;
    }
    auto saveDialog = std::make_unique<FakeSaveDialog>();
    const QString path = folder + QStringLiteral("/bench_window.txt");
    saveDialog->answers.append(path);
    // The options dialog answered OK with its initial options, through the window's seam.
    auto options = std::make_unique<FakeOptionsPrompt>();
    options->answers.push_back(FakeOptionsPrompt::ok());
    Form_Comm form(std::make_unique<SerialControl>(), std::move(saveDialog), std::move(options));
    form.show();
    if (!form.serial()->PortOpen().value_or(false)) {
        std::printf("port 4 did not open: %s\n", qPrintable(form.serial()->lastError()));
        return false;
    }
    // Capture on through the window's set-up.
    form.findChild<QCheckBox *>(QStringLiteral("chk_file"))->click();
    if (!form.captureEnabled()) {
        std::printf("capture did not start\n");
        return false;
    }
    form.findChild<QCheckBox *>(QStringLiteral("chk_CollectData"))->setChecked(true);
    if (extras) {
        for (const char *name : {"showTimes", "act_lineStatistics"}) {
            auto *action =
                form.findChild<QAction *>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
            if (!action) {
                std::printf("no action %s\n", name);
                return false;
            }
            action->trigger();
        }
    }

    // At a bench the window is up, and known to assistive technology, before the
    // instrument sends: the stream starts after half a second of the window's event loop.
    QElapsedTimer settle;
    settle.start();
    while (!settle.hasExpired(500))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    // The writer makes the frames as it goes, so they do not count in this process's
    // peak memory beyond one chunk.
    const qsizetype total = megabytes << 20;
    std::atomic<bool> writerDone{false};
    std::atomic<bool> writerOk{true};
    std::atomic<qint64> expectedSize{0};
    quint64 expectedHash = kFnvStart;
    std::thread writer([&] {
        QRandomGenerator rng(2);
        QByteArray chunk;
        QByteArray record;
        qsizetype sent = 0;
        QByteArray frame;
        while (sent < total) {
            chunk.resize(0);
            appendRandomFrames(chunk, std::min<qsizetype>(1 << 20, total - sent), rng, frameLength);
            for (char c : chunk) {
                frame.append(c);
                if (c == '\r' || c == '\n' || c == '\x06' || c == '\x04') {
                    record.resize(0);
                    appendCaptureRecord(record, {}, frame);
                    expectedSize += record.size();
                    expectedHash = fnv1a(expectedHash, record);
                    frame.resize(0);
                }
            }
            if (!pty.write(chunk, 60000)) {
                writerOk = false;
                break;
            }
            sent += chunk.size();
        }
        writerDone = true;
    });

    // The longest time the event loop went without running a 5 ms timer, and when it last
    // ran late: the window is idle once it runs on time for a while.
    QElapsedTimer clock;
    clock.start();
    QElapsedTimer sinceTick;
    sinceTick.start();
    qint64 longestGapNs = 0;
    qint64 lastBusyNs = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, &ticker, [&] {
        const qint64 gap = sinceTick.nsecsElapsed();
        longestGapNs = std::max(longestGapNs, gap);
        if (gap > 15000000)
            lastBusyNs = clock.nsecsElapsed();
        sinceTick.restart();
    });
    ticker.start();

    QElapsedTimer deadline;
    deadline.start();
    qint64 completeNs = -1;
    constexpr qint64 kIdleNs = 100000000;
    while (completeNs < 0 || clock.nsecsElapsed() - std::max(completeNs, lastBusyNs) < kIdleNs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (completeNs < 0 && writerDone && QFileInfo(path).size() >= expectedSize)
            completeNs = clock.nsecsElapsed();
        if (deadline.hasExpired(600000)) {
            std::printf("gave up after 600 s\n");
            break;
        }
        if (writerDone && !writerOk)
            break;
    }
    // Until the capture was complete and the window had worked off what it had queued.
    const double seconds =
        (completeNs < 0 ? clock.nsecsElapsed() : std::max(completeNs, lastBusyNs)) / 1e9;
    ticker.stop();
    writer.join();

    QFile file(path);
    quint64 hash = kFnvStart;
    qint64 size = 0;
    if (file.open(QIODevice::ReadOnly)) {
        while (!file.atEnd()) {
            const QByteArray part = file.read(1 << 20);
            hash = fnv1a(hash, part);
            size += part.size();
        }
    }
    const bool complete = writerOk && size == expectedSize && hash == expectedHash;
    std::printf("end to end: %lld characters in %.2f s: %.2f M characters/s sustained (goal 2); "
                "capture %s (%lld of %lld bytes); longest event-loop stall %.1f ms (goal < 50); "
                "peak memory VmHWM %.1f MB (goal < 300); accessibility %s; times and "
                "statistics window %s\n",
                qlonglong(total), seconds, total / seconds / 1e6,
                complete ? "complete" : "INCOMPLETE", qlonglong(size),
                qlonglong(expectedSize.load()), std::max<qint64>(0, longestGapNs - 5000000) / 1e6,
                peakMemoryKiB() / 1024.0, QAccessible::isActive() ? "active" : "inactive",
                extras ? "shown" : "not shown");
    return complete;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qsizetype megabytes = 100;
    bool window = true;
    bool withoutWidgets = true;
    int frameLength = 0;
    bool extras = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--no-window")
            window = false;
        else if (arg == "--window-only")
            withoutWidgets = false;
        else if (arg == "--extras")
            extras = true;
        else if (arg == "--frame-length" && i + 1 < argc)
            frameLength = std::max(1, QByteArray(argv[++i]).toInt());
        else if (arg.toLongLong() > 0)
            megabytes = arg.toLongLong();
    }
    QTemporaryDir folder;
    if (!folder.isValid())
        return 1;
    bool ok = !withoutWidgets || benchWithoutWidgets(folder.path());
    if (window)
        ok = benchWindow(folder.path(), megabytes, frameLength, extras) && ok;
    return ok ? 0 : 1;
}
