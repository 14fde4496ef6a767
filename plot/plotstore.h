#pragma once
// The readings the Plot window shows: one series per name, in order of first appearance,
// each holding up to `capacity` points (the oldest dropped and counted past that), and the
// arrival time of every frame that held a number.
//
// A point takes 14 bytes and an eighth: its value, the low 32 bits of its frame's number,
// 2 bytes naming how the value was written (in a table per series: an instrument writes
// few layouts), so an export writes it as it came, and its share of the minimum and
// maximum kept per block of kBlock points. A frame takes 8 bytes, its time.
//
// For drawing, reduce() gives per pixel column of a time span the minimum and maximum of
// the points in it: what a line drawn at that width can show. Whole blocks inside a column
// are read from their summary, so a wide span reads a fraction of its points.

#include "plot/plotfields.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>
#include <vector>

class QIODevice;

class PlotStore
{
public:
    static constexpr qsizetype kDefaultCapacity = qsizetype(1) << 20;
    // New names past this many series are not added; their readings are counted.
    static constexpr int kMaxSeries = 256;

    explicit PlotStore(qsizetype capacity = kDefaultCapacity);

    // Adds a frame's readings, arrived at time (ms since the epoch). A time before the
    // last frame's counts as the last frame's, so time never runs backwards in the store.
    void addFrame(qint64 time, const std::vector<PlotReading> &readings);
    void clear();

    struct Stats
    {
        QString name;
        QString unit;
        qint64 count = 0;      // numbers taken since the last clear
        qint64 notNumbers = 0; // readings that were not a number
        double last = 0;
        double min = 0;
        double max = 0;
        double sum = 0;
        double mean() const { return count ? sum / double(count) : 0; }
    };
    int seriesCount() const { return int(m_series.size()); }
    const Stats &stats(int series) const { return m_series[size_t(series)].stats; }
    qsizetype pointCount(int series) const { return m_series[size_t(series)].size; }
    qsizetype capacity() const { return m_capacity; }
    // Points dropped from all series to keep within capacity.
    qint64 droppedPoints() const { return m_dropped; }
    // Readings of names past kMaxSeries.
    qint64 ignoredReadings() const { return m_ignored; }
    qsizetype frameCount() const { return qsizetype(m_times.size()) - m_dead; }
    // Time of the oldest and newest frame held (0 when none).
    qint64 firstTime() const { return frameCount() ? m_times[size_t(m_dead)] : 0; }
    qint64 lastTime() const { return frameCount() ? m_times.back() : 0; }

    // Column c of width covers times [from + span*c/width, from + span*(c+1)/width) with
    // span = to - from (integer division); a column without points gives nothing.
    struct Column
    {
        int column = 0;
        double min = 0;
        double max = 0;
    };
    void reduce(int series, qint64 from, qint64 to, int width, std::vector<Column> &out) const;

    struct Point
    {
        qint64 time = 0;
        double value = 0;
    };
    // The series' last point at or before time.
    std::optional<Point> pointAt(int series, qint64 time) const;

    // CSV: "time," and the series names, then one row per frame held that still holds a
    // point: local time as yyyy-MM-ddTHH:mm:ss.zzz and each series' value as it came, an
    // empty cell where the frame has none. Returns false when a write failed.
    bool writeCsv(QIODevice &out) const;

private:
    struct Series
    {
        QByteArray key;
        Stats stats;
        // Rings of size points from head (the oldest), growing until capacity.
        std::vector<double> values;
        std::vector<quint32> frames;  // low 32 bits of the frame's number
        std::vector<quint16> formats; // index in formatTable; kNoFormatIndex: none
        qsizetype head = 0;
        qsizetype size = 0;
        // Per block of kBlock ring slots, once all its slots are written; the block the
        // next point goes to is read point by point while partly rewritten.
        std::vector<double> blockMin;
        std::vector<double> blockMax;
        std::vector<quint32> formatTable;
        quint32 lastFormat = kPlotNoFormat;
        quint16 lastFormatIndex = kNoFormatIndex;
    };
    static constexpr qsizetype kBlock = 128;
    static constexpr quint16 kNoFormatIndex = 0xFFFF;
    static constexpr qsizetype kMaxFormats = 4096;
    static quint16 formatIndex(Series &s, quint32 format);
    void append(Series &s, double value, quint32 frame, quint32 format);
    // Minimum and maximum of ring slots [a, b) of s.
    void minMaxSlots(const Series &s, qsizetype a, qsizetype b, double &lo, double &hi) const;
    int seriesFor(const PlotReading &r);
    // Index in the rings of point i of s.
    qsizetype slot(const Series &s, qsizetype i) const
    {
        const qsizetype k = s.head + i;
        return k >= m_capacity ? k - m_capacity : k;
    }
    // Point i's frame as an index among the frames held.
    qsizetype frameOf(const Series &s, qsizetype i) const
    {
        return qsizetype(quint32(s.frames[size_t(slot(s, i))] - quint32(m_frontSeq)));
    }
    // The first point of s at or after point from whose frame is at least frame.
    qsizetype firstPointFrom(const Series &s, qsizetype from, qsizetype frame) const;
    void dropOldFrames();

    qsizetype m_capacity = kDefaultCapacity;
    std::vector<Series> m_series;
    std::vector<qint64> m_times; // frames from m_dead on are held
    qsizetype m_dead = 0;
    qint64 m_frontSeq = 0; // number of the oldest frame held
    qint64 m_dropped = 0;
    qint64 m_ignored = 0;
    int m_hint = 0; // where the next reading's series is looked for first
};
