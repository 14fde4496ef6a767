#include "receive/linestore.h"

#include <QDateTime>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

constexpr quint32 kChunkBytes = 64 * 1024;
static_assert(kChunkBytes < (1 << 17)); // a line's offset in its block has 17 bits

QByteArrayView breakBytes(int length)
{
    return QByteArrayView("\r\n").last(length);
}

// Appends count characters of bytes from index from, clipped to the bytes there are.
void appendLatin1(QString &out, QByteArrayView bytes, qsizetype from, qsizetype count)
{
    const qsizetype begin = std::clamp<qsizetype>(from, 0, bytes.size());
    const qsizetype end = std::clamp<qsizetype>(from + count, begin, bytes.size());
    if (end > begin)
        out.append(QLatin1StringView(bytes.sliced(begin, end - begin)));
}

enum class CharClass {
    Word,
    Space,
    Other
};

CharClass classOf(char ch)
{
    const auto b = uchar(ch);
    if (QChar(char16_t(b)).isLetterOrNumber() || b == '_')
        return CharClass::Word;
    if (b == ' ' || b == '\t')
        return CharClass::Space;
    return CharClass::Other;
}

} // namespace

struct LineStore::Chunk
{
    explicit Chunk(quint32 cap)
        : data(new char[cap])
        , capacity(cap)
    {}
    std::unique_ptr<char[]> data;
    quint32 capacity = 0;
    quint32 used = 0;
    quint32 live = 0; // lines whose bytes are here
};

LineStore::LineStore() = default;

LineStore::~LineStore()
{
    for (Chunk *c : m_chunks)
        delete c;
    delete m_spare;
}

const char *LineStore::data(const Line &l) const
{
    return l.chunk->data.get() + l.offset;
}

int LineStore::separatorLength(const Line &l, const char *bytes)
{
    if (l.joinsNext)
        return 0;
    // A line that already ends in CR needs only the LF, so CR LF input copies unchanged.
    return (l.len > 0 && bytes[l.len - 1] == '\r') ? 1 : 2;
}

int LineStore::separatorAfter(qsizetype i) const
{
    if (i + 1 >= lineCount())
        return 0;
    const Line &l = m_lines[size_t(i)];
    return separatorLength(l, data(l));
}

QByteArrayView LineStore::lineBytes(qsizetype i) const
{
    const Line &l = m_lines.at(size_t(i));
    return QByteArrayView(data(l), l.len);
}

QString LineStore::lineString(qsizetype i) const
{
    const Line &l = m_lines[size_t(i)];
    return QString::fromLatin1(data(l), l.len);
}

char *LineStore::allocate(qsizetype n, Chunk **chunk, quint32 *offset)
{
    Chunk *c = m_chunks.empty() ? nullptr : m_chunks.back();
    if (!c || c->capacity - c->used < quint32(n)) {
        c = m_spare ? std::exchange(m_spare, nullptr) : new Chunk(kChunkBytes);
        c->used = 0;
        c->live = 0;
        m_chunks.push_back(c);
    }
    *offset = c->used;
    c->used += quint32(n);
    ++c->live;
    *chunk = c;
    return c->data.get() + *offset;
}

void LineStore::release(Chunk *c)
{
    if (--c->live > 0)
        return;
    if (c == m_chunks.back()) {
        c->used = 0; // nothing refers to it: fill it again from the start
        return;
    }
    // Blocks empty in arrival order, so the one to drop is nearly always the first.
    m_chunks.erase(std::find(m_chunks.begin(), m_chunks.end(), c));
    if (!m_spare)
        m_spare = c;
    else
        delete c;
}

qsizetype LineStore::characterCount() const
{
    if (m_lines.empty())
        return 0;
    const Line &b = m_lines.back();
    return qsizetype(b.absStart + m_prefix + b.len - m_lines.front().absStart);
}

namespace {

// "HH:mm:ss" in local time for time (> 0). Working out local time costs microseconds;
// lines arrive many to a second.
const QString &secondText(qint64 time)
{
    thread_local qint64 cachedSecond = -1;
    thread_local QString cachedText;
    const qint64 second = time / 1000;
    if (second != cachedSecond) {
        cachedText = QDateTime::fromMSecsSinceEpoch(second * 1000).toString(u"HH:mm:ss");
        cachedSecond = second;
    }
    return cachedText;
}

} // namespace

QString LineStore::timeText(qint64 time)
{
    if (time <= 0)
        return QString(kTimeLength - 1, QLatin1Char(' '));
    const int ms = int(time % 1000);
    QString out = secondText(time);
    out += QLatin1Char('.');
    out += QLatin1Char(char('0' + ms / 100));
    out += QLatin1Char(char('0' + ms / 10 % 10));
    out += QLatin1Char(char('0' + ms % 10));
    return out;
}

void LineStore::appendTimeText(QByteArray &out, qint64 time)
{
    if (time <= 0) {
        out.append(kTimeLength, ' ');
        return;
    }
    for (QChar c : secondText(time))
        out += char(c.unicode());
    const int ms = int(time % 1000);
    out += '.';
    out += char('0' + ms / 100);
    out += char('0' + ms / 10 % 10);
    out += char('0' + ms % 10);
    out += ' ';
}

void LineStore::setTimesShown(bool on)
{
    const qsizetype prefix = on ? kTimeLength : 0;
    if (prefix == m_prefix)
        return;
    m_prefix = prefix;
    qint64 abs = m_lines.empty() ? 0 : m_lines.front().absStart;
    for (Line &l : m_lines) {
        l.absStart = abs;
        abs += m_prefix + l.len + separatorLength(l, data(l));
    }
    resetEdits();
}

void LineStore::appendLinePart(QString &out, qsizetype i, int breakLength, qsizetype from,
                               qsizetype count) const
{
    const Line &l = m_lines[size_t(i)];
    const qsizetype to = from + count;
    if (from < m_prefix) {
        const QString time = timeText(l.time()) + QLatin1Char(' ');
        out += QStringView(time).sliced(from, std::min(to, m_prefix) - from);
    }
    appendLatin1(out, QByteArrayView(data(l), l.len), from - m_prefix, count);
    appendLatin1(out, breakBytes(breakLength), from - m_prefix - l.len, count);
}

qsizetype LineStore::lineOffset(qsizetype i) const
{
    return qsizetype(m_lines[size_t(i)].absStart - m_lines.front().absStart);
}

qsizetype LineStore::lineIndexAt(qsizetype offset) const
{
    if (m_lines.empty())
        return 0;
    const qint64 abs = m_lines.front().absStart + offset;
    auto it = std::upper_bound(m_lines.begin(), m_lines.end(), abs,
                               [](qint64 a, const Line &l) { return a < l.absStart; });
    return std::max<qsizetype>(0, qsizetype(it - m_lines.begin()) - 1);
}

void LineStore::noteRemoved(bool atFront, qsizetype length, qsizetype line)
{
    // The text is [inserted at front][unchanged middle][inserted at back]; removals eat
    // into it from their end and only what leaves the middle was there before.
    const qsizetype middle = characterCount() - m_insertedFront - m_insertedBack;
    qsizetype &near = atFront ? m_insertedFront : m_insertedBack;
    qsizetype &far = atFront ? m_insertedBack : m_insertedFront;
    const qsizetype fromNear = std::min(length, near);
    near -= fromNear;
    const qsizetype fromMiddle = std::min(length - fromNear, middle);
    far -= length - fromNear - fromMiddle;
    if (fromMiddle == 0)
        return; // never announced: nothing to take back
    // The removed stretch is the line with the break after it (front) or before it (back);
    // the part of it that was announced is appended straight from the line's bytes.
    if (atFront) {
        appendLinePart(m_removedFront, line, separatorAfter(line), fromNear, fromMiddle);
        return;
    }
    const int lineBreak = line > 0 ? separatorAfter(line - 1) : 0;
    const qsizetype from = length - fromNear - fromMiddle;
    const qsizetype to = from + fromMiddle;
    QString piece;
    appendLatin1(piece, breakBytes(lineBreak), from, std::min<qsizetype>(to, lineBreak) - from);
    const qsizetype inLine = std::max<qsizetype>(from, lineBreak);
    if (to > inLine)
        appendLinePart(piece, line, 0, inLine - lineBreak, to - inLine);
    m_removedBack.append(piece);
}

char *LineStore::fill(Line &l, const char *bytes, qsizetype n, qint64 time)
{
    quint32 offset = 0;
    char *dst = allocate(n, &l.chunk, &offset);
    l.offset = offset;
    if (n)
        std::memcpy(dst, bytes, size_t(n));
    l.len = quint16(n);
    l.setTime(time);
    return dst;
}

void LineStore::pushBack(const char *bytes, qsizetype n, qint64 time)
{
    Line l;
    if (!m_lines.empty()) {
        const Line &b = m_lines.back();
        const int sep = separatorLength(b, data(b));
        l.absStart = b.absStart + m_prefix + b.len + sep;
        if (m_track)
            m_insertedBack += sep;
    }
    fill(l, bytes, n, time);
    m_lines.push_back(l);
    m_bytes += n;
    ++m_new.back;
    if (m_track)
        m_insertedBack += m_prefix + n;
}

void LineStore::pushFront(const char *bytes, qsizetype n, bool joinsNext, qint64 time)
{
    Line l;
    l.joinsNext = joinsNext;
    const char *dst = fill(l, bytes, n, time);
    int sep = 0;
    if (!m_lines.empty()) {
        sep = separatorLength(l, dst);
        l.absStart = m_lines.front().absStart - m_prefix - n - sep;
    }
    m_lines.push_front(l);
    --m_frontSeq;
    m_bytes += n;
    ++m_new.front;
    if (m_track)
        m_insertedFront += m_prefix + n + sep;
}

void LineStore::growBack(const char *bytes, qsizetype n, qint64 time)
{
    Line &l = m_lines.back();
    stampBack(time);
    Chunk *c = l.chunk;
    if (c == m_chunks.back() && quint32(l.offset + l.len) == c->used &&
        c->capacity - c->used >= quint32(n)) {
        std::memcpy(c->data.get() + c->used, bytes, size_t(n));
        c->used += quint32(n);
    } else {
        Chunk *nc = nullptr;
        quint32 off = 0;
        char *dst = allocate(l.len + n, &nc, &off);
        std::memcpy(dst, data(l), l.len);
        std::memcpy(dst + l.len, bytes, size_t(n));
        l.chunk = nc;
        l.offset = off;
        release(c);
    }
    l.len = quint16(l.len + n);
    m_bytes += n;
    if (m_track)
        m_insertedBack += n;
}

void LineStore::stampBack(qint64 time)
{
    Line &l = m_lines.back();
    if (l.time() != 0 || time == 0)
        return;
    if (!m_track || m_prefix == 0) {
        l.setTime(time);
        return;
    }
    // A shown time replaces the blanks a screen reader may have read: the line goes and
    // comes back.
    const qsizetype last = lineCount() - 1;
    const qsizetype length = (last > 0 ? separatorAfter(last - 1) : 0) + m_prefix + l.len;
    noteRemoved(false, length, last);
    l.setTime(time);
    m_insertedBack += length;
}

void LineStore::popFront()
{
    const Line l = m_lines.front();
    if (m_track)
        noteRemoved(true, m_prefix + l.len + separatorAfter(0), 0);
    m_bytes -= l.len;
    m_lines.pop_front();
    ++m_frontSeq;
    release(l.chunk);
    if (m_new.front > 0)
        --m_new.front;
    m_new.back = std::min(m_new.back, lineCount());
    if (m_lines.empty())
        m_lastOpen = false;
}

void LineStore::popBack()
{
    const qsizetype last = lineCount() - 1;
    const Line l = m_lines.back();
    if (m_track)
        noteRemoved(false, (last > 0 ? separatorAfter(last - 1) : 0) + m_prefix + l.len, last);
    m_bytes -= l.len;
    m_lines.pop_back();
    release(l.chunk);
    if (!m_lines.empty())
        m_lines.back().joinsNext = false; // its continuation is gone
    if (m_new.back > 0)
        --m_new.back;
    m_new.front = std::min(m_new.front, lineCount());
    m_lastOpen = false;
}

void LineStore::trim()
{
    while (!m_lines.empty() &&
           (lineCount() > m_maxLines || (m_bytes > m_maxBytes && lineCount() > 1))) {
        if (m_newestOnTop) {
            popBack();
            ++m_droppedBottom;
        } else {
            popFront();
            ++m_droppedTop;
        }
    }
}

void LineStore::setMaxLines(qsizetype n)
{
    m_maxLines = n < 1 ? 1 : n;
    trim();
}

void LineStore::setMaxBytes(qsizetype n)
{
    m_maxBytes = n < 1 ? 1 : n;
    trim();
}

void LineStore::appendLine(QByteArrayView line, qint64 time)
{
    m_newestOnTop = false;
    m_lastOpen = false;
    const char *p = line.data();
    qsizetype n = line.size();
    bool first = true;
    do {
        const qsizetype k = std::min(n, kMaxLineBytes);
        if (!first)
            m_lines.back().joinsNext = true;
        pushBack(p, k, time);
        first = false;
        p += k;
        n -= k;
    } while (n > 0);
    trim();
}

void LineStore::prependLine(QByteArrayView line, qint64 time)
{
    m_newestOnTop = true;
    const bool wasEmpty = m_lines.empty();
    const qsizetype n = line.size();
    // Pieces of an over-long line go on top last-first, so they read in order.
    qsizetype start = n > 0 ? ((n - 1) / kMaxLineBytes) * kMaxLineBytes : 0;
    bool last = true;
    for (;;) {
        pushFront(line.data() + start, std::min(kMaxLineBytes, n - start), !last, time);
        last = false;
        if (start == 0)
            break;
        start -= kMaxLineBytes;
    }
    if (wasEmpty)
        m_lastOpen = false;
    trim();
}

void LineStore::appendText(QByteArrayView text, qint64 time)
{
    if (text.isEmpty())
        return;
    m_newestOnTop = false;
    const char *p = text.data();
    const char *end = p + text.size();
    // A line opened here takes its time from its first character, the line feed included.
    while (p < end) {
        const char *lf = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        const char *segEnd = lf ? lf : end;
        if (!m_lastOpen) {
            pushBack(p, 0, 0);
            m_lastOpen = true;
        }
        while (p < segEnd) {
            const qsizetype room = kMaxLineBytes - m_lines.back().len;
            if (room == 0) {
                m_lines.back().joinsNext = true;
                pushBack(p, 0, 0);
                continue;
            }
            const qsizetype k = std::min<qsizetype>(room, segEnd - p);
            growBack(p, k, time);
            p += k;
        }
        if (lf) {
            stampBack(time);
            pushBack(p, 0, 0);
            p = lf + 1;
        }
    }
    trim();
}

void LineStore::appendRange(QString &out, qsizetype start, qsizetype end) const
{
    const qsizetype n = characterCount();
    start = std::clamp<qsizetype>(start, 0, n);
    end = std::clamp<qsizetype>(end, 0, n);
    if (start >= end)
        return;
    out.reserve(out.size() + end - start);
    qsizetype pos = start;
    for (qsizetype i = lineIndexAt(start); pos < end && i < lineCount(); ++i) {
        const qsizetype lineOff = lineOffset(i);
        const int sep = separatorAfter(i);
        const qsizetype lineEnd = m_prefix + m_lines[size_t(i)].len + sep;
        const qsizetype to = std::min<qsizetype>(lineEnd, end - lineOff);
        appendLinePart(out, i, sep, pos - lineOff, to - (pos - lineOff));
        pos = lineOff + to;
    }
}

QString LineStore::textRange(qsizetype start, qsizetype end) const
{
    QString out;
    appendRange(out, start, end);
    return out;
}

qsizetype LineStore::offsetOf(qsizetype line, qsizetype column) const
{
    if (m_lines.empty())
        return 0;
    line = std::clamp<qsizetype>(line, 0, lineCount() - 1);
    return lineOffset(line) + m_prefix +
           std::clamp<qsizetype>(column, 0, m_lines[size_t(line)].len);
}

void LineStore::positionAt(qsizetype offset, qsizetype *line, qsizetype *column) const
{
    *line = 0;
    *column = 0;
    if (m_lines.empty())
        return;
    offset = std::clamp<qsizetype>(offset, 0, characterCount());
    *line = lineIndexAt(offset);
    *column =
        std::clamp<qsizetype>(offset - lineOffset(*line) - m_prefix, 0, m_lines[size_t(*line)].len);
}

LineStore::Place LineStore::clamp(Place p) const
{
    if (m_lines.empty())
        return Place{m_frontSeq, 0};
    const qint64 backSeq = m_frontSeq + lineCount() - 1;
    if (p.seq < m_frontSeq)
        return Place{m_frontSeq, 0};
    if (p.seq > backSeq)
        return Place{backSeq, m_lines.back().len};
    p.col = std::clamp<qsizetype>(p.col, 0, m_lines[size_t(p.seq - m_frontSeq)].len);
    return p;
}

qsizetype LineStore::offsetOf(Place p) const
{
    p = clamp(p);
    return offsetOf(qsizetype(p.seq - m_frontSeq), p.col);
}

LineStore::Place LineStore::placeAt(qsizetype offset) const
{
    qsizetype line = 0;
    qsizetype column = 0;
    positionAt(offset, &line, &column);
    return Place{m_frontSeq + line, column};
}

void LineStore::wordAt(qsizetype line, qsizetype column, qsizetype *start, qsizetype *end) const
{
    const QByteArrayView l = lineBytes(line);
    *start = *end = 0;
    if (l.isEmpty())
        return;
    const qsizetype at = std::clamp<qsizetype>(column, 0, l.size() - 1);
    const CharClass k = classOf(l[at]);
    qsizetype s = at;
    qsizetype e = at + 1;
    while (s > 0 && classOf(l[s - 1]) == k)
        --s;
    while (e < l.size() && classOf(l[e]) == k)
        ++e;
    *start = s;
    *end = e;
}

void LineStore::clear()
{
    if (m_track) {
        // Everything there before goes; what came since was never announced.
        const qsizetype n = characterCount();
        appendRange(m_removedFront, m_insertedFront, n - m_insertedBack);
        for (auto it = m_removedBack.crbegin(); it != m_removedBack.crend(); ++it)
            m_removedFront += *it;
        m_removedBack.clear();
        m_insertedFront = m_insertedBack = 0;
    }
    for (Chunk *c : m_chunks)
        delete c;
    m_chunks.clear();
    m_lines.clear();
    m_bytes = 0;
    m_droppedTop = m_droppedBottom = 0;
    m_lastOpen = false;
    m_new = NewLines{};
}

void LineStore::resetEdits()
{
    m_insertedFront = m_insertedBack = 0;
    m_removedFront.clear();
    m_removedBack.clear();
}

void LineStore::setTracking(bool on)
{
    m_track = on;
    resetEdits();
}

QList<LineStore::TextEdit> LineStore::takeEdits()
{
    QList<TextEdit> edits;
    if (!m_track)
        return edits;
    const qsizetype n = characterCount();
    const qsizetype middle = n - m_insertedFront - m_insertedBack;
    QString removedBack;
    for (auto it = m_removedBack.crbegin(); it != m_removedBack.crend(); ++it)
        removedBack += *it;
    if ((!m_removedFront.isEmpty() && !removedBack.isEmpty()) ||
        (m_insertedFront > 0 && m_insertedBack > 0)) {
        // Grown or shrunk at both ends (a pane switched between adding at the top and at
        // the bottom): one edit of the whole text says it without a second removal.
        QString before = m_removedFront;
        appendRange(before, m_insertedFront, n - m_insertedBack);
        edits.append({0, before + removedBack, text()});
    } else {
        const TextEdit front{0, m_removedFront, textRange(0, m_insertedFront)};
        const TextEdit back{middle, removedBack, textRange(n - m_insertedBack, n)};
        const bool frontChanged = !front.removed.isEmpty() || !front.inserted.isEmpty();
        const bool backChanged = !back.removed.isEmpty() || !back.inserted.isEmpty();
        // With both ends changed one end lost text and the other gained it: the removal
        // goes first so that each position counts in the text the edit finds.
        if (frontChanged && backChanged && front.removed.isEmpty())
            edits << back << front;
        else if (frontChanged && backChanged)
            edits << front << back;
        else if (frontChanged)
            edits << front;
        else if (backChanged)
            edits << back;
    }
    resetEdits();
    return edits;
}
