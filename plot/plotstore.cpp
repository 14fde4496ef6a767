#include "plot/plotstore.h"

#include <QDateTime>
#include <QIODevice>

#include <algorithm>
#include <cmath>

namespace {

// Four independent minimums and maximums, so the processor need not wait for each
// comparison before the next; written as selections the compiler turns into min/max
// instructions (no value held is NaN).
void minMax(const double *v, qsizetype n, double &lo, double &hi)
{
    double l0 = lo, l1 = lo, l2 = lo, l3 = lo;
    double h0 = hi, h1 = hi, h2 = hi, h3 = hi;
    qsizetype i = 0;
    for (; i + 4 <= n; i += 4) {
        l0 = v[i] < l0 ? v[i] : l0;
        h0 = v[i] > h0 ? v[i] : h0;
        l1 = v[i + 1] < l1 ? v[i + 1] : l1;
        h1 = v[i + 1] > h1 ? v[i + 1] : h1;
        l2 = v[i + 2] < l2 ? v[i + 2] : l2;
        h2 = v[i + 2] > h2 ? v[i + 2] : h2;
        l3 = v[i + 3] < l3 ? v[i + 3] : l3;
        h3 = v[i + 3] > h3 ? v[i + 3] : h3;
    }
    for (; i < n; ++i) {
        l0 = v[i] < l0 ? v[i] : l0;
        h0 = v[i] > h0 ? v[i] : h0;
    }
    lo = std::min(std::min(l0, l1), std::min(l2, l3));
    hi = std::max(std::max(h0, h1), std::max(h2, h3));
}

QByteArray csvName(const QString &name)
{
    QByteArray text = name.toUtf8();
    if (!text.contains(',') && !text.contains('"') && !text.contains('\n') && !text.contains('\r'))
        return text;
    text.replace("\"", "\"\"");
    return '"' + text + '"';
}

} // namespace

PlotStore::PlotStore(qsizetype capacity)
    : m_capacity(std::max<qsizetype>(capacity, 1))
{}

void PlotStore::clear()
{
    m_series.clear();
    m_times.clear();
    m_dead = 0;
    m_frontSeq = 0;
    m_dropped = 0;
    m_ignored = 0;
    m_hint = 0;
}

int PlotStore::seriesFor(const PlotReading &r)
{
    char number[16];
    QByteArrayView key = r.name;
    if (key.isEmpty()) {
        const int n = std::snprintf(number, sizeof number, "%d", r.position);
        key = QByteArrayView(number, n);
    }
    const int count = seriesCount();
    // Frames repeat their layout: the series after the last one found is the usual answer.
    for (int k = 0; k < count; ++k) {
        const int i = (m_hint + k) % count;
        if (m_series[size_t(i)].key == key) {
            m_hint = i + 1 == count ? 0 : i + 1;
            return i;
        }
    }
    if (count >= kMaxSeries)
        return -1;
    Series s;
    s.key = key.toByteArray();
    s.stats.name = QString::fromLatin1(s.key);
    m_series.push_back(std::move(s));
    m_hint = 0;
    return count;
}

void PlotStore::addFrame(qint64 time, const std::vector<PlotReading> &readings)
{
    const qint64 seq = m_frontSeq + frameCount();
    bool held = false;
    bool dropped = false;
    for (const PlotReading &r : readings) {
        const int index = seriesFor(r);
        if (index < 0) {
            ++m_ignored;
            continue;
        }
        Series &s = m_series[size_t(index)];
        if (s.stats.unit.isEmpty() && !r.unit.isEmpty())
            s.stats.unit = QString::fromLatin1(r.unit);
        if (std::isnan(r.value)) {
            ++s.stats.notNumbers;
            continue;
        }
        Stats &st = s.stats;
        st.min = st.count ? std::min(st.min, r.value) : r.value;
        st.max = st.count ? std::max(st.max, r.value) : r.value;
        st.sum += r.value;
        st.last = r.value;
        ++st.count;
        held = true;
        dropped = s.size == m_capacity || dropped;
        m_dropped += s.size == m_capacity;
        append(s, r.value, quint32(seq), r.format);
    }
    if (!held)
        return;
    m_times.push_back(frameCount() ? std::max(time, m_times.back()) : time);
    if (dropped)
        dropOldFrames();
}

quint16 PlotStore::formatIndex(Series &s, quint32 format)
{
    if (format == s.lastFormat)
        return s.lastFormatIndex;
    const auto found = std::find(s.formatTable.begin(), s.formatTable.end(), format);
    quint16 index = kNoFormatIndex;
    if (found != s.formatTable.end()) {
        index = quint16(found - s.formatTable.begin());
    } else if (qsizetype(s.formatTable.size()) < kMaxFormats) {
        index = quint16(s.formatTable.size());
        s.formatTable.push_back(format);
    }
    s.lastFormat = format;
    s.lastFormatIndex = index;
    return index;
}

void PlotStore::append(Series &s, double value, quint32 frame, quint32 format)
{
    const quint16 f = format == kPlotNoFormat ? kNoFormatIndex : formatIndex(s, format);
    qsizetype k = s.head;
    if (s.size < m_capacity) {
        k = s.size++;
        s.values.push_back(value);
        s.frames.push_back(frame);
        s.formats.push_back(f);
    } else {
        s.values[size_t(k)] = value;
        s.frames[size_t(k)] = frame;
        s.formats[size_t(k)] = f;
        s.head = k + 1 == m_capacity ? 0 : k + 1;
    }
    // A block complete again gets its summary.
    if ((k + 1) % kBlock == 0 || k + 1 == m_capacity) {
        const size_t block = size_t(k / kBlock);
        const qsizetype start = qsizetype(block) * kBlock;
        if (s.blockMin.size() <= block) {
            s.blockMin.resize(block + 1);
            s.blockMax.resize(block + 1);
        }
        double lo = value;
        double hi = value;
        minMax(s.values.data() + start, k + 1 - start, lo, hi);
        s.blockMin[block] = lo;
        s.blockMax[block] = hi;
    }
}

void PlotStore::minMaxSlots(const Series &s, qsizetype a, qsizetype b, double &lo, double &hi) const
{
    const qsizetype next = s.size < m_capacity ? s.size : s.head;
    const qsizetype partial = next % kBlock != 0 ? next / kBlock : -1;
    while (a < b) {
        const qsizetype block = a / kBlock;
        const qsizetype end = std::min((block + 1) * kBlock, m_capacity);
        if (a == block * kBlock && end <= b && block != partial) {
            lo = std::min(lo, s.blockMin[size_t(block)]);
            hi = std::max(hi, s.blockMax[size_t(block)]);
            a = end;
            continue;
        }
        const qsizetype stop = std::min(b, end);
        minMax(s.values.data() + a, stop - a, lo, hi);
        a = stop;
    }
}

void PlotStore::dropOldFrames()
{
    qsizetype oldest = frameCount();
    for (const Series &s : m_series) {
        if (s.size > 0)
            oldest = std::min(oldest, frameOf(s, 0));
    }
    m_dead += oldest;
    m_frontSeq += oldest;
    // The times vector sheds its dead front now and then, at a cost spread over the frames.
    if (m_dead > 4096 && m_dead > frameCount()) {
        m_times.erase(m_times.begin(), m_times.begin() + m_dead);
        m_dead = 0;
    }
}

qsizetype PlotStore::firstPointFrom(const Series &s, qsizetype from, qsizetype frame) const
{
    // Galloping: a column usually holds few points, so look near first.
    qsizetype step = 1;
    qsizetype lo = from;
    qsizetype hi = from;
    while (hi < s.size && frameOf(s, hi) < frame) {
        lo = hi + 1;
        hi += step;
        step *= 2;
    }
    hi = std::min(hi, s.size);
    while (lo < hi) {
        const qsizetype mid = lo + (hi - lo) / 2;
        if (frameOf(s, mid) < frame)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

void PlotStore::reduce(int series, qint64 from, qint64 to, int width,
                       std::vector<Column> &out) const
{
    out.clear();
    if (width <= 0 || to <= from || series < 0 || series >= seriesCount())
        return;
    const Series &s = m_series[size_t(series)];
    const qint64 *times = m_times.data() + m_dead;
    const qint64 *timesEnd = m_times.data() + m_times.size();
    const qint64 span = to - from;
    // The first frame at or after column c's start, searched onward from the last answer:
    // one column's frames lie close together in memory, the whole store does not.
    const qsizetype frames = timesEnd - times;
    qsizetype frameFrom = 0;
    auto frameAt = [&](int c) {
        const qint64 bound = from + span * c / width;
        qsizetype lo = frameFrom;
        qsizetype hi = lo;
        qsizetype step = 1;
        while (hi < frames && times[hi] < bound) {
            lo = hi + 1;
            hi += step;
            step *= 2;
        }
        frameFrom = std::lower_bound(times + lo, times + std::min(hi, frames), bound) - times;
        return frameFrom;
    };
    qsizetype p = firstPointFrom(s, 0, frameAt(0));
    for (int c = 0; c < width && p < s.size; ++c) {
        const qsizetype q = firstPointFrom(s, p, frameAt(c + 1));
        if (q == p)
            continue;
        double lo = s.values[size_t(slot(s, p))];
        double hi = lo;
        // The ring holds [p, q) in at most two runs.
        const qsizetype a = slot(s, p);
        const qsizetype firstRun = std::min(q - p, m_capacity - a);
        minMaxSlots(s, a, a + firstRun, lo, hi);
        minMaxSlots(s, 0, q - p - firstRun, lo, hi);
        out.push_back({c, lo, hi});
        p = q;
    }
}

std::optional<PlotStore::Point> PlotStore::pointAt(int series, qint64 time) const
{
    if (series < 0 || series >= seriesCount())
        return std::nullopt;
    const Series &s = m_series[size_t(series)];
    const qint64 *times = m_times.data() + m_dead;
    const qsizetype frames = std::upper_bound(times, m_times.data() + m_times.size(), time) - times;
    const qsizetype i = firstPointFrom(s, 0, frames) - 1;
    if (i < 0)
        return std::nullopt;
    return Point{times[frameOf(s, i)], s.values[size_t(slot(s, i))]};
}

bool PlotStore::writeCsv(QIODevice &out) const
{
    QByteArray text = "time";
    for (const Series &s : m_series)
        text += ',' + csvName(s.stats.name);
    text += "\r\n";

    std::vector<qsizetype> next(m_series.size(), 0);
    qint64 second = -1;
    QByteArray secondText;
    const qsizetype frames = frameCount();
    for (qsizetype f = 0; f < frames; ++f) {
        const qsizetype rowStart = text.size();
        bool any = false;
        for (size_t k = 0; k < m_series.size(); ++k) {
            const Series &s = m_series[k];
            text += ',';
            // A frame that named a series twice writes its first value.
            bool first = true;
            while (next[k] < s.size && frameOf(s, next[k]) == f) {
                if (first) {
                    const size_t i = size_t(slot(s, next[k]));
                    const quint16 f = s.formats[i];
                    text += plotNumberText(s.values[i],
                                           f == kNoFormatIndex ? kPlotNoFormat : s.formatTable[f]);
                    any = true;
                    first = false;
                }
                ++next[k];
            }
        }
        if (!any) {
            text.truncate(rowStart);
            continue;
        }
        const qint64 time = m_times[size_t(m_dead + f)];
        const qint64 sec = time >= 0 ? time / 1000 : (time - 999) / 1000;
        if (sec != second) {
            second = sec;
            secondText = QDateTime::fromMSecsSinceEpoch(sec * 1000)
                             .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"))
                             .toLatin1();
        }
        char ms[8];
        std::snprintf(ms, sizeof ms, ".%03d", int(time - sec * 1000));
        text.insert(rowStart, secondText + ms);
        text += "\r\n";
        if (text.size() > (1 << 20)) {
            if (out.write(text) != text.size())
                return false;
            text.resize(0);
        }
    }
    return out.write(text) == text.size();
}
