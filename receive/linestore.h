#pragma once
// The lines a receive pane holds, without any drawing: a bounded list of lines of bytes
// (0..255, read as Latin-1) that grows at either end, trims the oldest lines, and maps
// offsets of its text to lines and columns.
//
// Adding a line costs the same whatever the store holds: line bytes live in shared 64 KiB
// blocks and the line list is a deque of small records. Lines are joined by CR LF in
// text() (by LF alone after a line that already ends in CR, so CR LF input reads as it
// came); a line longer than kMaxLineBytes continues on the next one with no break.
//
// For assistive technology the store can also record what changed in its text since the
// last takeEdits(), and hand it over as at most one removal and one insertion.
//
// Each line keeps the time it arrived (milliseconds since the epoch, 0 when unknown). While
// times are shown, every line of text() begins with its time as "HH:mm:ss.zzz " (local
// time), so copies and screen readers get them with the offsets they already use.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <deque>
#include <utility>
#include <vector>

class LineStore
{
public:
    LineStore();
    ~LineStore();
    LineStore(const LineStore &) = delete;
    LineStore &operator=(const LineStore &) = delete;

    // Longest line kept as one line.
    static constexpr qsizetype kMaxLineBytes = 4096;

    // Keeps the newest n lines (at least one); older ones are dropped, from the bottom
    // after prependLine, from the top otherwise.
    void setMaxLines(qsizetype n);
    qsizetype maxLines() const { return m_maxLines; }
    // Also drops the oldest lines while the bytes held exceed n (the newest line stays).
    void setMaxBytes(qsizetype n);
    qsizetype maxBytes() const { return m_maxBytes; }

    // Adds a line at the end, arrived at time (ms since the epoch).
    void appendLine(QByteArrayView line, qint64 time = 0);
    // Adds a line at the top (newest first); trims the bottom.
    void prependLine(QByteArrayView line, qint64 time = 0);
    // Adds raw text at the end: a line feed starts a new line; other bytes (CR included)
    // stay in the line. The text goes on the last line while that line was itself started
    // by appendText; after appendLine or prependLine it starts a new one. A line's time is
    // that of its first character.
    void appendText(QByteArrayView text, qint64 time = 0);
    // Drops every line and forgets the dropped count.
    void clear();

    qsizetype lineCount() const { return static_cast<qsizetype>(m_lines.size()); }
    QByteArrayView lineBytes(qsizetype i) const;
    QByteArray line(qsizetype i) const { return lineBytes(i).toByteArray(); }
    QString lineString(qsizetype i) const;
    // The line continues on the next one without a line break.
    bool joinsNext(qsizetype i) const { return m_lines[size_t(i)].joinsNext != 0; }
    // Characters of the line break after line i (0, 1 or 2).
    int separatorAfter(qsizetype i) const;
    // When line i arrived, in ms since the epoch (0: not known).
    qint64 lineTime(qsizetype i) const { return m_lines[size_t(i)].time(); }

    // Characters of the time at the start of each line while times are shown.
    static constexpr qsizetype kTimeLength = 13;
    // "HH:mm:ss.zzz" in local time; blanks for an unknown time (0).
    static QString timeText(qint64 time);
    // Appends timeText(time) and its blank as Latin-1: the kTimeLength characters a line's
    // text begins with while times are shown.
    static void appendTimeText(QByteArray &out, qint64 time);
    // Shows or hides the times in text() and every offset; costs a pass over the lines.
    // Records no edit: a tracking caller announces the whole text afresh.
    void setTimesShown(bool on);
    bool timesShown() const { return m_prefix > 0; }
    // Characters before line i's bytes in its text (its time, while shown).
    qsizetype prefixLength() const { return m_prefix; }

    qsizetype droppedTop() const { return m_droppedTop; }
    qsizetype droppedBottom() const { return m_droppedBottom; }
    qsizetype droppedLines() const { return m_droppedTop + m_droppedBottom; }
    qsizetype bytes() const { return m_bytes; }
    // The last addition was prependLine: the bottom holds the oldest line.
    bool newestOnTop() const { return m_newestOnTop; }
    // The last line still takes appendText bytes.
    bool lastOpen() const { return m_lastOpen; }
    // Numbers lines from an ever-running count: line i is frontSeq() + i while it is held.
    qint64 frontSeq() const { return m_frontSeq; }

    // Offsets count characters of text().
    QString text() const { return textRange(0, characterCount()); }
    qsizetype characterCount() const;
    QString textRange(qsizetype start, qsizetype end) const;
    qsizetype offsetOf(qsizetype line, qsizetype column) const;
    // Offset of the first character of line i (of its time, while shown).
    qsizetype lineOffset(qsizetype i) const;
    // The line holding an offset (a line break belongs to the line before it).
    qsizetype lineIndexAt(qsizetype offset) const;
    // Line and column of an offset; an offset inside a line break maps to the line's end.
    void positionAt(qsizetype offset, qsizetype *line, qsizetype *column) const;

    // A place in the text that survives lines arriving and going: seq numbers lines as
    // frontSeq() does, so a place names the same line while that line is held.
    struct Place
    {
        qint64 seq = 0;
        qsizetype col = 0;
    };
    // The nearest place held: the first or last when its line is gone, the line's end
    // when the column lies past it.
    Place clamp(Place p) const;
    qsizetype offsetOf(Place p) const;
    Place placeAt(qsizetype offset) const;

    // The run of word characters, of blanks or of other characters in a line around a
    // column (what a double click selects); start == end on an empty line.
    void wordAt(qsizetype line, qsizetype column, qsizetype *start, qsizetype *end) const;

    // Lines added at each end since the last takeNewLines(), for a view that measures
    // only what it has not seen; the last line may also have grown (lastOpen()).
    struct NewLines
    {
        qsizetype front = 0;
        qsizetype back = 0;
    };
    NewLines takeNewLines() { return std::exchange(m_new, NewLines{}); }

    // One change to the text as a screen reader replays it: at position (in the text as
    // it is once the edits before it are applied) remove `removed`, then insert `inserted`.
    struct TextEdit
    {
        qsizetype position = 0;
        QString removed;
        QString inserted;
        bool operator==(const TextEdit &) const = default;
    };
    // Starts (or stops) recording changes from the text as it is now.
    void setTracking(bool on);
    bool isTracking() const { return m_track; }
    // What changed since tracking started or the last call, and starts afresh. Changes
    // at one end come as one edit; at both ends as a removal followed by an insertion;
    // a pane that grew or shrank at both ends at once as one edit of the whole text.
    QList<TextEdit> takeEdits();

private:
    struct Chunk;
    // 24 bytes, the time included: a full log holds 100,000 of them.
    struct Line
    {
        Chunk *chunk = nullptr;
        qint64 absStart : 48 = 0; // offset of the first character in an ever-running count
        qint64 timeHigh : 16 = 0;
        quint32 offset : 17 = 0; // of the bytes in chunk, up to its 64 KiB end
        quint32 len : 13 = 0;    // up to kMaxLineBytes
        quint32 joinsNext : 1 = 0;
        quint32 timeLow = 0;

        qint64 time() const { return (qint64(timeHigh) << 32) | timeLow; }
        void setTime(qint64 t)
        {
            timeHigh = t >> 32;
            timeLow = quint32(t);
        }
    };
    static_assert(sizeof(Line) == 24);
    static_assert(kMaxLineBytes < (1 << 13));

    const char *data(const Line &l) const;
    void appendRange(QString &out, qsizetype start, qsizetype end) const;
    // Appends characters [from, from + count) of line i's text: time, bytes, then breakLength
    // characters of line break.
    void appendLinePart(QString &out, qsizetype i, int breakLength, qsizetype from,
                        qsizetype count) const;
    static int separatorLength(const Line &l, const char *bytes);
    char *allocate(qsizetype n, Chunk **chunk, quint32 *offset);
    // Copies n bytes into fresh storage for l and sets its length and time; returns them.
    char *fill(Line &l, const char *bytes, qsizetype n, qint64 time);
    void release(Chunk *chunk);
    void pushBack(const char *bytes, qsizetype n, qint64 time);
    void pushFront(const char *bytes, qsizetype n, bool joinsNext, qint64 time);
    void growBack(const char *bytes, qsizetype n, qint64 time);
    // Gives the last line its time unless it has one.
    void stampBack(qint64 time);
    void popFront();
    void popBack();
    void trim();
    void noteRemoved(bool atFront, qsizetype length, qsizetype line);
    void resetEdits();

    std::deque<Line> m_lines;
    std::vector<Chunk *> m_chunks; // every block in use; the last one is being filled
    Chunk *m_spare = nullptr;
    qint64 m_frontSeq = 0;
    qsizetype m_bytes = 0;
    qsizetype m_maxLines = 100000;
    qsizetype m_maxBytes = 32 * 1024 * 1024;
    qsizetype m_droppedTop = 0;
    qsizetype m_droppedBottom = 0;
    bool m_lastOpen = false;
    bool m_newestOnTop = false;
    qsizetype m_prefix = 0; // kTimeLength while times are shown
    NewLines m_new;

    // What changed since the last takeEdits(), as removed and inserted stretches at both
    // ends around an unchanged middle.
    bool m_track = false;
    qsizetype m_insertedFront = 0;
    qsizetype m_insertedBack = 0;
    QString m_removedFront;
    QList<QString> m_removedBack; // in order of removal, so the last one comes first
};
