// Cost of the receive panes: adding lines to a full line store without any widget (the
// log holds 100,000, the frame pane 10,000), raw text one character at a time, the memory
// 100,000 log lines take, the view's coalesced update with and without a screen reader's
// notifications, and one paint of a full viewport.
//
// Usage: bench_lineview [--benchmark_filter=...] (runs offscreen unless QT_QPA_PLATFORM is set)

#include "receive/linestore.h"
#include "receive/lineview.h"

#include <benchmark/benchmark.h>

#include <QAccessibleEvent>
#include <QApplication>
#include <QByteArrayList>
#include <QImage>
#include <QPainter>

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
