// Finding in a receive pane: the find bar, and the pane's side of it (opening the bar,
// selecting a match clear of it).
#include "receive/linefindbar.h"

#include "receive/lineview.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QStyle>
#include <QToolButton>

#include <algorithm>
#include <cmath>

LineFindBar::LineFindBar(LineView *view)
    : QFrame(view)
    , m_view(view)
{
    setObjectName(QStringLiteral("findBar"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    setFocusPolicy(Qt::NoFocus);

    auto *label = new QLabel(QStringLiteral("&Find:"), this);
    m_field = new QLineEdit(this);
    m_field->setObjectName(QStringLiteral("findField"));
    m_field->setClearButtonEnabled(false);
    label->setBuddy(m_field); // the field is read by the label's text
    // Alt+M: Alt+C is the window's Close.
    m_case = new QCheckBox(QStringLiteral("&Match case"), this);
    m_case->setObjectName(QStringLiteral("matchCase"));
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("findStatus"));
    auto *closeButton = new QToolButton(this);
    closeButton->setObjectName(QStringLiteral("closeFind"));
    closeButton->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    closeButton->setAutoRaise(true);
    closeButton->setAccessibleName(QStringLiteral("Close find"));
    closeButton->setToolTip(QStringLiteral("Close find (Escape)"));
    closeButton->setFocusPolicy(Qt::NoFocus);
    m_field->setToolTip(QStringLiteral("Return or F3: next match; Shift+Return or Shift+F3: "
                                       "previous match; Escape: close"));

    m_label = label;
    m_close = closeButton;
    auto *rows = new QVBoxLayout(this);
    rows->setContentsMargins(4, 3, 2, 3);
    rows->setSpacing(2);
    m_top = new QHBoxLayout;
    m_bottom = new QHBoxLayout;
    for (QHBoxLayout *row : {m_top, m_bottom}) {
        row->setSpacing(4);
        rows->addLayout(row);
    }
    setOneRow(false);

    m_field->installEventFilter(this);
    connect(m_field, &QLineEdit::textEdited, this, &LineFindBar::search);
    connect(m_case, &QCheckBox::toggled, this, &LineFindBar::search);
    connect(closeButton, &QToolButton::clicked, this, &LineFindBar::dismiss);
    hide();
}

void LineFindBar::setOneRow(bool oneRow)
{
    if (m_oneRow == oneRow && m_top->count() > 0)
        return;
    m_oneRow = oneRow;
    for (QHBoxLayout *row : {m_top, m_bottom}) {
        while (QLayoutItem *item = row->takeAt(0))
            delete item; // the widgets stay, children of the bar
    }
    // Field, case and note side by side in a wide pane; the field alone on top in a narrow one.
    m_top->addWidget(m_label);
    m_top->addWidget(m_field, 1);
    QHBoxLayout *rest = oneRow ? m_top : m_bottom;
    rest->addWidget(m_case);
    rest->addWidget(m_status, oneRow ? 0 : 1, Qt::AlignRight);
    m_top->addWidget(m_close);
    m_status->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // In one row a note as wide as the longest, so the field does not jump as notes change.
    m_status->setMinimumWidth(
        oneRow ? m_status->fontMetrics().horizontalAdvance(QStringLiteral("Wrapped to the bottom"))
               : 0);
}

QString LineFindBar::status() const
{
    return m_status->text();
}

void LineFindBar::open()
{
    show();
    raise();
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
    m_finder = LineFinder(m_field->text(), m_case->isChecked());
    m_view->setFindHighlight(m_finder);
}

void LineFindBar::dismiss()
{
    const bool hadFocus = isAncestorOf(QApplication::focusWidget());
    hide();
    m_view->setFindHighlight(LineFinder());
    if (hadFocus)
        m_view->setFocus(Qt::OtherFocusReason);
}

bool LineFindBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_field && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool back = key->modifiers() & Qt::ShiftModifier;
        switch (key->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_F3:
            step(!back);
            return true;
        case Qt::Key_Escape:
            dismiss();
            return true;
        default:
            break;
        }
    }
    return QFrame::eventFilter(watched, event);
}

void LineFindBar::keyPressEvent(QKeyEvent *event)
{
    // From the case toggle: the same keys as in the field.
    if (event->key() == Qt::Key_Escape) {
        dismiss();
        return;
    }
    if (event->key() == Qt::Key_F3) {
        step(!(event->modifiers() & Qt::ShiftModifier));
        return;
    }
    QFrame::keyPressEvent(event);
}

void LineFindBar::search()
{
    m_finder = LineFinder(m_field->text(), m_case->isChecked());
    m_view->setFindHighlight(m_finder);
    m_matched = false;
    if (m_finder.isEmpty()) {
        m_status->clear();
        return;
    }
    const qsizetype top = std::max<qsizetype>(0, m_view->firstVisibleLine());
    showMatch(m_finder.findNext(m_view->store(), top, 0), true);
}

void LineFindBar::step(bool forward)
{
    if (m_finder.isEmpty())
        return;
    const LineStore &store = m_view->store();
    if (store.lineCount() == 0) {
        showMatch({}, forward);
        return;
    }
    qsizetype selStart = 0;
    qsizetype selEnd = 0;
    m_view->selectionRange(&selStart, &selEnd);
    qsizetype line = std::max<qsizetype>(0, m_view->firstVisibleLine());
    qsizetype column = 0;
    const qsizetype matchLine = m_matchSeq - store.frontSeq();
    const qsizetype matchAt =
        matchLine >= 0 && matchLine < store.lineCount() ? store.lineOffset(matchLine) : 0;
    if (m_matched && matchLine >= 0 && matchLine < store.lineCount() &&
        selStart - matchAt == m_selStart && selEnd - matchAt == m_selEnd) {
        // The match still selected: its own columns, which a selection cannot hold when
        // they lie in a shown time.
        line = matchLine;
        column = forward ? m_match.end : m_match.start;
    } else if (m_view->hasSelection()) {
        const qsizetype at = forward ? selEnd : selStart;
        line = store.lineIndexAt(at);
        column = at - store.lineOffset(line);
    }
    showMatch(forward ? m_finder.findNext(store, line, column)
                      : m_finder.findPrevious(store, line, column),
              forward);
}

void LineFindBar::showMatch(const LineFinder::Match &match, bool forward)
{
    if (!match.isValid()) {
        // Nothing stays selected that Ctrl+C could take for a match.
        m_matched = false;
        m_status->setText(QStringLiteral("No match"));
        if (m_view->hasSelection())
            m_view->clearSelection();
        return;
    }
    m_status->setText(!match.wrapped ? QString()
                      : forward      ? QStringLiteral("Wrapped to the top")
                                     : QStringLiteral("Wrapped to the bottom"));
    m_view->selectInLine(match.line, match.start, match.end);
    m_match = match;
    m_matched = true;
    m_matchSeq = m_view->store().frontSeq() + match.line;
    // Kept from the line's start, which moves as lines come and go.
    m_view->selectionRange(&m_selStart, &m_selEnd);
    m_selStart -= m_view->store().lineOffset(match.line);
    m_selEnd -= m_view->store().lineOffset(match.line);
}

// ---------------------------------------------------------------------------------------
// The pane's side

void LineView::showFind()
{
    if (!m_findBar) {
        m_findBar = new LineFindBar(this);
        // The window's font rather than the pane's text font (the log's is larger).
        if (parentWidget())
            m_findBar->setFont(parentWidget()->font());
    }
    placeFindBar();
    m_findBar->open();
}

void LineView::placeFindBar()
{
    if (!m_findBar)
        return;
    const QRect area = viewport()->geometry();
    const bool wide = area.width() >= 480;
    m_findBar->setOneRow(wide);
    const int width =
        std::min(area.width() - 4, std::max(m_findBar->sizeHint().width(), wide ? 320 : 240));
    const int height = m_findBar->sizeHint().height();
    m_findBar->setGeometry(area.right() - 1 - width, area.top() + 2, width, height);
}

int LineView::rowsUnderFindBar() const
{
    if (!m_findBar || !m_findBar->isVisible())
        return 0;
    const int covered = m_findBar->geometry().bottom() + 1 - viewport()->geometry().top();
    const int rows = (covered + m_lineHeight - 1) / m_lineHeight;
    // A pane too short for both shows the match under the bar rather than nowhere.
    return rows < visibleRows() ? rows : 0;
}

void LineView::setFindHighlight(const LineFinder &finder)
{
    m_highlight = finder;
    viewport()->update();
}

void LineView::selectInLine(qsizetype line, qsizetype start, qsizetype end)
{
    if (line < 0 || line >= lineCount())
        return;
    flush(); // scroll ranges as they are now
    const qsizetype at = m_store.lineOffset(line);
    const qsizetype prefix = m_store.prefixLength();
    if (end <= prefix) {
        setSelection(at, m_store.offsetOf(line, lineLength(line)));
        start = end = prefix; // scroll to the line's start
    } else {
        setSelection(at + std::max(start, prefix), at + end);
    }

    const int row = int(line) + topNoticeRows();
    const int hidden = rowsUnderFindBar();
    QScrollBar *v = verticalScrollBar();
    if (row < v->value() + hidden)
        v->setValue(row - hidden);
    else if (row >= v->value() + visibleRows())
        v->setValue(row - visibleRows() + 1);

    // Sideways: the match's end in view, and its start when both fit.
    const qsizetype from = std::max(start, prefix) - prefix;
    const qsizetype to = std::max(end, prefix) - prefix;
    QScrollBar *h = horizontalScrollBar();
    const qreal x0 = characterRect(line, from).left() + h->value();
    const qreal x1 = characterRect(line, to).left() + h->value();
    const int width = viewport()->width();
    int value = h->value();
    if (x1 + kMargin > value + width)
        value = int(std::ceil(x1 + kMargin - width));
    if (x0 - kMargin < value)
        value = int(std::floor(x0 - kMargin - (timesShown() ? m_timeWidth : 0)));
    h->setValue(std::max(0, value));
}
