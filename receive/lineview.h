#pragma once
// A read-only text pane for the receive path that keeps up with any line rate: it holds a
// bounded list of lines (bytes 0..255, shown as Latin-1) and paints only the visible ones,
// on a short timer rather than per change.
//
// Adding a line costs the same whatever the pane holds: line bytes live in shared 64 KiB
// blocks, the line list is a deque of small records, and scroll bars, widths, repaint and
// the accessibility notification are all brought up to date together on the timer.
// Control characters are drawn as small boxed names (a carriage return as CR), which
// needs no particular font; copied text keeps the raw characters, with CR LF between lines.

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QByteArray>
#include <QFont>
#include <QList>
#include <QPoint>
#include <QRectF>
#include <QString>
#include <QTimer>

#include <array>
#include <deque>
#include <memory>
#include <vector>

class QAccessibleEvent;
class QMenu;

class LineView : public QAbstractScrollArea
{
    Q_OBJECT
public:
    explicit LineView(QWidget *parent = nullptr);
    ~LineView() override;

    // Longest line kept as one line; longer input continues on the next line, joined
    // without a line break in text() and in copies.
    static constexpr qsizetype kMaxLineBytes = 4096;

    // Keeps the newest n lines; older ones are dropped (from the bottom in a newest-on-top
    // pane, from the top otherwise).
    void setMaxLines(qsizetype n);
    qsizetype maxLines() const { return m_maxLines; }
    // Also drops the oldest lines while the bytes held exceed n (the newest line stays),
    // so a pane of very long lines cannot take all memory.
    void setMaxBytes(qsizetype n);
    qsizetype maxBytes() const { return m_maxBytes; }

    // Adds a line at the end.
    void appendLine(const QByteArray &line);
    // Adds a line at the top (newest first); trims the bottom.
    void prependLine(const QByteArray &line);
    // Adds raw text at the end: a line feed starts a new line; other bytes (CR included)
    // stay in the line. The text goes on the last line while that line was itself started
    // by appendText; after appendLine or prependLine it starts a new one.
    void appendText(const QByteArray &text);

    qsizetype lineCount() const { return static_cast<qsizetype>(m_lines.size()); }
    QByteArray line(qsizetype i) const;
    // Lines dropped by the bound so far.
    qsizetype droppedLines() const { return m_droppedTop + m_droppedBottom; }
    // The whole content as text, lines joined by CR LF (by LF alone after a line that
    // already ends in CR, so copied CR LF input stays as it came).
    QString text() const;
    void clear();

    // Offsets count characters of text().
    qsizetype characterCount() const;
    QString textRange(qsizetype start, qsizetype end) const;
    qsizetype offsetOf(qsizetype line, qsizetype column) const;
    // Line and column of an offset; an offset inside a line break maps to the line's end.
    void positionAt(qsizetype offset, qsizetype *line, qsizetype *column) const;

    // Selection, in offsets of text(); the cursor is the end that moves.
    bool hasSelection() const;
    QString selectedText() const;
    void selectionRange(qsizetype *start, qsizetype *end) const;
    void setSelection(qsizetype anchorOffset, qsizetype cursorOffset);
    qsizetype cursorOffset() const;
    void selectAll();
    void clearSelection();
    // Puts the selected text on the clipboard; nothing happens without a selection.
    void copy() const;

    // Where a character is drawn, in viewport coordinates (column == length: the line end).
    QRectF characterRect(qsizetype line, qsizetype column) const;
    // The line drawn at the top of the viewport, or -1 when none (empty pane, or the
    // "older lines not kept" notice is there).
    qsizetype firstVisibleLine() const;
    // Scrolls so that a line is visible.
    void ensureLineVisible(qsizetype line);
    // True while new lines scroll into view (the operator has not scrolled away).
    bool isFollowing() const { return m_follow; }
    // The dim notice shown at the trimmed edge, empty while nothing was dropped.
    QString droppedNotice() const;

    // Accessibility text-change notifications go here instead of
    // QAccessible::updateAccessibility, and are produced even without an active
    // assistive technology; for tools and tests that observe them. nullptr restores.
    using AccessibleNotifier = void (*)(QAccessibleEvent *);
    static void setAccessibleNotifier(AccessibleNotifier notifier);

    // Brings scroll bars, widths and the accessibility notification up to date now
    // rather than at the next timer tick.
    void flushPending();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    friend class LineViewAccessible;

    struct Chunk;
    struct Line
    {
        Chunk *chunk = nullptr;
        qint64 absStart = 0; // offset of the first character in an ever-running count
        quint32 offset = 0;  // of the bytes in chunk
        quint16 len = 0;
        bool joinsNext = false; // continued on the next line without a line break
    };
    // A place in the text that survives lines arriving and going: seq numbers lines
    // from an ever-running count, so it names the same line while that line is held.
    struct Pos
    {
        qint64 seq = 0;
        qsizetype col = 0;
    };

    const char *bytes(const Line &l) const;
    static int separatorLength(const Line &l, const char *data);
    int separatorAfter(qsizetype i) const;
    QString separatorText(qsizetype i) const;
    QString lineString(qsizetype i) const;

    char *allocate(qsizetype n, Chunk **chunk, quint32 *offset);
    void release(Chunk *chunk);
    void pushBack(const char *data, qsizetype n);
    void pushFront(const char *data, qsizetype n, bool joinsNext);
    void growBack(const char *data, qsizetype n);
    void popFront();
    void popBack();
    void trim();
    qsizetype lineIndexAt(qsizetype offset) const;
    qsizetype lineOffset(qsizetype i) const;

    void scheduleFlush();
    void flush();
    void updateScrollBars();
    void measurePending();
    void remeasureAll();
    qreal lineWidth(qsizetype i) const;
    void updateFontTables();
    void sendAccessibilityUpdates();
    void resetAccessibilityTracking();
    void notifyAccessible(QAccessibleEvent *event) const;
    void noteRemoved(bool atFront, const QString &removed);

    int topNoticeRows() const { return m_droppedTop > 0 ? 1 : 0; }
    int bottomNoticeRows() const { return m_droppedBottom > 0 ? 1 : 0; }
    int visibleRows() const;
    // Index of the line (or -1 / lineCount() for a notice row) at the viewport's top.
    qsizetype topIndex() const;
    Pos hitTest(const QPoint &viewportPos) const;
    Pos clamp(Pos p) const;
    qsizetype offsetOf(Pos p) const;
    Pos posAt(qsizetype offset) const;
    void moveCursor(Pos p, bool keepAnchor);
    void selectWordAt(Pos p);
    void selectLineAt(Pos p);
    void notifySelectionChanged();
    void onVerticalScrolled(int value);
    void autoScroll();
    QMenu *createContextMenu();

    std::deque<Line> m_lines;
    std::vector<Chunk *> m_chunks; // every block in use; the last one is being filled
    Chunk *m_spare = nullptr;
    qint64 m_frontSeq = 0;
    qsizetype m_bytes = 0;
    qsizetype m_maxLines = 100000;
    qsizetype m_maxBytes = 32 * 1024 * 1024;
    qsizetype m_droppedTop = 0;
    qsizetype m_droppedBottom = 0;
    bool m_lastOpen = false;    // the last line takes more appendText bytes
    bool m_newestOnTop = false; // last addition was prependLine: the bottom is oldest

    // View state.
    QTimer m_flushTimer;
    bool m_follow = true;
    qint64 m_topSeq = 0; // seq of the top row; frontSeq - 1 is the top notice
    bool m_adjusting = false;
    bool m_relayoutPending = false;
    bool m_flushPending = false;
    qsizetype m_unmeasuredFront = 0;
    qsizetype m_unmeasuredBack = 0;
    qreal m_maxWidth = 0;

    // Painting.
    QFont m_paintFont;
    std::array<qreal, 256> m_advance{};
    std::array<QChar, 256> m_glyph{};
    std::array<bool, 256> m_boxed{}; // drawn as a small boxed name (CR, LF, ...)
    QFont m_labelFont;
    qreal m_labelAscent = 0;
    qreal m_labelHeight = 0;
    int m_lineHeight = 1;
    int m_ascent = 0;

    // Selection.
    Pos m_anchor;
    Pos m_cursor;
    bool m_dragging = false;
    QBasicTimer m_tripleClickTimer;
    QPoint m_tripleClickPoint;
    QBasicTimer m_autoScrollTimer;
    QPoint m_lastMousePos;

    // What changed since the last notification, as removed and inserted stretches at
    // both ends around an unchanged middle.
    bool m_track = false;
    qsizetype m_insertedFront = 0;
    qsizetype m_insertedBack = 0;
    QString m_removedFront;
    QList<QString> m_removedBack; // in order of removal, so the last one comes first
};
