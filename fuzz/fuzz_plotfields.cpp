// The Plot window's field rules and store fed arbitrary frames: no crash or hang, every
// number written back exactly as it came, readings that point into their frame, and a
// store whose reduction and export stay consistent.

#include "fuzz/fuzzcheck.h"
#include "plot/plotfields.h"
#include "plot/plotstore.h"

#include <QBuffer>

#include <cmath>
#include <cstdint>

namespace {

bool within(QByteArrayView part, QByteArrayView whole)
{
    return part.isEmpty() || (part.data() >= whole.data() &&
                              part.data() + part.size() <= whole.data() + whole.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = fuzzBytes(data, size);
    PlotHeader header;
    std::vector<PlotReading> readings;
    PlotStore store(5);
    qint64 time = 0;
    for (const QByteArray &frame : input.split('\n')) {
        parsePlotFields(frame, header, readings);
        for (const PlotReading &r : readings) {
            FUZZ_CHECK(within(r.text, frame) && !r.text.isEmpty());
            FUZZ_CHECK(within(r.unit, frame));
            FUZZ_CHECK(r.name.isEmpty() == (r.position > 0 && r.position > header.names.size()));
            FUZZ_CHECK(std::isnan(r.value) || std::isfinite(r.value));
            if (r.format != kPlotNoFormat)
                FUZZ_CHECK(plotNumberText(r.value, r.format) == r.text);
            else if (!std::isnan(r.value))
                FUZZ_CHECK(std::strtod(plotNumberText(r.value, r.format).constData(), nullptr) ==
                           r.value);
        }
        store.addFrame(time += frame.size() % 3, readings);
    }
    std::vector<PlotStore::Column> columns;
    for (int s = 0; s < store.seriesCount(); ++s) {
        FUZZ_CHECK(store.pointCount(s) <= 5);
        store.reduce(s, store.firstTime(), store.lastTime() + 1, 7, columns);
        int previous = -1;
        qsizetype points = 0;
        for (const PlotStore::Column &c : columns) {
            FUZZ_CHECK(c.column > previous && c.column < 7 && c.min <= c.max);
            previous = c.column;
            ++points;
        }
        FUZZ_CHECK(points <= store.pointCount(s) && (points > 0) == (store.pointCount(s) > 0));
    }
    QBuffer csv;
    csv.open(QIODevice::WriteOnly);
    FUZZ_CHECK(store.writeCsv(csv));
    FUZZ_CHECK(csv.data().count("\r\n") <= store.frameCount() + 1);
    return 0;
}
