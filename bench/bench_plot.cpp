// The Plot window's store: appending points, and building the drawable lines (the
// per-pixel-column reduction) for 4 series of 1,000,000 points at 1,000 pixels (goal:
// at most 5 ms), whatever the span shown.

#include "plot/plotfields.h"
#include "plot/plotstore.h"

#include <benchmark/benchmark.h>

#include <random>

namespace {

constexpr int kPoints = 1'000'000;
constexpr qint64 kStart = 1'700'000'000'000;

// 4 series, one point each per frame, a frame every 10 ms.
void fill(PlotStore &store, int frames, int series)
{
    static const char *const kNames[] = {"A", "B", "C", "D"};
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> value(-1000, 1000);
    std::vector<PlotReading> readings(static_cast<size_t>(series));
    for (int s = 0; s < series; ++s)
        readings[size_t(s)].name = QByteArrayView(kNames[s]);
    for (int f = 0; f < frames; ++f) {
        for (PlotReading &r : readings)
            r.value = value(rng);
        store.addFrame(kStart + 10 * qint64(f), readings);
    }
}

void BM_Append1MPoints(benchmark::State &state)
{
    for (auto _ : state) {
        PlotStore store;
        fill(store, kPoints, 1);
        benchmark::DoNotOptimize(store.pointCount(0));
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}
BENCHMARK(BM_Append1MPoints)->Unit(benchmark::kMillisecond);

void BM_ParseFrame(benchmark::State &state)
{
    const QByteArray frame = "\x02"
                             "0001 CH2 +0023.451 \xB0"
                             "C";
    PlotHeader header;
    std::vector<PlotReading> readings;
    for (auto _ : state) {
        parsePlotFields(frame, header, readings);
        benchmark::DoNotOptimize(readings.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseFrame);

// range(0): the span shown, in percent of the whole.
void BM_Lines4x1MAt1000Px(benchmark::State &state)
{
    static PlotStore store;
    if (store.seriesCount() == 0)
        fill(store, kPoints, 4);
    const qint64 whole = store.lastTime() + 1 - kStart;
    const qint64 span = whole * state.range(0) / 100;
    std::vector<PlotStore::Column> columns;
    for (auto _ : state) {
        for (int s = 0; s < 4; ++s) {
            store.reduce(s, store.lastTime() + 1 - span, store.lastTime() + 1, 1000, columns);
            benchmark::DoNotOptimize(columns.data());
        }
    }
    state.counters["columns"] = double(columns.size());
}
BENCHMARK(BM_Lines4x1MAt1000Px)->Arg(100)->Arg(10)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
