#include "plot/plotstore.h"

#include <QDateTime>
#include <QIODevice>

#include <algorithm>
#include <cmath>

namespace {

// Kept free of branches the compiler cannot turn into min/max instructions: no value held
// is NaN.
void minMax(const double *v, qsizetype n, double &lo, double &hi)
{
    for (qsizetype i = 0; i < n; ++i) {
        lo = v[i] < lo ? v[i] : lo;
        hi = v[i] > hi ? v[i] : hi;
    }
}

QByteArray csvName(const QString &name)
{
    QByteArray text = name.toUtf8();
    if (!text.contains(',') && !text.contains('"') && !text.contains('\n') &&
        !text.contains('\r'))
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
        if (s.size < m_capacity) {
            s.values.push_back(r.value);
            s.frames.push_back(quint32(seq));
            s.formats.push_back(r.format);
            ++s.size;
            continue;
        }
        const size_t k = size_t(s.head);
        s.values[k] = r.value;
        s.frames[k] = quint32(seq);
        s.formats[k] = r.format;
        s.head = s.head + 1 == m_capacity ? 0 : s.head + 1;
        ++m_dropped;
        dropped = true;
    }
    if (!held)
        return;
    m_times.push_back(frameCount() ? std::max(time, m_times.back()) : time);
    if (dropped)
        dropOldFrames();
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
    auto frameAt = [&](int c) {
        return std::lower_bound(times, timesEnd, from + span * c / width) - times;
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
        minMax(s.values.data() + a, firstRun, lo, hi);
        minMax(s.values.data(), q - p - firstRun, lo, hi);
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
                    text += plotNumberText(s.values[i], s.formats[i]);
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
