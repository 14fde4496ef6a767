#include "receive/lineview.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStyleHints>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr quint32 kChunkBytes = 64 * 1024;
// Long enough to gather a burst into one repaint, short enough to look live.
constexpr int kFlushMs = 33;
constexpr int kMargin = 3;
constexpr int kAutoScrollMs = 50;

LineView::AccessibleNotifier s_notifier = nullptr;

constexpr qreal kBoxPad = 1.5;

// Control codes get a boxed name rather than a glyph: fonts differ in what they hold for
// them (most have no control pictures) and a missing-glyph box looks the same for all.
bool boxed(uchar b)
{
    return b < 32 || (b >= 127 && b < 160);
}

const QString &boxLabel(uchar b)
{
    static const std::array<QString, 256> labels = [] {
        static const char *const names[32] = {
            "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",
            "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
            "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
        std::array<QString, 256> l;
        for (int i = 0; i < 32; ++i)
            l[size_t(i)] = QLatin1String(names[i]);
        l[127] = QStringLiteral("DEL");
        for (int i = 128; i < 160; ++i)
            l[size_t(i)] = QLatin1Char('x') + QString::number(i, 16).toUpper();
        return l;
    }();
    return labels[b];
}

QChar displayChar(uchar b)
{
    if (b == 0xAD)
        return QLatin1Char('-'); // a soft hyphen would be drawn with no width
    return QChar(char16_t(b));
}

} // namespace

struct LineView::Chunk
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

// ---------------------------------------------------------------------------------------
// Accessibility

class LineViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit LineViewAccessible(LineView *view)
        : QAccessibleWidget(view, QAccessible::EditableText)
    {}

    LineView *view() const { return static_cast<LineView *>(object()); }

    void *interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        s.editable = false;
        s.multiLine = true;
        s.selectableText = true;
        s.focusable = true;
        return s;
    }

    QString text(QAccessible::Text t) const override
    {
        QString s = QAccessibleWidget::text(t);
        if (t == QAccessible::Description) {
            const QString notice = view()->droppedNotice();
            if (!notice.isEmpty())
                s = s.isEmpty() ? notice : s + QLatin1Char(' ') + notice;
        }
        return s;
    }

    void selection(int selectionIndex, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = 0;
        if (selectionIndex != 0 || !view()->hasSelection())
            return;
        qsizetype s = 0;
        qsizetype e = 0;
        view()->selectionRange(&s, &e);
        *startOffset = int(s);
        *endOffset = int(e);
    }
    int selectionCount() const override { return view()->hasSelection() ? 1 : 0; }
    void addSelection(int startOffset, int endOffset) override
    {
        view()->setSelection(startOffset, endOffset);
    }
    void removeSelection(int selectionIndex) override
    {
        if (selectionIndex == 0)
            view()->clearSelection();
    }
    void setSelection(int selectionIndex, int startOffset, int endOffset) override
    {
        if (selectionIndex == 0)
            view()->setSelection(startOffset, endOffset);
    }
    int cursorPosition() const override { return int(view()->cursorOffset()); }
    void setCursorPosition(int position) override { view()->setSelection(position, position); }

    QString text(int startOffset, int endOffset) const override
    {
        return view()->textRange(startOffset, endOffset);
    }
    int characterCount() const override { return int(view()->characterCount()); }

    // Works within the line that holds the offset, so a query never copies the whole pane.
    QString textAtOffset(int offset, QAccessible::TextBoundaryType type, int *startOffset,
                         int *endOffset) const override
    {
        const LineView *v = view();
        const qsizetype n = v->characterCount();
        *startOffset = *endOffset = -1;
        if (offset < 0 || offset > n)
            return {};
        if (type == QAccessible::NoBoundary) {
            *startOffset = 0;
            *endOffset = int(n);
            return v->textRange(0, n);
        }
        if (offset == n) {
            *startOffset = *endOffset = int(n);
            return {};
        }
        if (type == QAccessible::CharBoundary) {
            *startOffset = offset;
            *endOffset = offset + 1;
            return v->textRange(offset, offset + 1);
        }
        const qsizetype i = v->lineIndexAt(offset);
        const qsizetype lineStart = v->lineOffset(i);
        const qsizetype len = v->m_lines[size_t(i)].len;
        const qsizetype lineEnd = lineStart + len + v->separatorAfter(i);
        qsizetype s = lineStart;
        qsizetype e = lineEnd;
        if (type == QAccessible::WordBoundary) {
            if (offset >= lineStart + len) {
                s = lineStart + len; // the line break on its own
            } else {
                const QString lineText = v->lineString(i);
                QTextBoundaryFinder finder(QTextBoundaryFinder::Word, lineText);
                finder.setPosition(int(offset - lineStart));
                if (!finder.isAtBoundary())
                    finder.toPreviousBoundary();
                s = lineStart + std::max<qsizetype>(0, finder.position());
                const qsizetype next = finder.toNextBoundary();
                e = next < 0 ? lineStart + len : lineStart + next;
            }
        }
        *startOffset = int(s);
        *endOffset = int(e);
        return v->textRange(s, e);
    }
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType type, int *startOffset,
                             int *endOffset) const override
    {
        int s = 0;
        int e = 0;
        textAtOffset(offset, type, &s, &e);
        if (s <= 0) {
            *startOffset = *endOffset = -1;
            return {};
        }
        return textAtOffset(s - 1, type, startOffset, endOffset);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType type, int *startOffset,
                            int *endOffset) const override
    {
        int s = 0;
        int e = 0;
        textAtOffset(offset, type, &s, &e);
        if (e < 0 || e >= characterCount()) {
            *startOffset = *endOffset = -1;
            return {};
        }
        return textAtOffset(e, type, startOffset, endOffset);
    }

    QRect characterRect(int offset) const override
    {
        const LineView *v = view();
        if (v->m_lines.empty() || offset < 0 || offset > v->characterCount())
            return {};
        qsizetype line = 0;
        qsizetype column = 0;
        v->positionAt(offset, &line, &column);
        const QRect r = v->characterRect(line, column).toAlignedRect();
        return QRect(v->viewport()->mapToGlobal(r.topLeft()), r.size());
    }
    int offsetAtPoint(const QPoint &point) const override
    {
        const LineView *v = view();
        const QPoint p = v->viewport()->mapFromGlobal(point);
        if (!v->viewport()->rect().contains(p) || v->m_lines.empty())
            return -1;
        return int(v->offsetOf(v->hitTest(p)));
    }
    void scrollToSubstring(int startIndex, int) override
    {
        qsizetype line = 0;
        qsizetype column = 0;
        view()->positionAt(startIndex, &line, &column);
        view()->ensureLineVisible(line);
    }
    QString attributes(int offset, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = offset;
        return {};
    }
};

static QAccessibleInterface *lineViewAccessibleFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("LineView") && object && object->isWidgetType())
        return new LineViewAccessible(static_cast<LineView *>(object));
    return nullptr;
}

// ---------------------------------------------------------------------------------------

LineView::LineView(QWidget *parent)
    : QAbstractScrollArea(parent)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(lineViewAccessibleFactory);
        return true;
    }();
    Q_UNUSED(factoryInstalled);

    setFocusPolicy(Qt::StrongFocus);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);

    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(kFlushMs);
    connect(&m_flushTimer, &QTimer::timeout, this, &LineView::flush);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &LineView::onVerticalScrolled);

    updateFontTables();
    resetAccessibilityTracking();
}

LineView::~LineView()
{
    for (Chunk *c : m_chunks)
        delete c;
    delete m_spare;
}

void LineView::setAccessibleNotifier(AccessibleNotifier notifier)
{
    s_notifier = notifier;
}

// ---------------------------------------------------------------------------------------
// Storage

const char *LineView::bytes(const Line &l) const
{
    return l.chunk->data.get() + l.offset;
}

int LineView::separatorLength(const Line &l, const char *data)
{
    if (l.joinsNext)
        return 0;
    // A line that already ends in CR needs only the LF, so CR LF input copies unchanged.
    return (l.len > 0 && data[l.len - 1] == '\r') ? 1 : 2;
}

int LineView::separatorAfter(qsizetype i) const
{
    if (i + 1 >= lineCount())
        return 0;
    const Line &l = m_lines[size_t(i)];
    return separatorLength(l, bytes(l));
}

QString LineView::separatorText(qsizetype i) const
{
    switch (separatorAfter(i)) {
    case 2:
        return QStringLiteral("\r\n");
    case 1:
        return QStringLiteral("\n");
    default:
        return {};
    }
}

QString LineView::lineString(qsizetype i) const
{
    const Line &l = m_lines[size_t(i)];
    return QString::fromLatin1(bytes(l), l.len);
}

QByteArray LineView::line(qsizetype i) const
{
    const Line &l = m_lines.at(size_t(i));
    return QByteArray(bytes(l), l.len);
}

char *LineView::allocate(qsizetype n, Chunk **chunk, quint32 *offset)
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

void LineView::release(Chunk *c)
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

qsizetype LineView::characterCount() const
{
    if (m_lines.empty())
        return 0;
    const Line &b = m_lines.back();
    return qsizetype(b.absStart + b.len - m_lines.front().absStart);
}

qsizetype LineView::lineOffset(qsizetype i) const
{
    return qsizetype(m_lines[size_t(i)].absStart - m_lines.front().absStart);
}

qsizetype LineView::lineIndexAt(qsizetype offset) const
{
    if (m_lines.empty())
        return 0;
    const qint64 abs = m_lines.front().absStart + offset;
    auto it = std::upper_bound(m_lines.begin(), m_lines.end(), abs,
                               [](qint64 a, const Line &l) { return a < l.absStart; });
    return std::max<qsizetype>(0, qsizetype(it - m_lines.begin()) - 1);
}

void LineView::noteRemoved(bool atFront, const QString &removed)
{
    // The pane is [inserted at front][unchanged middle][inserted at back]; removals eat
    // into it from their end and only what leaves the middle was seen before.
    const qsizetype total = removed.size();
    qsizetype middle = characterCount() - m_insertedFront - m_insertedBack;
    qsizetype &near = atFront ? m_insertedFront : m_insertedBack;
    qsizetype &far = atFront ? m_insertedBack : m_insertedFront;
    const qsizetype fromNear = std::min(total, near);
    near -= fromNear;
    const qsizetype fromMiddle = std::min(total - fromNear, middle);
    far -= total - fromNear - fromMiddle;
    if (fromMiddle == 0)
        return;
    if (atFront)
        m_removedFront += removed.mid(fromNear, fromMiddle);
    else
        m_removedBack.append(removed.mid(total - fromNear - fromMiddle, fromMiddle));
}

void LineView::pushBack(const char *data, qsizetype n)
{
    Line l;
    if (!m_lines.empty()) {
        const Line &b = m_lines.back();
        const int sep = separatorLength(b, bytes(b));
        l.absStart = b.absStart + b.len + sep;
        if (m_track)
            m_insertedBack += sep;
    }
    char *dst = allocate(n, &l.chunk, &l.offset);
    if (n)
        std::memcpy(dst, data, size_t(n));
    l.len = quint16(n);
    m_lines.push_back(l);
    m_bytes += n;
    ++m_unmeasuredBack;
    if (m_track)
        m_insertedBack += n;
}

void LineView::pushFront(const char *data, qsizetype n, bool joinsNext)
{
    Line l;
    char *dst = allocate(n, &l.chunk, &l.offset);
    if (n)
        std::memcpy(dst, data, size_t(n));
    l.len = quint16(n);
    l.joinsNext = joinsNext;
    int sep = 0;
    if (!m_lines.empty()) {
        sep = separatorLength(l, dst);
        l.absStart = m_lines.front().absStart - n - sep;
    }
    m_lines.push_front(l);
    --m_frontSeq;
    m_bytes += n;
    ++m_unmeasuredFront;
    if (m_track)
        m_insertedFront += n + sep;
}

void LineView::growBack(const char *data, qsizetype n)
{
    Line &l = m_lines.back();
    Chunk *c = l.chunk;
    if (c == m_chunks.back() && l.offset + l.len == c->used &&
        c->capacity - c->used >= quint32(n)) {
        std::memcpy(c->data.get() + c->used, data, size_t(n));
        c->used += quint32(n);
    } else {
        Chunk *nc = nullptr;
        quint32 off = 0;
        char *dst = allocate(l.len + n, &nc, &off);
        std::memcpy(dst, bytes(l), l.len);
        std::memcpy(dst + l.len, data, size_t(n));
        l.chunk = nc;
        l.offset = off;
        release(c);
    }
    l.len = quint16(l.len + n);
    m_bytes += n;
    if (m_track)
        m_insertedBack += n;
}

void LineView::popFront()
{
    const Line l = m_lines.front();
    if (m_track)
        noteRemoved(true, lineString(0) + separatorText(0));
    m_bytes -= l.len;
    m_lines.pop_front();
    ++m_frontSeq;
    release(l.chunk);
    if (m_unmeasuredFront > 0)
        --m_unmeasuredFront;
    m_unmeasuredBack = std::min(m_unmeasuredBack, lineCount());
    if (m_lines.empty())
        m_lastOpen = false;
}

void LineView::popBack()
{
    const qsizetype last = lineCount() - 1;
    const Line l = m_lines.back();
    if (m_track)
        noteRemoved(false, (last > 0 ? separatorText(last - 1) : QString()) + lineString(last));
    m_bytes -= l.len;
    m_lines.pop_back();
    release(l.chunk);
    if (!m_lines.empty())
        m_lines.back().joinsNext = false; // its continuation is gone
    if (m_unmeasuredBack > 0)
        --m_unmeasuredBack;
    m_unmeasuredFront = std::min(m_unmeasuredFront, lineCount());
    m_lastOpen = false;
}

void LineView::trim()
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

void LineView::setMaxLines(qsizetype n)
{
    m_maxLines = n < 1 ? 1 : n;
    trim();
    scheduleFlush();
}

void LineView::setMaxBytes(qsizetype n)
{
    m_maxBytes = n < 1 ? 1 : n;
    trim();
    scheduleFlush();
}

void LineView::appendLine(const QByteArray &line)
{
    m_newestOnTop = false;
    m_lastOpen = false;
    const char *p = line.constData();
    qsizetype n = line.size();
    bool first = true;
    do {
        const qsizetype k = std::min(n, kMaxLineBytes);
        if (!first)
            m_lines.back().joinsNext = true;
        pushBack(p, k);
        first = false;
        p += k;
        n -= k;
    } while (n > 0);
    trim();
    scheduleFlush();
}

void LineView::prependLine(const QByteArray &line)
{
    m_newestOnTop = true;
    const bool wasEmpty = m_lines.empty();
    const qsizetype n = line.size();
    // Pieces of an over-long line go on top last-first, so they read in order.
    qsizetype start = n > 0 ? ((n - 1) / kMaxLineBytes) * kMaxLineBytes : 0;
    bool last = true;
    for (;;) {
        pushFront(line.constData() + start, std::min(kMaxLineBytes, n - start), !last);
        last = false;
        if (start == 0)
            break;
        start -= kMaxLineBytes;
    }
    if (wasEmpty)
        m_lastOpen = false;
    trim();
    scheduleFlush();
}

void LineView::appendText(const QByteArray &text)
{
    if (text.isEmpty())
        return;
    m_newestOnTop = false;
    const char *p = text.constData();
    const char *end = p + text.size();
    while (p < end) {
        const char *lf = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        const char *segEnd = lf ? lf : end;
        if (!m_lastOpen) {
            pushBack(p, 0);
            m_lastOpen = true;
        }
        while (p < segEnd) {
            const qsizetype room = kMaxLineBytes - m_lines.back().len;
            if (room == 0) {
                m_lines.back().joinsNext = true;
                pushBack(p, 0);
                continue;
            }
            const qsizetype k = std::min<qsizetype>(room, segEnd - p);
            growBack(p, k);
            p += k;
        }
        if (lf) {
            pushBack(p, 0);
            p = lf + 1;
        }
    }
    trim();
    scheduleFlush();
}

QString LineView::text() const
{
    return textRange(0, characterCount());
}

QString LineView::textRange(qsizetype start, qsizetype end) const
{
    const qsizetype n = characterCount();
    start = std::clamp<qsizetype>(start, 0, n);
    end = std::clamp<qsizetype>(end, 0, n);
    if (start >= end)
        return {};
    QByteArray out;
    out.reserve(end - start);
    qsizetype pos = start;
    for (qsizetype i = lineIndexAt(start); pos < end && i < lineCount(); ++i) {
        const Line &l = m_lines[size_t(i)];
        const qsizetype lineOff = lineOffset(i);
        const qsizetype from = pos - lineOff;
        if (from < l.len) {
            const qsizetype to = std::min<qsizetype>(l.len, end - lineOff);
            out.append(bytes(l) + from, to - from);
            pos = lineOff + to;
        }
        const int sep = separatorAfter(i);
        const qsizetype sepFrom = pos - lineOff - l.len;
        const qsizetype sepTo = std::min<qsizetype>(sep, end - lineOff - l.len);
        if (sepTo > sepFrom) {
            out.append(&"\r\n"[2 - sep + sepFrom], sepTo - sepFrom);
            pos = lineOff + l.len + sepTo;
        }
    }
    return QString::fromLatin1(out);
}

qsizetype LineView::offsetOf(qsizetype line, qsizetype column) const
{
    if (m_lines.empty())
        return 0;
    line = std::clamp<qsizetype>(line, 0, lineCount() - 1);
    return lineOffset(line) + std::clamp<qsizetype>(column, 0, m_lines[size_t(line)].len);
}

void LineView::positionAt(qsizetype offset, qsizetype *line, qsizetype *column) const
{
    *line = 0;
    *column = 0;
    if (m_lines.empty())
        return;
    offset = std::clamp<qsizetype>(offset, 0, characterCount());
    *line = lineIndexAt(offset);
    *column = std::min<qsizetype>(offset - lineOffset(*line), m_lines[size_t(*line)].len);
}

void LineView::clear()
{
    if (m_track) {
        // Everything seen before goes; what came since was never announced.
        const qsizetype n = characterCount();
        m_removedFront += textRange(m_insertedFront, n - m_insertedBack);
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
    m_maxWidth = 0;
    m_unmeasuredFront = m_unmeasuredBack = 0;
    m_anchor = m_cursor = Pos{m_frontSeq, 0};
    m_follow = true;
    scheduleFlush();
}

// ---------------------------------------------------------------------------------------
// Coalesced update

void LineView::scheduleFlush()
{
    if (m_flushPending)
        return;
    m_flushPending = true;
    m_flushTimer.start();
}

void LineView::flushPending()
{
    flush();
}

void LineView::flush()
{
    m_flushTimer.stop();
    m_flushPending = false;
    measurePending();
    updateScrollBars();
    sendAccessibilityUpdates();
    resetAccessibilityTracking();
    viewport()->update();
}

qreal LineView::lineWidth(qsizetype i) const
{
    const Line &l = m_lines[size_t(i)];
    const uchar *d = reinterpret_cast<const uchar *>(bytes(l));
    qreal w = 0;
    for (qsizetype c = 0; c < l.len; ++c)
        w += m_advance[d[c]];
    return w;
}

void LineView::measurePending()
{
    const qsizetype n = lineCount();
    for (qsizetype i = 0; i < std::min(m_unmeasuredFront, n); ++i)
        m_maxWidth = std::max(m_maxWidth, lineWidth(i));
    for (qsizetype i = std::max<qsizetype>(0, n - m_unmeasuredBack); i < n; ++i)
        m_maxWidth = std::max(m_maxWidth, lineWidth(i));
    if (m_lastOpen && n > 0)
        m_maxWidth = std::max(m_maxWidth, lineWidth(n - 1));
    m_unmeasuredFront = m_unmeasuredBack = 0;
}

void LineView::remeasureAll()
{
    m_maxWidth = 0;
    for (qsizetype i = 0; i < lineCount(); ++i)
        m_maxWidth = std::max(m_maxWidth, lineWidth(i));
    m_unmeasuredFront = m_unmeasuredBack = 0;
}

int LineView::visibleRows() const
{
    return std::max(1, viewport()->height() / m_lineHeight);
}

void LineView::updateScrollBars()
{
    if (m_adjusting) {
        m_relayoutPending = true; // a scroll bar appeared or went while we set ranges
        return;
    }
    m_adjusting = true;
    QScrollBar *v = verticalScrollBar();
    QScrollBar *h = horizontalScrollBar();
    for (int pass = 0; pass < 3; ++pass) {
        m_relayoutPending = false;
        const int rows = int(lineCount()) + topNoticeRows() + bottomNoticeRows();
        const int visible = visibleRows();
        const int vmax = std::max(0, rows - visible);
        v->setRange(0, vmax);
        v->setPageStep(visible);
        v->setSingleStep(1);
        const qint64 firstRowSeq = m_frontSeq - topNoticeRows();
        int value = 0;
        if (m_follow)
            value = m_newestOnTop ? 0 : vmax;
        else
            value = int(std::clamp<qint64>(m_topSeq - firstRowSeq, 0, vmax));
        v->setValue(value);
        m_topSeq = firstRowSeq + value;

        const int contentWidth = int(std::ceil(m_maxWidth)) + 2 * kMargin;
        h->setRange(0, std::max(0, contentWidth - viewport()->width()));
        h->setPageStep(viewport()->width());
        h->setSingleStep(std::max(1, int(std::lround(m_advance[uchar('x')] * 2))));
        if (!m_relayoutPending)
            break;
    }
    m_adjusting = false;
}

void LineView::onVerticalScrolled(int value)
{
    if (m_adjusting)
        return;
    m_topSeq = m_frontSeq - topNoticeRows() + value;
    m_follow = m_newestOnTop ? value == 0 : value >= verticalScrollBar()->maximum();
    viewport()->update();
}

void LineView::scrollContentsBy(int, int)
{
    viewport()->update(); // painting works from the scroll values; nothing to move
}

void LineView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void LineView::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        updateFontTables();
        remeasureAll();
        updateScrollBars();
        viewport()->update();
    }
}

void LineView::updateFontTables()
{
    // Without kerning or shaping a line's advance is the sum of its characters', which
    // makes measuring, hit testing and selection a table lookup per byte.
    m_paintFont = font();
    m_paintFont.setKerning(false);
    m_paintFont.setStyleStrategy(
        QFont::StyleStrategy(m_paintFont.styleStrategy() | QFont::PreferNoShaping));
    const QFontMetricsF fm(m_paintFont, viewport());
    m_labelFont = m_paintFont;
    if (m_labelFont.pointSizeF() > 0)
        m_labelFont.setPointSizeF(std::max(5.0, m_labelFont.pointSizeF() * 0.7));
    else
        m_labelFont.setPixelSize(std::max(6, m_labelFont.pixelSize() * 7 / 10));
    const QFontMetricsF lm(m_labelFont, viewport());
    m_labelAscent = lm.ascent();
    m_labelHeight = lm.height();
    for (int b = 0; b < 256; ++b) {
        const auto i = size_t(b);
        m_boxed[i] = boxed(uchar(b));
        m_glyph[i] = displayChar(uchar(b));
        m_advance[i] = m_boxed[i]
                           ? std::ceil(lm.horizontalAdvance(boxLabel(uchar(b))) + 2 * kBoxPad + 2)
                           : fm.horizontalAdvance(m_glyph[i]);
    }
    const QFontMetrics im(m_paintFont, viewport());
    m_lineHeight = std::max(1, im.lineSpacing());
    m_ascent = im.ascent();
}

// ---------------------------------------------------------------------------------------
// Accessibility notification

void LineView::resetAccessibilityTracking()
{
    // Tracking starts only at a flush so that an interval is either fully recorded or not.
    m_track = s_notifier != nullptr || QAccessible::isActive();
    m_insertedFront = m_insertedBack = 0;
    m_removedFront.clear();
    m_removedBack.clear();
}

void LineView::notifyAccessible(QAccessibleEvent *event) const
{
    if (s_notifier)
        s_notifier(event);
    else
        QAccessible::updateAccessibility(event);
}

void LineView::sendAccessibilityUpdates()
{
    if (!m_track)
        return;
    const qsizetype n = characterCount();
    const qsizetype middle = n - m_insertedFront - m_insertedBack;
    if (!m_removedFront.isEmpty()) {
        QAccessibleTextRemoveEvent e(this, 0, m_removedFront);
        notifyAccessible(&e);
    }
    if (!m_removedBack.isEmpty()) {
        QString removed;
        for (auto it = m_removedBack.crbegin(); it != m_removedBack.crend(); ++it)
            removed += *it;
        QAccessibleTextRemoveEvent e(this, int(middle), removed);
        notifyAccessible(&e);
    }
    if (m_insertedFront > 0) {
        QAccessibleTextInsertEvent e(this, 0, textRange(0, m_insertedFront));
        notifyAccessible(&e);
    }
    if (m_insertedBack > 0) {
        QAccessibleTextInsertEvent e(this, int(m_insertedFront + middle),
                                     textRange(n - m_insertedBack, n));
        notifyAccessible(&e);
    }
}

void LineView::notifySelectionChanged()
{
    viewport()->update();
    if (!(s_notifier || QAccessible::isActive()))
        return;
    qsizetype s = 0;
    qsizetype e = 0;
    selectionRange(&s, &e);
    QAccessibleTextSelectionEvent ev(this, int(s), int(e));
    ev.setCursorPosition(int(cursorOffset()));
    notifyAccessible(&ev);
}

// ---------------------------------------------------------------------------------------
// Positions and selection

LineView::Pos LineView::clamp(Pos p) const
{
    if (m_lines.empty())
        return Pos{m_frontSeq, 0};
    const qint64 backSeq = m_frontSeq + lineCount() - 1;
    if (p.seq < m_frontSeq)
        return Pos{m_frontSeq, 0};
    if (p.seq > backSeq)
        return Pos{backSeq, m_lines.back().len};
    p.col = std::clamp<qsizetype>(p.col, 0, m_lines[size_t(p.seq - m_frontSeq)].len);
    return p;
}

qsizetype LineView::offsetOf(Pos p) const
{
    p = clamp(p);
    if (m_lines.empty())
        return 0;
    return offsetOf(qsizetype(p.seq - m_frontSeq), p.col);
}

LineView::Pos LineView::posAt(qsizetype offset) const
{
    qsizetype line = 0;
    qsizetype column = 0;
    positionAt(offset, &line, &column);
    return Pos{m_frontSeq + line, column};
}

bool LineView::hasSelection() const
{
    return offsetOf(m_anchor) != offsetOf(m_cursor);
}

void LineView::selectionRange(qsizetype *start, qsizetype *end) const
{
    const qsizetype a = offsetOf(m_anchor);
    const qsizetype c = offsetOf(m_cursor);
    *start = std::min(a, c);
    *end = std::max(a, c);
}

QString LineView::selectedText() const
{
    qsizetype s = 0;
    qsizetype e = 0;
    selectionRange(&s, &e);
    return textRange(s, e);
}

qsizetype LineView::cursorOffset() const
{
    return offsetOf(m_cursor);
}

void LineView::setSelection(qsizetype anchorOffset, qsizetype cursorOffset)
{
    m_anchor = posAt(anchorOffset);
    m_cursor = posAt(cursorOffset);
    notifySelectionChanged();
}

void LineView::selectAll()
{
    setSelection(0, characterCount());
}

void LineView::clearSelection()
{
    m_anchor = m_cursor;
    notifySelectionChanged();
}

void LineView::copy() const
{
    if (!hasSelection())
        return;
    QGuiApplication::clipboard()->setText(selectedText());
}

void LineView::moveCursor(Pos p, bool keepAnchor)
{
    m_cursor = p;
    if (!keepAnchor)
        m_anchor = p;
    viewport()->update();
}

namespace {
enum class CharClass {
    Word,
    Space,
    Other
};
CharClass classOf(uchar b)
{
    const QChar c = QChar(char16_t(b));
    if (c.isLetterOrNumber() || b == '_')
        return CharClass::Word;
    if (b == ' ' || b == '\t')
        return CharClass::Space;
    return CharClass::Other;
}
} // namespace

void LineView::selectWordAt(Pos p)
{
    p = clamp(p);
    if (m_lines.empty())
        return;
    const Line &l = m_lines[size_t(p.seq - m_frontSeq)];
    if (l.len == 0) {
        m_anchor = m_cursor = p;
        notifySelectionChanged();
        return;
    }
    const uchar *d = reinterpret_cast<const uchar *>(bytes(l));
    const qsizetype at = std::min<qsizetype>(p.col, l.len - 1);
    const CharClass k = classOf(d[at]);
    qsizetype s = at;
    qsizetype e = at + 1;
    while (s > 0 && classOf(d[s - 1]) == k)
        --s;
    while (e < l.len && classOf(d[e]) == k)
        ++e;
    m_anchor = Pos{p.seq, s};
    m_cursor = Pos{p.seq, e};
    notifySelectionChanged();
}

void LineView::selectLineAt(Pos p)
{
    p = clamp(p);
    if (m_lines.empty())
        return;
    m_anchor = Pos{p.seq, 0};
    m_cursor = Pos{p.seq, m_lines[size_t(p.seq - m_frontSeq)].len};
    notifySelectionChanged();
}

qsizetype LineView::topIndex() const
{
    const qsizetype n = lineCount();
    const qsizetype lo = -topNoticeRows();
    const qsizetype hi = std::max<qsizetype>(lo, n - 1 + bottomNoticeRows());
    return std::clamp<qsizetype>(qsizetype(m_topSeq - m_frontSeq), lo, hi);
}

qsizetype LineView::firstVisibleLine() const
{
    const qsizetype i = topIndex();
    return (i < 0 || i >= lineCount()) ? -1 : i;
}

LineView::Pos LineView::hitTest(const QPoint &pos) const
{
    if (m_lines.empty())
        return Pos{m_frontSeq, 0};
    const int row = pos.y() >= 0 ? pos.y() / m_lineHeight : -1 - (-pos.y() - 1) / m_lineHeight;
    const qsizetype i = topIndex() + row;
    if (i < 0)
        return Pos{m_frontSeq, 0};
    if (i >= lineCount())
        return Pos{m_frontSeq + lineCount() - 1, m_lines.back().len};
    const Line &l = m_lines[size_t(i)];
    const uchar *d = reinterpret_cast<const uchar *>(bytes(l));
    const qreal x = pos.x() + horizontalScrollBar()->value() - kMargin;
    qreal acc = 0;
    for (qsizetype c = 0; c < l.len; ++c) {
        const qreal a = m_advance[d[c]];
        if (x < acc + a / 2)
            return Pos{m_frontSeq + i, c};
        acc += a;
    }
    return Pos{m_frontSeq + i, l.len};
}

QRectF LineView::characterRect(qsizetype line, qsizetype column) const
{
    if (line < 0 || line >= lineCount())
        return {};
    const Line &l = m_lines[size_t(line)];
    const uchar *d = reinterpret_cast<const uchar *>(bytes(l));
    column = std::clamp<qsizetype>(column, 0, l.len);
    qreal x = kMargin - horizontalScrollBar()->value();
    for (qsizetype c = 0; c < column; ++c)
        x += m_advance[d[c]];
    const qreal w = column < l.len ? m_advance[d[column]] : 1;
    const qreal y = qreal(line - topIndex()) * m_lineHeight;
    return QRectF(x, y, w, m_lineHeight);
}

void LineView::ensureLineVisible(qsizetype line)
{
    if (line < 0 || line >= lineCount())
        return;
    flush();
    const int row = int(line) + topNoticeRows();
    QScrollBar *v = verticalScrollBar();
    if (row < v->value())
        v->setValue(row);
    else if (row >= v->value() + visibleRows())
        v->setValue(row - visibleRows() + 1);
}

QString LineView::droppedNotice() const
{
    const qsizetype n = droppedLines();
    if (n == 0)
        return {};
    const QString count = QLocale().toString(qint64(n));
    return n == 1 ? QStringLiteral("\u2026 1 older line not kept \u2026")
                  : QStringLiteral("\u2026 %1 older lines not kept \u2026").arg(count);
}

// ---------------------------------------------------------------------------------------
// Painting

void LineView::paintEvent(QPaintEvent *event)
{
    QPainter p(viewport());
    p.setFont(m_paintFont);
    const QRect clip = event->rect();
    const QPalette &pal = palette();
    const QColor textColor = pal.color(QPalette::Text);
    const QColor highlight = pal.color(QPalette::Highlight);
    const QColor highlightedText = pal.color(QPalette::HighlightedText);
    const QColor base = pal.color(QPalette::Base);
    const qreal hx = horizontalScrollBar()->value();
    const qreal right = clip.right() + 1;
    const qsizetype top = topIndex();
    const qsizetype n = lineCount();

    Pos s = clamp(m_anchor);
    Pos e = clamp(m_cursor);
    if (e.seq < s.seq || (e.seq == s.seq && e.col < s.col))
        std::swap(s, e);
    const bool selecting = s.seq != e.seq || s.col != e.col;

    QString run;
    // Draws bytes [from, to) from x: plain runs as text, control codes as boxed names.
    auto drawRun = [&](qreal x, int y, const uchar *d, qsizetype from, qsizetype to,
                       const QColor &color, const QColor &boxText) {
        qsizetype c = from;
        while (c < to) {
            qsizetype e = c;
            qreal w = 0;
            while (e < to && !m_boxed[d[e]]) {
                w += m_advance[d[e]];
                ++e;
            }
            if (e > c) {
                run.resize(e - c);
                for (qsizetype k = c; k < e; ++k)
                    run[k - c] = m_glyph[d[k]];
                p.setPen(color);
                p.drawText(QPointF(x, y + m_ascent), run);
                x += w;
                c = e;
                continue;
            }
            const qreal a = m_advance[d[c]];
            const qreal top = y + (m_lineHeight - m_labelHeight) / 2.0;
            const QRectF box(x + 1, top, a - 2, m_labelHeight);
            QColor fill = color;
            fill.setAlphaF(0.6f);
            p.setPen(Qt::NoPen);
            p.setBrush(fill);
            p.drawRoundedRect(box, 2, 2);
            p.setBrush(Qt::NoBrush);
            p.setPen(boxText);
            p.setFont(m_labelFont);
            p.drawText(QPointF(box.left() + kBoxPad, top + m_labelAscent), boxLabel(d[c]));
            p.setFont(m_paintFont);
            x += a;
            ++c;
        }
    };

    for (int row = clip.top() / m_lineHeight; row <= clip.bottom() / m_lineHeight; ++row) {
        const qsizetype i = top + row;
        const int y = row * m_lineHeight;
        if (i < 0 || i >= n) {
            if ((i == -1 && topNoticeRows()) || (i == n && bottomNoticeRows())) {
                QFont f = m_paintFont;
                f.setItalic(true);
                p.setFont(f);
                p.setPen(pal.color(QPalette::PlaceholderText));
                p.drawText(QPointF(kMargin, y + m_ascent), droppedNotice());
                p.setFont(m_paintFont);
            }
            continue;
        }
        const Line &l = m_lines[size_t(i)];
        const uchar *d = reinterpret_cast<const uchar *>(bytes(l));
        // Skip what lies left of the view, then gather what fits.
        qreal x = kMargin - hx;
        qsizetype c0 = 0;
        while (c0 < l.len && x + m_advance[d[c0]] < clip.left()) {
            x += m_advance[d[c0]];
            ++c0;
        }
        qsizetype c1 = c0;
        qreal xEnd = x;
        while (c1 < l.len && xEnd < right) {
            xEnd += m_advance[d[c1]];
            ++c1;
        }

        const qint64 seq = m_frontSeq + i;
        qsizetype s0 = 0;
        qsizetype s1 = 0;
        if (selecting && seq >= s.seq && seq <= e.seq) {
            s0 = seq == s.seq ? s.col : 0;
            s1 = seq == e.seq ? e.col : l.len;
        }
        const qsizetype a = std::clamp(s0, c0, c1);
        const qsizetype b = std::clamp(s1, c0, c1);
        qreal xa = x;
        for (qsizetype c = c0; c < a; ++c)
            xa += m_advance[d[c]];
        qreal xb = xa;
        for (qsizetype c = a; c < b; ++c)
            xb += m_advance[d[c]];
        if (b > a)
            p.fillRect(QRectF(xa, y, xb - xa, m_lineHeight), highlight);
        // The selected line break shows as a space-wide mark at the line's end.
        if (selecting && seq >= s.seq && seq < e.seq && !l.joinsNext && c1 == l.len)
            p.fillRect(QRectF(xEnd, y, m_advance[uchar(' ')], m_lineHeight), highlight);
        drawRun(x, y, d, c0, a, textColor, base);
        drawRun(xa, y, d, a, b, highlightedText, highlight);
        drawRun(xb, y, d, b, c1, textColor, base);
    }
}

// ---------------------------------------------------------------------------------------
// Mouse and keyboard

void LineView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const QPoint pos = event->position().toPoint();
    m_lastMousePos = pos;
    if (m_tripleClickTimer.isActive() && (pos - m_tripleClickPoint).manhattanLength() <
                                             QGuiApplication::styleHints()->startDragDistance()) {
        m_tripleClickTimer.stop();
        selectLineAt(hitTest(pos));
        m_dragging = false;
        return;
    }
    moveCursor(hitTest(pos), event->modifiers() & Qt::ShiftModifier);
    m_dragging = true;
}

void LineView::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging || !(event->buttons() & Qt::LeftButton)) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    m_lastMousePos = event->position().toPoint();
    moveCursor(hitTest(m_lastMousePos), true);
    const bool outside = m_lastMousePos.y() < 0 || m_lastMousePos.y() >= viewport()->height();
    if (outside && !m_autoScrollTimer.isActive())
        m_autoScrollTimer.start(kAutoScrollMs, this);
    else if (!outside)
        m_autoScrollTimer.stop();
}

void LineView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    m_autoScrollTimer.stop();
    if (!m_dragging)
        return;
    m_dragging = false;
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (hasSelection() && clipboard->supportsSelection())
        clipboard->setText(selectedText(), QClipboard::Selection);
    notifySelectionChanged();
}

void LineView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseDoubleClickEvent(event);
        return;
    }
    const QPoint pos = event->position().toPoint();
    m_dragging = false;
    selectWordAt(hitTest(pos));
    m_tripleClickPoint = pos;
    m_tripleClickTimer.start(QGuiApplication::styleHints()->mouseDoubleClickInterval(), this);
}

void LineView::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_tripleClickTimer.timerId()) {
        m_tripleClickTimer.stop();
    } else if (event->timerId() == m_autoScrollTimer.timerId()) {
        autoScroll();
    } else {
        QAbstractScrollArea::timerEvent(event);
    }
}

void LineView::autoScroll()
{
    QScrollBar *v = verticalScrollBar();
    if (m_lastMousePos.y() < 0)
        v->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (m_lastMousePos.y() >= viewport()->height())
        v->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    moveCursor(hitTest(m_lastMousePos), true);
}

void LineView::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy)) {
        copy();
        event->accept();
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
        event->accept();
        return;
    }
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    QScrollBar *v = verticalScrollBar();
    QScrollBar *h = horizontalScrollBar();
    QAbstractSlider::SliderAction action = QAbstractSlider::SliderNoAction;
    QScrollBar *bar = v;
    switch (event->key()) {
    case Qt::Key_Up:
        action = QAbstractSlider::SliderSingleStepSub;
        break;
    case Qt::Key_Down:
        action = QAbstractSlider::SliderSingleStepAdd;
        break;
    case Qt::Key_PageUp:
        action = QAbstractSlider::SliderPageStepSub;
        break;
    case Qt::Key_PageDown:
        action = QAbstractSlider::SliderPageStepAdd;
        break;
    case Qt::Key_Home:
        action = QAbstractSlider::SliderToMinimum;
        bar = ctrl ? v : h;
        break;
    case Qt::Key_End:
        action = QAbstractSlider::SliderToMaximum;
        bar = ctrl ? v : h;
        break;
    case Qt::Key_Left:
        action = QAbstractSlider::SliderSingleStepSub;
        bar = h;
        break;
    case Qt::Key_Right:
        action = QAbstractSlider::SliderSingleStepAdd;
        bar = h;
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    // Ranges move at the next flush; bring them up to date so Ctrl+End reaches the end.
    if (m_flushPending)
        flush();
    bar->triggerAction(action);
    event->accept();
}

QMenu *LineView::createContextMenu()
{
    auto *menu = new QMenu(this);
    QAction *copyAction = menu->addAction(tr("&Copy"), this, &LineView::copy);
    copyAction->setObjectName(QStringLiteral("copy"));
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setEnabled(hasSelection());
    QAction *all = menu->addAction(tr("Select &All"), this, &LineView::selectAll);
    all->setObjectName(QStringLiteral("selectAll"));
    all->setShortcut(QKeySequence::SelectAll);
    all->setEnabled(!m_lines.empty());
    return menu;
}

void LineView::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu *menu = createContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}
