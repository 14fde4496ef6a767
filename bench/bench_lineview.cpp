// Cost of the receive panes: adding lines to a full line store without any widget (the
// log holds 100,000, the frame pane 10,000), raw text one character at a time, the memory
// 100,000 log lines take, the view's coalesced update with and without a screen reader's
// notifications, and one paint of a full viewport; a find over a full log (what one
// keystroke in the find bar costs) and saving a full log to a file.
//
// Usage: bench_lineview [--benchmark_filter=...] (runs offscreen unless QT_QPA_PLATFORM is set)

#include "receive/linefinder.h"
#include "receive/linesave.h"
#include "receive/linestore.h"
#include "receive/lineview.h"

#include <benchmark/benchmark.h>

#include <QAccessibleEvent>
#include <QApplication>
#include <QByteArrayList>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <malloc.h>

namespace {

QByteArrayList logLines()
{
    QByteArrayList lines;
    for (int i = 0; i < 1024; ++i) {
        const int code = 32 + i % 95;
        lines << "Bffr[" + QByteArray::number(1 + i % 40) + "] = [" + QByteArray(1, char(code)) +
                     ": " + QByteArray::number(code) + "]";
    }
    return lines;
}

QFont logFont()
{
    QFont f;
    f.setFamilies({QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans")});
    f.setPointSizeF(9);
    return f;
}

void fill(LineView &v, qsizetype n, bool prepend)
{
    const QByteArrayList lines = logLines();
    for (qsizetype i = 0; i < n; ++i) {
        if (prepend)
            v.prependLine(lines[i % lines.size()]);
        else
            v.appendLine(lines[i % lines.size()]);
    }
    v.flushPending();
}

void fill(LineStore &s, qsizetype n, bool prepend)
{
    const QByteArrayList lines = logLines();
    for (qsizetype i = 0; i < n; ++i) {
        if (prepend)
            s.prependLine(lines[i % lines.size()]);
        else
            s.appendLine(lines[i % lines.size()]);
    }
}

// A full log: every line added drops the oldest.
void BM_Store_AppendLine_Full100k(benchmark::State &state)
{
    LineStore s;
    s.setMaxLines(100000);
    fill(s, 100000, false);
    const QByteArrayList lines = logLines();
    qsizetype i = 0;
    for (auto _ : state)
        s.appendLine(lines[i++ & 1023]);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Store_AppendLine_Full100k);

// A full frame pane, newest on top: every frame added drops the bottom one.
void BM_Store_PrependLine_Full10k(benchmark::State &state)
{
    LineStore s;
    s.setMaxLines(10000);
    fill(s, 10000, true);
    const QByteArrayList lines = logLines();
    qsizetype i = 0;
    for (auto _ : state)
        s.prependLine(lines[i++ & 1023]);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Store_PrependLine_Full10k);

// Line mode: one received character per call, a line feed every 40.
void BM_Store_AppendText_OneChar(benchmark::State &state)
{
    LineStore s;
    s.setMaxLines(10000);
    const QByteArray chars[2] = {QByteArray("x"), QByteArray("\n")};
    qsizetype i = 0;
    for (auto _ : state)
        s.appendText(chars[(++i % 40) == 0]);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Store_AppendText_OneChar);

void BM_Store_Memory_100kLogLines(benchmark::State &state)
{
    for (auto _ : state) {
        malloc_trim(0);
        const size_t before = mallinfo2().uordblks;
        auto *s = new LineStore;
        s->setMaxLines(100000);
        fill(*s, 100000, false);
        const size_t after = mallinfo2().uordblks;
        state.counters["MB"] = double(after - before) / (1024.0 * 1024.0);
        state.counters["bytes_per_line"] = double(after - before) / 100000.0;
        delete s;
    }
}
BENCHMARK(BM_Store_Memory_100kLogLines)->Iterations(1)->Unit(benchmark::kMillisecond);

qint64 g_events = 0;
qint64 g_eventChars = 0;
void countEvent(QAccessibleEvent *e)
{
    ++g_events;
    if (e->type() == QAccessible::TextInserted)
        g_eventChars += static_cast<QAccessibleTextInsertEvent *>(e)->textInserted().size();
    else if (e->type() == QAccessible::TextRemoved)
        g_eventChars += static_cast<QAccessibleTextRemoveEvent *>(e)->textRemoved().size();
    else if (e->type() == QAccessible::TextUpdated)
        g_eventChars += static_cast<QAccessibleTextUpdateEvent *>(e)->textInserted().size() +
                        static_cast<QAccessibleTextUpdateEvent *>(e)->textRemoved().size();
}

// The full log with the coalesced update a 33 ms tick would run, every 66,000 lines (the
// count 2 million characters a second brings in one tick); with accessible:1 a screen
// reader's notifications are recorded and sent as well.
void BM_View_AppendLine_WithFlushes(benchmark::State &state)
{
    if (state.range(0))
        LineView::setAccessibleNotifier(countEvent);
    g_events = g_eventChars = 0;
    {
        LineView v;
        v.resize(209, 600);
        v.setFont(logFont());
        v.setMaxLines(100000);
        fill(v, 100000, false);
        g_events = g_eventChars = 0;
        const QByteArrayList lines = logLines();
        qsizetype i = 0;
        for (auto _ : state) {
            for (int k = 0; k < 66000; ++k)
                v.appendLine(lines[i++ & 1023]);
            v.flushPending();
        }
        state.SetItemsProcessed(state.iterations() * 66000);
        state.counters["events_per_flush"] = double(g_events) / double(state.iterations());
        state.counters["event_chars_per_flush"] = double(g_eventChars) / double(state.iterations());
    }
    LineView::setAccessibleNotifier(nullptr);
}
BENCHMARK(BM_View_AppendLine_WithFlushes)
    ->Arg(0)
    ->Arg(1)
    ->ArgNames({"accessible"})
    ->Unit(benchmark::kMillisecond);

// One paint of a full viewport: the log pane's size at 96 dpi, or the frame pane's.
void BM_Paint(benchmark::State &state)
{
    const bool log = state.range(0) == 0;
    LineView v;
    if (log) {
        v.resize(209, 601);
        v.setFont(logFont());
    } else {
        v.resize(577, 131);
    }
    v.setMaxLines(100000);
    fill(v, log ? 100000 : 10000, !log);
    v.setSelection(v.offsetOf(v.lineCount() - 5, 3), v.offsetOf(v.lineCount() - 2, 6));
    QImage image(v.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        v.viewport()->render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["rows"] = double(v.viewport()->height() / v.fontMetrics().lineSpacing());
}
BENCHMARK(BM_Paint)->Arg(0)->Arg(1)->ArgNames({"framePane"})->Unit(benchmark::kMicrosecond);

// A full log with times, one line a millisecond apart, as the buffer log holds it.
void fillTimed(LineStore &s, bool timesShown)
{
    const QByteArrayList lines = logLines();
    const qint64 t0 = 1'796'000'000'000;
    s.setMaxLines(100000);
    for (qsizetype i = 0; i < 100000; ++i)
        s.appendLine(lines[i % lines.size()], t0 + i);
    s.setTimesShown(timesShown);
}

// One keystroke in the find bar over a full log when nothing matches, the most it costs:
// every line is searched once. Kinds: 0 case ignored, 1 case kept, 2 times shown and a
// needle that could start in a time (each line's time is searched too).
void BM_Find_NoMatch_Full100k(benchmark::State &state)
{
    const int kind = int(state.range(0));
    LineStore s;
    fillTimed(s, kind == 2);
    const QString needle =
        kind == 2 ? QStringLiteral("12:34:56.789 Bffr[99]") : QStringLiteral("Bffr[99]");
    for (auto _ : state) {
        const LineFinder finder(needle, kind == 1);
        const LineFinder::Match m = finder.findNext(s, 50000, 0);
        if (m.isValid())
            state.SkipWithError("matched");
    }
}
BENCHMARK(BM_Find_NoMatch_Full100k)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->ArgNames({"kind"})
    ->Unit(benchmark::kMillisecond);

// One keystroke in the find bar of the shown log pane, as the bar runs it: the search from
// the top of the visible part, the match selected and scrolled into view, and a repaint
// that marks every visible match. found:0 is a needle with no match (the whole log read).
void BM_Find_Keystroke_View(benchmark::State &state)
{
    LineView v;
    v.resize(209, 601);
    v.setFont(logFont());
    v.setMaxLines(100000);
    fill(v, 100000, false);
    const QString needle = state.range(0) ? QStringLiteral("[5: 53") : QStringLiteral("[5: 54");
    QImage image(v.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        const LineFinder finder(needle, false);
        v.setFindHighlight(finder);
        const LineFinder::Match m =
            finder.findNext(v.store(), std::max<qsizetype>(0, v.firstVisibleLine()), 0);
        if (m.isValid())
            v.selectInLine(m.line, m.start, m.end);
        v.viewport()->render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_Find_Keystroke_View)
    ->Arg(0)
    ->Arg(1)
    ->ArgNames({"found"})
    ->Unit(benchmark::kMillisecond);

// Saving a full log: its text built and written through a temporary file renamed over the
// target; with times:1 each line begins with its time.
void BM_Save_Full100k(benchmark::State &state)
{
    LineStore s;
    fillTimed(s, state.range(0) != 0);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    qint64 size = 0;
    for (auto _ : state) {
        if (!saveLines(s, path).isEmpty())
            state.SkipWithError("save failed");
        size = QFileInfo(path).size();
    }
    state.counters["MB"] = double(size) / (1024.0 * 1024.0);
}
BENCHMARK(BM_Save_Full100k)->Arg(0)->Arg(1)->ArgNames({"times"})->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
