// The Plot window's series store: the per-pixel-column reduction against a brute-force
// reference, dropping past capacity, and the CSV it exports.
#include "plot/plotstore.h"
#include "support/tables.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QTest>

#include <cmath>
#include <map>

namespace {

PlotReading reading(const char *name, double value, quint32 format = kPlotNoFormat)
{
    PlotReading r;
    r.name = QByteArrayView(name);
    r.value = value;
    r.format = format;
    return r;
}

} // namespace

class TestPlotStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { qputenv("TZ", "UTC"); }

    void reductionMatchesBruteForce_data()
    {
        columns<quint32, int, qsizetype>("seed", "frames", "capacity");
        QTest::newRow("few points") << 1u << 40 << PlotStore::kDefaultCapacity;
        QTest::newRow("many points") << 2u << 200000 << PlotStore::kDefaultCapacity;
        QTest::newRow("ring wrapped, oldest dropped") << 3u << 50000 << qsizetype(7001);
        QTest::newRow("tiny ring") << 4u << 3000 << qsizetype(1);
    }
    void reductionMatchesBruteForce()
    {
        QFETCH(quint32, seed);
        QFETCH(int, frames);
        QFETCH(qsizetype, capacity);
        QRandomGenerator rng(seed);
        PlotStore store(capacity);
        struct P
        {
            qint64 t;
            double v;
        };
        std::vector<P> truth; // series "a"
        qint64 t = 1'700'000'000'000;
        for (int f = 0; f < frames; ++f) {
            t += rng.bounded(4) == 0 ? 0 : rng.bounded(50); // bursts share a time
            std::vector<PlotReading> rs;
            if (rng.bounded(10) < 7) {
                const double v = rng.generateDouble() * 2000 - 1000;
                rs.push_back(reading("a", v));
                truth.push_back({t, v});
            }
            if (rng.bounded(2))
                rs.push_back(reading("b", rng.generateDouble()));
            store.addFrame(t, rs);
        }
        if (qsizetype(truth.size()) > capacity)
            truth.erase(truth.begin(), truth.end() - capacity);
        QCOMPARE(store.pointCount(0), qsizetype(truth.size()));

        const qint64 first = truth.empty() ? t : truth.front().t;
        std::vector<PlotStore::Column> got;
        for (int trial = 0; trial < 40; ++trial) {
            const qint64 from = first - 500 + qint64(rng.bounded(quint32(t - first + 1000)));
            const qint64 to = from + 1 + qint64(rng.bounded(quint32(t - first + 1000)));
            const int width = 1 + int(rng.bounded(1500));
            store.reduce(0, from, to, width, got);

            // Each point into the last column whose start is not after it.
            const qint64 span = to - from;
            auto columnStart = [&](int c) { return from + span * c / width; };
            std::map<int, PlotStore::Column> columns;
            for (const P &p : truth) {
                if (p.t < from || p.t >= to)
                    continue;
                int lo = 0;
                int hi = width - 1;
                while (lo < hi) {
                    const int mid = (lo + hi + 1) / 2;
                    if (columnStart(mid) <= p.t)
                        lo = mid;
                    else
                        hi = mid - 1;
                }
                auto [it, added] = columns.try_emplace(lo, PlotStore::Column{lo, p.v, p.v});
                it->second.min = std::min(it->second.min, p.v);
                it->second.max = std::max(it->second.max, p.v);
            }
            std::vector<PlotStore::Column> want;
            for (const auto &[c, col] : columns)
                want.push_back(col);
            QCOMPARE(got.size(), want.size());
            for (size_t k = 0; k < want.size(); ++k) {
                QCOMPARE(got[k].column, want[k].column);
                QCOMPARE(got[k].min, want[k].min);
                QCOMPARE(got[k].max, want[k].max);
            }
        }
    }

    void capacityDropsOldestAndCounts()
    {
        PlotStore store(3);
        for (int f = 0; f < 5; ++f)
            store.addFrame(1000 * f, {reading("a", f)});
        store.addFrame(9000, {reading("b", 9)});
        QCOMPARE(store.pointCount(0), qsizetype(3));
        QCOMPARE(store.droppedPoints(), qint64(2));
        QCOMPARE(store.frameCount(), qsizetype(4)); // frames 2, 3, 4 and b's
        QCOMPARE(store.stats(0).count, qint64(5));  // the table counts what was received
        QCOMPARE(store.stats(0).min, 0.0);
        QCOMPARE(store.pointAt(0, 3500)->value, 3.0);
        QVERIFY(!store.pointAt(0, 1999));
    }

    void csv()
    {
        PlotStore store;
        store.addFrame(86'400'123, {reading("a", 1.5), reading("a", 7)});
        store.addFrame(86'401'000, {reading("b,\"x\"", -2)});
        store.addFrame(86'401'005, {reading("a", NAN)}); // no number: no row
        store.addFrame(86'400'000, {reading("a", 0.1), reading("b,\"x\"", 1e300)});
        PlotHeader header;
        std::vector<PlotReading> parsed;
        parsePlotFields("a:+0023.450 a:-0023.450", header, parsed); // written as they came
        store.addFrame(86'402'000, parsed);
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        QVERIFY(store.writeCsv(out));
        QCOMPARE(out.data(), QByteArray("time,a,\"b,\"\"x\"\"\"\r\n"
                                        "1970-01-02T00:00:00.123,1.5,\r\n"
                                        "1970-01-02T00:00:01.000,,-2\r\n"
                                        "1970-01-02T00:00:01.000,0.1,1e+300\r\n"
                                        "1970-01-02T00:00:02.000,+0023.450,\r\n"));
        QCOMPARE(store.stats(0).notNumbers, qint64(1));
        QCOMPARE(store.stats(0).count, qint64(5));
    }
};

QTEST_GUILESS_MAIN(TestPlotStore)
#include "tst_plotstore.moc"
