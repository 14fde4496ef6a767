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
//   --readings         part 2 sends frames of four readings ("A:12.5 B:-3 C:0.25 D:71")
//   --plot             as --readings, with the Plot window open; compare with --readings
//   --paced RATE       part 2 as an instrument sends: RATE characters/s of 47-character
//                      frames for --seconds S (default 10), written every --tick MS
//                      (default 20); prints the share of one core the window's process used
//                      over the stream and one second after it (the writer thread not
//                      counted), instead of a rate
//   --prefill          with --paced: both panes filled to their line limits first, as after a
//                      while at the bench
//   --paints           with --paced: also prints, per widget, how often it was painted during
//                      the stream and how many pixels that covered, most pixels first
// bench_a11y runs part 2 through this program under Xvfb with accessibility off and on.

#include "app/application.h"
#include "app/form_comm.h"
#include "capture/capturerecord.h"
#include "capture/fileservice.h"
#include "plot/plotwindow.h"
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
#include <QMap>
#include <QPaintEvent>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <ctime>
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

// Frames of four named readings, each closed by one of the end codes.
void appendReadingFrames(QByteArray &out, qsizetype bytes, QRandomGenerator &rng)
{
    static const char kEnds[] = {'\r', '\n', '\x06', '\x04'};
    const qsizetype target = out.size() + bytes;
    char text[96];
    while (out.size() < target) {
        const int n =
            std::snprintf(text, sizeof text,
                          "\x02"
                          "A:%d.%02d B:%d C:-%d.%d D:%d%c",
                          int(rng.bounded(1000)), int(rng.bounded(100)), int(rng.bounded(100000)),
                          int(rng.bounded(50)), int(rng.bounded(10)), int(rng.bounded(256)),
                          kEnds[rng.bounded(4)]);
        out.append(text, n);
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
struct Pacing
{
    int rate = 0; // characters per second; 0: as fast as the pty takes them
    double seconds = 10;
    int tickMs = 20;
    bool prefill = false; // both panes full before the stream
    bool paints = false;  // count the widgets' paint events during the stream
};

// Paint events per widget, for --paints.
class PaintCounter : public QObject
{
public:
    struct Count
    {
        qint64 events = 0;
        qint64 pixels = 0;
    };
    QMap<QString, Count> counts;
    qint64 windowUpdates = 0; // paint-and-flush rounds of top-level windows

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::UpdateRequest && watched->isWidgetType() &&
            static_cast<QWidget *>(watched)->isWindow())
            ++windowUpdates;
        if (event->type() == QEvent::Paint && watched->isWidgetType()) {
            QString name = QString::fromLatin1(watched->metaObject()->className());
            // Qt's own parts (a scroll area's viewport) by the widget they belong to.
            for (QObject *o = watched; o; o = o->parent()) {
                if (!o->objectName().isEmpty()) {
                    name += u' ' + o->objectName();
                    if (!o->objectName().startsWith(u"qt_"))
                        break;
                }
            }
            Count &c = counts[name];
            ++c.events;
            const QRect r = static_cast<QPaintEvent *>(event)->rect();
            c.pixels += qint64(r.width()) * r.height();
        }
        return false;
    }
};

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

bool benchWindow(const QString &folder, qsizetype megabytes, int frameLength, bool extras,
                 const Pacing &pacing, bool readings, bool plot)
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
    if (plot) {
        form.showPlot();
        form.activateWindow();
    }

    // At a bench the window is up, and known to assistive technology, before the
    // instrument sends: the stream starts after half a second of the window's event loop.
    QElapsedTimer settle;
    settle.start();
    while (!settle.hasExpired(500))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    // The writer makes the frames as it goes, so they do not count in this process's
    // peak memory beyond one chunk.
    const qsizetype total =
        pacing.rate > 0 ? qsizetype(pacing.rate * pacing.seconds) : megabytes << 20;
    std::atomic<bool> writerDone{false};
    std::atomic<double> writerCpu{0};
    std::atomic<bool> writerOk{true};
    std::atomic<qint64> expectedSize{0};
    quint64 expectedHash = kFnvStart;
    if (pacing.prefill) {
        // As after a while at the bench: both panes at their line limits (100,000 log lines,
        // 10,000 frames), so their scroll bars no longer change with every line.
        QByteArray wire;
        QByteArray record;
        for (int i = 0; i < 10000; ++i) {
            const QByteArray frame = QByteArray::number(i).rightJustified(8, '0') + ",\r";
            wire += frame;
            record.resize(0);
            appendCaptureRecord(record, {}, frame);
            expectedSize += record.size();
            expectedHash = fnv1a(expectedHash, record);
        }
        // From a thread: the pty holds far less than this, and the window must read meanwhile.
        std::atomic<bool> written{false};
        std::thread prefiller([&] { written = pty.write(wire, 60000); });
        QElapsedTimer filling;
        filling.start();
        while (QFileInfo(path).size() < expectedSize && !filling.hasExpired(60000))
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        prefiller.join();
        if (!written) {
            std::printf("prefill failed\n");
            return false;
        }
        settle.restart();
        while (!settle.hasExpired(500))
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    PaintCounter paintCounter;
    if (pacing.paints)
        qApp->installEventFilter(&paintCounter);
    const double cpuStart = processCpuSeconds();
    std::thread paced([&] {
        if (pacing.rate <= 0)
            return;
        // The frames peer monitors are measured with: 8 digits, a comma, 36 characters, CR LF.
        const double start = threadCpuSeconds();
        QElapsedTimer t;
        t.start();
        qsizetype sent = 0;
        int i = 0;
        QByteArray chunk;
        QByteArray frame;
        QByteArray record;
        while (sent < total) {
            const qsizetype due =
                std::min<qsizetype>(total, qsizetype(t.nsecsElapsed() / 1e9 * pacing.rate));
            chunk.resize(0);
            while (sent + chunk.size() < due) {
                frame = QByteArray::number(i++).rightJustified(8, '0') +
                        ",0123456789abcdefghijklmnopqrstuvwxyz\r";
                record.resize(0);
                appendCaptureRecord(record, {}, frame);
                expectedSize += record.size();
                expectedHash = fnv1a(expectedHash, record);
                chunk += frame;
                // The LF after the CR is a frame of its own.
                record.resize(0);
                appendCaptureRecord(record, {}, "\n");
                expectedSize += record.size();
                expectedHash = fnv1a(expectedHash, record);
                chunk += '\n';
            }
            if (!chunk.isEmpty() && !pty.write(chunk, 60000)) {
                writerOk = false;
                break;
            }
            sent += chunk.size();
            std::this_thread::sleep_for(std::chrono::milliseconds(pacing.tickMs));
        }
        writerCpu = threadCpuSeconds() - start;
        writerDone = true;
    });
    std::thread writer([&] {
        if (pacing.rate > 0)
            return;
        QRandomGenerator rng(2);
        QByteArray chunk;
        QByteArray record;
        qsizetype sent = 0;
        QByteArray frame;
        while (sent < total) {
            chunk.resize(0);
            if (readings)
                appendReadingFrames(chunk, std::min<qsizetype>(1 << 20, total - sent), rng);
            else
                appendRandomFrames(chunk, std::min<qsizetype>(1 << 20, total - sent), rng,
                                   frameLength);
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

    QElapsedTimer clock;
    clock.start();
    if (pacing.rate > 0) {
        // The window's own event loop and nothing else of this program's, for the stream and
        // one second after it, as the window would be measured from outside.
        QEventLoop loop;
        QTimer::singleShot(int(pacing.seconds * 1000) + 1000, &loop, &QEventLoop::quit);
        loop.exec();
        const double cpuShare =
            (processCpuSeconds() - cpuStart - writerCpu) / (clock.nsecsElapsed() / 1e9);
        paced.join();
        writer.join();
        const qint64 size = QFileInfo(path).size();
        const bool complete = writerOk && size == expectedSize;
        std::printf("paced: %lld characters at %d/s in writes every %d ms: %.1f%% of one core; "
                    "capture %s (%lld of %lld bytes); accessibility %s\n",
                    qlonglong(total), pacing.rate, pacing.tickMs, 100 * cpuShare,
                    complete ? "complete" : "INCOMPLETE", qlonglong(size),
                    qlonglong(expectedSize.load()),
                    QAccessible::isActive() ? "active" : "inactive");
        if (pacing.paints) {
            qApp->removeEventFilter(&paintCounter);
            QList<std::pair<QString, PaintCounter::Count>> rows;
            std::printf("  %lld window updates\n", qlonglong(paintCounter.windowUpdates));
            for (auto it = paintCounter.counts.cbegin(); it != paintCounter.counts.cend(); ++it)
                rows.append({it.key(), it.value()});
            std::sort(rows.begin(), rows.end(),
                      [](const auto &a, const auto &b) { return a.second.pixels > b.second.pixels; });
            for (const auto &[name, count] : rows)
                std::printf("  painted %6lld times, %9lld pixels: %s\n", qlonglong(count.events),
                            qlonglong(count.pixels), qPrintable(name));
        }
        return complete;
    }

    // The longest time the event loop went without running a 5 ms timer, and when it last
    // ran late: the window is idle once it runs on time for a while.
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
    paced.join();

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
    const QByteArray plotText =
        plot ? QByteArray::number(form.plotWindow()->store().seriesCount()) + " series shown"
             : QByteArray("not shown");
    std::printf("end to end: %lld characters in %.2f s: %.2f M characters/s sustained (goal 2); "
                "capture %s (%lld of %lld bytes); longest event-loop stall %.1f ms (goal < 50); "
                "peak memory VmHWM %.1f MB (goal < 300); accessibility %s; times and "
                "statistics window %s; frames %s; plot %s\n",
                qlonglong(total), seconds, total / seconds / 1e6,
                complete ? "complete" : "INCOMPLETE", qlonglong(size),
                qlonglong(expectedSize.load()), std::max<qint64>(0, longestGapNs - 5000000) / 1e6,
                peakMemoryKiB() / 1024.0, QAccessible::isActive() ? "active" : "inactive",
                extras ? "shown" : "not shown", readings ? "of four readings" : "random",
                plotText.constData());
    return complete;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    Application app(argc, argv); // the program's own, so the window reaches X as it does there
    qsizetype megabytes = 100;
    bool window = true;
    bool withoutWidgets = true;
    int frameLength = 0;
    bool extras = false;
    Pacing pacing;
    bool readings = false;
    bool plot = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--no-window")
            window = false;
        else if (arg == "--window-only")
            withoutWidgets = false;
        else if (arg == "--extras")
            extras = true;
        else if (arg == "--readings")
            readings = true;
        else if (arg == "--plot")
            readings = plot = true;
        else if (arg == "--paced" && i + 1 < argc)
            pacing.rate = std::max(1, QByteArray(argv[++i]).toInt());
        else if (arg == "--prefill")
            pacing.prefill = true;
        else if (arg == "--paints")
            pacing.paints = true;
        else if (arg == "--seconds" && i + 1 < argc)
            pacing.seconds = std::max(0.1, QByteArray(argv[++i]).toDouble());
        else if (arg == "--tick" && i + 1 < argc)
            pacing.tickMs = std::max(1, QByteArray(argv[++i]).toInt());
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
        ok = benchWindow(folder.path(), megabytes, frameLength, extras, pacing, readings, plot) &&
             ok;
    return ok ? 0 : 1;
}
