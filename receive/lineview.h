#pragma once
// A read-only text pane for the receive path that keeps up with any line rate: it holds a
// bounded list of lines (bytes 0..255, shown as Latin-1) and paints only the visible ones,
// at the screen's pace (ScreenPace) rather than per change. A pane that follows a trickle
// of lines moves the rows on screen (the X server copies them) and draws only those that
// came into view.
//
// The lines live in a LineStore; this widget draws them, selects and copies. Scroll bars,
// widths, repaint and the accessibility notification are brought up to date together in
// that round, so adding a line costs the same whatever the pane holds.
// Control characters are drawn as small boxed names (a carriage return as CR), which
// needs no particular font; copied text keeps the raw characters, with CR LF between lines.

#include "receive/linefinder.h"
#include "receive/linestore.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QByteArray>
#include <QCache>
#include <QElapsedTimer>
#include <QFont>
#include <QImage>
#include <QPoint>
#include <QRawFont>
#include <QRectF>
#include <QString>

#include <array>
#include <memory>
#include <vector>

class LineFindBar;
class QAccessibleEvent;
class QMenu;
class QPainter;

class LineView : public QAbstractScrollArea
{
    Q_OBJECT
public:
    explicit LineView(QWidget *parent = nullptr);
    ~LineView() override;

    // Longest line kept as one line; longer input continues on the next line, joined
    // without a line break in text() and in copies.
    static constexpr qsizetype kMaxLineBytes = LineStore::kMaxLineBytes;

    // Keeps the newest n lines; older ones are dropped (from the bottom in a newest-on-top
    // pane, from the top otherwise).
    void setMaxLines(qsizetype n);
    qsizetype maxLines() const { return m_store.maxLines(); }
    // Also drops the oldest lines while the bytes held exceed n (the newest line stays),
    // so a pane of very long lines cannot take all memory.
    void setMaxBytes(qsizetype n);
    qsizetype maxBytes() const { return m_store.maxBytes(); }

    // Adds a line at the end, arrived at time (ms since the epoch; 0: not known).
    void appendLine(const QByteArray &line, qint64 time = 0);
    // Adds a line at the top (newest first); trims the bottom.
    void prependLine(const QByteArray &line, qint64 time = 0);
    // Adds raw text at the end: a line feed starts a new line; other bytes (CR included)
    // stay in the line. The text goes on the last line while that line was itself started
    // by appendText; after appendLine or prependLine it starts a new one. A line's time
    // is that of its first character.
    void appendText(const QByteArray &text, qint64 time = 0);

    // Each line's time in a dim column at the left; while shown, text(), copies and the
    // accessible text begin each line with it (see LineStore). Off at start.
    void setTimesShown(bool on);
    bool timesShown() const { return m_store.timesShown(); }

    // What the pane holds; see LineStore for how lines join into text.
    const LineStore &store() const { return m_store; }
    qsizetype lineCount() const { return m_store.lineCount(); }
    QByteArray line(qsizetype i) const { return m_store.line(i); }
    // Lines dropped by the bound so far.
    qsizetype droppedLines() const { return m_store.droppedLines(); }
    // The whole content as text, lines joined by CR LF (by LF alone after a line that
    // already ends in CR, so copied CR LF input stays as it came).
    QString text() const { return m_store.text(); }
    void clear();

    // Offsets count characters of text().
    qsizetype characterCount() const { return m_store.characterCount(); }
    QString textRange(qsizetype start, qsizetype end) const
    {
        return m_store.textRange(start, end);
    }
    qsizetype offsetOf(qsizetype line, qsizetype column) const
    {
        return m_store.offsetOf(line, column);
    }
    // Line and column of an offset; an offset inside a line break maps to the line's end.
    void positionAt(qsizetype offset, qsizetype *line, qsizetype *column) const
    {
        m_store.positionAt(offset, line, column);
    }

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
    // rather than at the next timer tick. Each flush sends at most one removal and one
    // insertion (or one update) that together carry every change since the last one.
    // On the timer the notification comes at an interval that grows with the size of the
    // last one (kMinAnnounceMs up to kMaxAnnounceMs), so a flood costs a screen reader a few
    // large events a second instead of many that each replace the whole pane. Four a second
    // at most: still ahead of speech, and each event costs the pane a D-Bus message of some
    // 60 microseconds besides the copy of its text.
    void flushPending();
    static constexpr int kMinAnnounceMs = 250;
    static constexpr int kMaxAnnounceMs = 1000;

    // The text offset under a point of the viewport (the nearest character boundary).
    qsizetype offsetAt(const QPoint &viewportPos) const
    {
        return m_store.offsetOf(hitTest(viewportPos));
    }

    // Find (linefindbar.cpp). Opens the find bar over the pane's top right corner, or
    // puts the focus back in it; Ctrl+F in the pane does the same.
    void showFind();
    // The find bar once opened (null before).
    LineFindBar *findBar() const { return m_findBar; }
    // Marks every visible match of finder (none when it is empty).
    void setFindHighlight(const LineFinder &finder);
    const LineFinder &findHighlight() const { return m_highlight; }
    // Selects columns [start, end) of line's text (see LineFinder) and scrolls them into
    // view clear of the find bar. A match wholly inside a shown time selects its line,
    // whose copy begins with that time.
    void selectInLine(qsizetype line, qsizetype start, qsizetype end);

Q_SIGNALS:
    // The times were shown or hidden (from the context menu too).
    void timesShownChanged(bool shown);
    // "Save…" was chosen in the context menu.
    void saveRequested();

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
    using Pos = LineStore::Place;
    static constexpr int kMargin = 3;

    void scheduleFlush();
    void flush();
    // Rows on screen keep their pixels while only their place changed: no selection or find
    // marks (their extent may follow lines that went), no notice (its count changes), the
    // same horizontal scroll and order.
    bool rowsKeepPixels(bool notices) const;
    // The part of the viewport left of which text was ever drawn; right of it, background.
    QRect textArea() const;
    // Moves the rows on screen instead of drawing them again when the view moved by fewer
    // whole lines than it shows since it was drawn (a following pane at a trickle).
    void moveShownRows(qint64 topSeq);
    // Draws again only the rows whose line differs from the one they show: a pane of
    // readings in frames of one length shows the same lines at the same places.
    void updateChangedRows(qsizetype top);
    // What row shows as painted; an invalid key when it was painted in part or marked.
    void noteRowPainted(int row, qsizetype i, bool plain);
    // A notice row ("older lines not kept") is among the rows the viewport shows.
    bool noticesInView() const;
    // Sends the changes recorded since the last call; unless now, only once the interval
    // after the last one has passed (and then from a timer).
    void announce(bool now);
    void updateScrollBars();
    void measurePending();
    void remeasureAll();
    qreal lineWidth(qsizetype i) const;
    void updateFontTables();
    // Marks the find matches of line i, drawn at y; its byte c0 starts at x.
    void paintMatches(QPainter &p, qsizetype i, int y, qreal x, qsizetype c0);
    // Draws bytes [from, to) from x: plain runs as text, control codes as boxed names.
    void drawBytes(QPainter &p, qreal x, int y, QByteArrayView bytes, qsizetype from, qsizetype to,
                   const QColor &color, const QColor &boxText) const;
    // A line's bytes drawn at x on the background, as an image of the row for a device
    // pixel ratio; *left is where it goes. Null when the line is too wide to keep.
    const QImage *rowImage(QByteArrayView bytes, qreal x, qreal dpr, qreal *left);

    qsizetype lineLength(qsizetype i) const { return m_store.lineBytes(i).size(); }
    // Where a line's bytes start, in content coordinates (after the time column).
    qreal textLeft() const;
    int topNoticeRows() const { return m_store.droppedTop() > 0 ? 1 : 0; }
    int bottomNoticeRows() const { return m_store.droppedBottom() > 0 ? 1 : 0; }
    int visibleRows() const;
    // Index of the line (or -1 / lineCount() for a notice row) at the viewport's top.
    qsizetype topIndex() const;
    Pos hitTest(const QPoint &viewportPos) const;
    void moveCursor(Pos p, bool keepAnchor);
    void selectWordAt(Pos p);
    void selectLineAt(Pos p);
    void notifySelectionChanged();
    void onVerticalScrolled(int value);
    void autoScroll();
    QMenu *createContextMenu();
    // Keeps the find bar at the viewport's top right.
    void placeFindBar();
    // Viewport rows the find bar hides at the top (0 while it is closed).
    int rowsUnderFindBar() const;

    LineStore m_store;

    // View state.
    bool m_follow = true;
    qint64 m_topSeq = 0; // seq of the top row; frontSeq - 1 is the top notice
    bool m_adjusting = false;
    bool m_relayoutPending = false;
    bool m_flushPending = false;
    qreal m_maxWidth = 0;
    int m_clearRight = 0; // viewport x left of which text was drawn by a flush
    // What the viewport shows once pending paints are done: rows from topSeq at a
    // horizontal scroll of hx, no notice among them, the last line open (still growing)
    // or not. Lost (valid false) when a paint of part of it used other values.
    struct
    {
        bool valid = false;
        qint64 topSeq = 0;
        int hx = 0;
        bool newestOnTop = false;
    } m_shown;
    // What each row of the viewport shows, as painted or moved there since.
    struct RowKey
    {
        bool valid = false;
        bool line = false; // a line, not an empty row past the last
        qint64 time = 0;   // while times are shown
        QByteArray bytes;
    };
    std::vector<RowKey> m_rowKeys;
    void noteShown(qint64 topSeq, bool notices);

    // Accessibility notifications.
    QElapsedTimer m_sinceAnnounce;
    qint64 m_announceIntervalMs = 0;
    QBasicTimer m_announceTimer;

    // Painting.
    QFont m_paintFont;
    std::array<qreal, 256> m_advance{};
    std::array<QChar, 256> m_glyph{};
    // The paint font's own glyphs, placed at the advances above without laying the text out
    // (0: the font has none for the byte, and the text engine finds a fallback).
    QRawFont m_rawFont;
    std::array<quint32, 256> m_glyphIndex{};
    std::array<bool, 256> m_boxed{}; // drawn as a small boxed name (CR, LF, ...)
    QFont m_labelFont;
    qreal m_labelAscent = 0;
    qreal m_labelHeight = 0;
    int m_lineHeight = 1;
    int m_ascent = 0;
    qreal m_timeWidth = 0; // the time column with its gap
    // Rows drawn before, by their bytes: each paint moves the rows a line or more, and a
    // pane of readings shows the same lines over and over. Copying a row is a fraction of
    // drawing its text again. Emptied when the font or the colours change.
    QCache<QByteArray, QImage> m_rowImages;
    qreal m_rowImagesFraction = 0; // of a device pixel, where the rows' text starts
    qreal m_rowImagesRatio = 1;    // device pixels per pixel the rows were drawn for
    // Hashes of rows drawn without an image, by slot: a row gets an image the second time
    // it is drawn. Most rows of a stream are new and never come back; an image of each
    // would cost its copy and a place in the cache for nothing.
    std::vector<size_t> m_rowsSeen;
    // Images made and used since the last look: when most go before they are used (more
    // distinct lines than the cache holds, in a flood), none are made for a while.
    struct
    {
        int made = 0;
        int used = 0;
        int pausedPaints = 0;
    } m_rowImageUse;
    QImage m_rowScratch;
    std::unique_ptr<QPainter> m_rowPainter; // on m_rowScratch, before it goes

    // Selection.
    Pos m_anchor;
    Pos m_cursor;
    bool m_dragging = false;
    QBasicTimer m_tripleClickTimer;
    QPoint m_tripleClickPoint;
    QBasicTimer m_autoScrollTimer;
    QPoint m_lastMousePos;

    // Find.
    LineFindBar *m_findBar = nullptr;
    LineFinder m_highlight;
};
