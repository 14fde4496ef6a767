#include "receive/lineview.h"
#include "receive/panescrollbar.h"

#include "receive/linefindbar.h"
#include "receive/lineviewaccessible.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLocale>
#include <QMenu>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyleHints>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kAutoScrollMs = 50;
// Characters of notification text per millisecond of interval: a change of a few lines
// goes out at the next flush, a pane replaced wholesale (twice its text: the old removed,
// the new inserted) about once a second.
constexpr qsizetype kAnnounceCharsPerMs = 1000;

// Bytes as table indexes.
const uchar *udata(QByteArrayView bytes)
{
    return reinterpret_cast<const uchar *>(bytes.data());
}

} // namespace

// ---------------------------------------------------------------------------------------

LineView::~LineView() = default;

LineView::LineView(QWidget *parent)
    : QAbstractScrollArea(parent)
{
    installLineViewAccessibleFactory();

    setFocusPolicy(Qt::StrongFocus);
    setVerticalScrollBar(new PaneScrollBar(Qt::Vertical, this));
    setHorizontalScrollBar(new PaneScrollBar(Qt::Horizontal, this));
    // Opaque holders: a scroll bar's repaint then stops at its holder instead of repainting
    // the frame, the group box and the window behind it.
    for (QScrollBar *bar : {verticalScrollBar(), horizontalScrollBar()})
        bar->parentWidget()->setAutoFillBackground(true);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    // paintEvent covers every pixel it is asked for, around the rows' images.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    // Rows of a few hundred pixels: some hundreds of them, more than any pane shows.
    m_rowImages.setMaxCost(4 << 20);

    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &LineView::onVerticalScrolled);

    updateFontTables();
    m_store.setTracking(LineViewAccessibility::wanted());
}

void LineView::setAccessibleNotifier(AccessibleNotifier notifier)
{
    LineViewAccessibility::setNotifier(notifier);
}

// ---------------------------------------------------------------------------------------
// Content

void LineView::setMaxLines(qsizetype n)
{
    m_store.setMaxLines(n);
    scheduleFlush();
}

void LineView::setMaxBytes(qsizetype n)
{
    m_store.setMaxBytes(n);
    scheduleFlush();
}

void LineView::appendLine(const QByteArray &line, qint64 time)
{
    m_store.appendLine(line, time);
    scheduleFlush();
}

void LineView::prependLine(const QByteArray &line, qint64 time)
{
    m_store.prependLine(line, time);
    scheduleFlush();
}

void LineView::appendText(const QByteArray &text, qint64 time)
{
    if (text.isEmpty())
        return;
    m_store.appendText(text, time);
    scheduleFlush();
}

void LineView::setTimesShown(bool on)
{
    if (on == timesShown())
        return;
    // Every offset moves: what was pending goes out first, then the whole text afresh.
    announce(true);
    const bool tracking = m_store.isTracking();
    const QString before = tracking ? m_store.text() : QString();
    m_store.setTimesShown(on);
    if (tracking)
        LineViewAccessibility::sendEdits(this, {LineStore::TextEdit{0, before, m_store.text()}});
    m_store.setTracking(LineViewAccessibility::wanted());
    updateScrollBars();
    viewport()->update();
    Q_EMIT timesShownChanged(on);
}

qreal LineView::textLeft() const
{
    return kMargin + (timesShown() ? m_timeWidth : 0);
}

void LineView::clear()
{
    m_store.clear();
    m_shown.valid = false; // the lines to come take the numbers of those gone
    m_maxWidth = 0;
    m_anchor = m_cursor = Pos{m_store.frontSeq(), 0};
    m_follow = true;
    scheduleFlush();
}

void LineView::announce(bool now)
{
    if (!m_store.isTracking() && !LineViewAccessibility::wanted())
        return; // nobody listens: no timers either
    if (!now && m_sinceAnnounce.isValid()) {
        const qint64 wait = m_announceIntervalMs - m_sinceAnnounce.elapsed();
        if (wait > 0) {
            // The store keeps recording meanwhile; its edits coalesce, bounded by the pane.
            if (!m_announceTimer.isActive())
                m_announceTimer.start(int(wait), this);
            return;
        }
    }
    m_announceTimer.stop();
    // Recording restarts only here so that an interval is either fully recorded or not;
    // a screen reader reads the pane from these edits, so they carry every change.
    const QList<LineStore::TextEdit> edits = m_store.takeEdits();
    m_store.setTracking(LineViewAccessibility::wanted());
    qsizetype size = 0;
    for (const LineStore::TextEdit &e : edits)
        size += e.removed.size() + e.inserted.size();
    LineViewAccessibility::sendEdits(this, edits);
    m_announceIntervalMs =
        std::clamp<qint64>(size / kAnnounceCharsPerMs, kMinAnnounceMs, kMaxAnnounceMs);
    m_sinceAnnounce.start();
}

qreal LineView::lineWidth(qsizetype i) const
{
    // Every new line is measured, millions a second at full speed: four running sums, as
    // one chain of additions would wait on each previous one.
    const QByteArrayView b = m_store.lineBytes(i);
    const auto *d = reinterpret_cast<const uchar *>(b.data());
    qreal w[4] = {};
    qsizetype k = 0;
    for (; k + 4 <= b.size(); k += 4) {
        w[0] += m_advance[d[k]];
        w[1] += m_advance[d[k + 1]];
        w[2] += m_advance[d[k + 2]];
        w[3] += m_advance[d[k + 3]];
    }
    for (; k < b.size(); ++k)
        w[0] += m_advance[d[k]];
    return (w[0] + w[1]) + (w[2] + w[3]);
}

void LineView::measurePending()
{
    const qsizetype n = lineCount();
    const LineStore::NewLines fresh = m_store.takeNewLines();
    for (qsizetype i = 0; i < std::min(fresh.front, n); ++i)
        m_maxWidth = std::max(m_maxWidth, lineWidth(i));
    for (qsizetype i = std::max<qsizetype>(0, n - fresh.back); i < n; ++i)
        m_maxWidth = std::max(m_maxWidth, lineWidth(i));
    if (m_store.lastOpen() && n > 0)
        m_maxWidth = std::max(m_maxWidth, lineWidth(n - 1));
}

void LineView::remeasureAll()
{
    m_maxWidth = 0;
    for (qsizetype i = 0; i < lineCount(); ++i)
        m_maxWidth = std::max(m_maxWidth, lineWidth(i));
    m_store.takeNewLines();
}

int LineView::visibleRows() const
{
    return std::max(1, viewport()->height() / m_lineHeight);
}

namespace {

// A range change makes the scroll area lay out its children again, which raises both scroll
// bars and so repaints them, for a pane that grows by a line at every update. Only a bar
// that must appear or go needs that.
void setRangeQuietly(QScrollBar *bar, int maximum)
{
    const bool needed = maximum > 0;
    const QSignalBlocker quiet(needed == (bar->maximum() > bar->minimum()) ? bar : nullptr);
    bar->setRange(0, maximum);
}

} // namespace

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
        setRangeQuietly(v, vmax);
        v->setPageStep(visible);
        v->setSingleStep(1);
        const qint64 firstRowSeq = m_store.frontSeq() - topNoticeRows();
        int value = 0;
        if (m_follow)
            value = m_store.newestOnTop() ? 0 : vmax;
        else
            value = int(std::clamp<qint64>(m_topSeq - firstRowSeq, 0, vmax));
        v->setValue(value);
        m_topSeq = firstRowSeq + value;

        const int contentWidth = int(std::ceil(m_maxWidth + textLeft())) + kMargin;
        setRangeQuietly(h, std::max(0, contentWidth - viewport()->width()));
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
    m_topSeq = m_store.frontSeq() - topNoticeRows() + value;
    m_follow = m_store.newestOnTop() ? value == 0 : value >= verticalScrollBar()->maximum();
    viewport()->update();
}

void LineView::scrollContentsBy(int, int)
{
    // Painting works from the scroll values; nothing to move. While a flush sets them, the
    // flush decides what to draw again.
    if (!m_adjusting)
        viewport()->update();
}

void LineView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
    placeFindBar();
}

void LineView::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        m_rowImages.clear();
    if (event->type() == QEvent::FontChange) {
        updateFontTables();
        remeasureAll();
        updateScrollBars();
        viewport()->update();
    }
}

void LineView::notifySelectionChanged()
{
    viewport()->update();
    if (!LineViewAccessibility::wanted())
        return;
    announce(true); // the offsets below count in the text as it is now
    qsizetype s = 0;
    qsizetype e = 0;
    selectionRange(&s, &e);
    LineViewAccessibility::sendSelection(this, s, e, cursorOffset());
}

// ---------------------------------------------------------------------------------------
// Positions and selection

bool LineView::hasSelection() const
{
    return m_store.offsetOf(m_anchor) != m_store.offsetOf(m_cursor);
}

void LineView::selectionRange(qsizetype *start, qsizetype *end) const
{
    const qsizetype a = m_store.offsetOf(m_anchor);
    const qsizetype c = m_store.offsetOf(m_cursor);
    *start = std::min(a, c);
    *end = std::max(a, c);
}

QString LineView::selectedText() const
{
    qsizetype s = 0;
    qsizetype e = 0;
    selectionRange(&s, &e);
    // A selection from a line's start takes that line's time along, as the lines after it.
    qsizetype line = 0;
    qsizetype column = 0;
    m_store.positionAt(s, &line, &column);
    if (column == 0 && s < e && timesShown())
        s = m_store.lineOffset(line);
    return textRange(s, e);
}

qsizetype LineView::cursorOffset() const
{
    return m_store.offsetOf(m_cursor);
}

void LineView::setSelection(qsizetype anchorOffset, qsizetype cursorOffset)
{
    m_anchor = m_store.placeAt(anchorOffset);
    m_cursor = m_store.placeAt(cursorOffset);
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

void LineView::selectWordAt(Pos p)
{
    p = m_store.clamp(p);
    if (lineCount() == 0)
        return;
    qsizetype s = 0;
    qsizetype e = 0;
    m_store.wordAt(p.seq - m_store.frontSeq(), p.col, &s, &e);
    m_anchor = Pos{p.seq, s};
    m_cursor = Pos{p.seq, e};
    if (s == e)
        m_anchor = m_cursor = p;
    notifySelectionChanged();
}

void LineView::selectLineAt(Pos p)
{
    p = m_store.clamp(p);
    if (lineCount() == 0)
        return;
    m_anchor = Pos{p.seq, 0};
    m_cursor = Pos{p.seq, lineLength(p.seq - m_store.frontSeq())};
    notifySelectionChanged();
}

qsizetype LineView::topIndex() const
{
    const qsizetype n = lineCount();
    const qsizetype lo = -topNoticeRows();
    const qsizetype hi = std::max<qsizetype>(lo, n - 1 + bottomNoticeRows());
    return std::clamp<qsizetype>(qsizetype(m_topSeq - m_store.frontSeq()), lo, hi);
}

qsizetype LineView::firstVisibleLine() const
{
    const qsizetype i = topIndex();
    return (i < 0 || i >= lineCount()) ? -1 : i;
}

LineView::Pos LineView::hitTest(const QPoint &pos) const
{
    if (lineCount() == 0)
        return Pos{m_store.frontSeq(), 0};
    const int row = pos.y() >= 0 ? pos.y() / m_lineHeight : -1 - (-pos.y() - 1) / m_lineHeight;
    const qsizetype i = topIndex() + row;
    if (i < 0)
        return Pos{m_store.frontSeq(), 0};
    if (i >= lineCount())
        return Pos{m_store.frontSeq() + lineCount() - 1, lineLength(lineCount() - 1)};
    const QByteArrayView l = m_store.lineBytes(i);
    const uchar *d = udata(l);
    const qreal x = pos.x() + horizontalScrollBar()->value() - textLeft();
    qreal acc = 0;
    for (qsizetype c = 0; c < l.size(); ++c) {
        const qreal a = m_advance[d[c]];
        if (x < acc + a / 2)
            return Pos{m_store.frontSeq() + i, c};
        acc += a;
    }
    return Pos{m_store.frontSeq() + i, l.size()};
}

QRectF LineView::characterRect(qsizetype line, qsizetype column) const
{
    if (line < 0 || line >= lineCount())
        return {};
    const QByteArrayView l = m_store.lineBytes(line);
    const uchar *d = udata(l);
    column = std::clamp<qsizetype>(column, 0, l.size());
    qreal x = textLeft() - horizontalScrollBar()->value();
    for (qsizetype c = 0; c < column; ++c)
        x += m_advance[d[c]];
    const qreal w = column < l.size() ? m_advance[d[column]] : 1;
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
    } else if (event->timerId() == m_announceTimer.timerId()) {
        announce(true);
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
    if (event->matches(QKeySequence::Find)) {
        showFind();
        event->accept();
        return;
    }
    // The find bar's keys work from the pane too while it is open.
    if (m_findBar && m_findBar->isVisible() &&
        (event->key() == Qt::Key_F3 || event->key() == Qt::Key_Escape)) {
        if (event->key() == Qt::Key_Escape)
            m_findBar->dismiss();
        else if (event->modifiers() & Qt::ShiftModifier)
            m_findBar->findPrevious();
        else
            m_findBar->findNext();
        event->accept();
        return;
    }
    // Arrows and pages scroll; Home and End go sideways, with Ctrl to the top and bottom.
    using A = QAbstractSlider;
    struct Binding
    {
        int key;
        A::SliderAction action;
        bool horizontal;
    };
    static constexpr Binding bindings[] = {
        {Qt::Key_Up, A::SliderSingleStepSub, false},
        {Qt::Key_Down, A::SliderSingleStepAdd, false},
        {Qt::Key_PageUp, A::SliderPageStepSub, false},
        {Qt::Key_PageDown, A::SliderPageStepAdd, false},
        {Qt::Key_Home, A::SliderToMinimum, true},
        {Qt::Key_End, A::SliderToMaximum, true},
        {Qt::Key_Left, A::SliderSingleStepSub, true},
        {Qt::Key_Right, A::SliderSingleStepAdd, true},
    };
    const auto *b = std::find_if(std::begin(bindings), std::end(bindings),
                                 [&](const Binding &x) { return x.key == event->key(); });
    if (b == std::end(bindings)) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    const bool ctrlJump = (b->key == Qt::Key_Home || b->key == Qt::Key_End) &&
                          (event->modifiers() & Qt::ControlModifier);
    QScrollBar *bar = b->horizontal && !ctrlJump ? horizontalScrollBar() : verticalScrollBar();
    // Ranges move at the next flush; bring them up to date so Ctrl+End reaches the end.
    if (m_flushPending)
        flush();
    bar->triggerAction(b->action);
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
    all->setEnabled(lineCount() > 0);
    menu->addSeparator();
    QAction *times = menu->addAction(tr("Show &times"), this, &LineView::setTimesShown);
    times->setObjectName(QStringLiteral("showTimes"));
    times->setCheckable(true);
    times->setChecked(timesShown());
    times->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    menu->addSeparator();
    QAction *find = menu->addAction(tr("&Find\u2026"), this, &LineView::showFind);
    find->setObjectName(QStringLiteral("find"));
    find->setShortcut(QKeySequence::Find);
    QAction *save = menu->addAction(tr("Sa&ve\u2026"), this, &LineView::saveRequested);
    save->setObjectName(QStringLiteral("save"));
    save->setShortcut(QKeySequence::Save);
    save->setEnabled(isSignalConnected(QMetaMethod::fromSignal(&LineView::saveRequested)));
    // Entries the window gives the pane (its actions) come last.
    if (!actions().isEmpty()) {
        menu->addSeparator();
        menu->addActions(actions());
    }
    return menu;
}

void LineView::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu *menu = createContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}
