#include "receive/lineviewaccessible.h"

#include "receive/linestore.h"
#include "receive/lineview.h"

#include <QAccessible>
#include <QTextBoundaryFinder>

#include <algorithm>

LineViewAccessible::LineViewAccessible(LineView *view)
    : QAccessibleWidget(view, QAccessible::EditableText)
{}

LineView *LineViewAccessible::view() const
{
    return static_cast<LineView *>(object());
}

void *LineViewAccessible::interface_cast(QAccessible::InterfaceType t)
{
    if (t == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface *>(this);
    return QAccessibleWidget::interface_cast(t);
}

QAccessible::State LineViewAccessible::state() const
{
    QAccessible::State s = QAccessibleWidget::state();
    s.readOnly = true;
    s.editable = false;
    s.multiLine = true;
    s.selectableText = true;
    s.focusable = true;
    return s;
}

QString LineViewAccessible::text(QAccessible::Text t) const
{
    QString s = QAccessibleWidget::text(t);
    if (t == QAccessible::Description) {
        const QString notice = view()->droppedNotice();
        if (!notice.isEmpty())
            s = s.isEmpty() ? notice : s + QLatin1Char(' ') + notice;
    }
    return s;
}

void LineViewAccessible::selection(int selectionIndex, int *startOffset, int *endOffset) const
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

int LineViewAccessible::selectionCount() const
{
    return view()->hasSelection() ? 1 : 0;
}

void LineViewAccessible::addSelection(int startOffset, int endOffset)
{
    view()->setSelection(startOffset, endOffset);
}

void LineViewAccessible::removeSelection(int selectionIndex)
{
    if (selectionIndex == 0)
        view()->clearSelection();
}

void LineViewAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    if (selectionIndex == 0)
        view()->setSelection(startOffset, endOffset);
}

int LineViewAccessible::cursorPosition() const
{
    return int(view()->cursorOffset());
}

void LineViewAccessible::setCursorPosition(int position)
{
    view()->setSelection(position, position);
}

QString LineViewAccessible::text(int startOffset, int endOffset) const
{
    return view()->textRange(startOffset, endOffset);
}

int LineViewAccessible::characterCount() const
{
    return int(view()->characterCount());
}

// Works within the line that holds the offset, so a query never copies the whole pane.
QString LineViewAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType type,
                                         int *startOffset, int *endOffset) const
{
    const LineStore &store = view()->store();
    const qsizetype n = store.characterCount();
    *startOffset = *endOffset = -1;
    if (offset < 0 || offset > n)
        return {};
    if (type == QAccessible::NoBoundary) {
        *startOffset = 0;
        *endOffset = int(n);
        return store.textRange(0, n);
    }
    if (offset == n) {
        *startOffset = *endOffset = int(n);
        return {};
    }
    if (type == QAccessible::CharBoundary) {
        *startOffset = offset;
        *endOffset = offset + 1;
        return store.textRange(offset, offset + 1);
    }
    const qsizetype i = store.lineIndexAt(offset);
    qsizetype s = store.lineOffset(i);
    // Words are looked for in the line's bytes; its time (while shown) is one word.
    const qsizetype lineStart = s + store.prefixLength();
    const qsizetype len = store.lineBytes(i).size();
    qsizetype e = lineStart + len + store.separatorAfter(i);
    if (type == QAccessible::WordBoundary) {
        if (offset < lineStart) {
            e = lineStart;
        } else if (offset >= lineStart + len) {
            s = lineStart + len; // the line break on its own
        } else {
            QTextBoundaryFinder finder(QTextBoundaryFinder::Word, store.lineString(i));
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
    return store.textRange(s, e);
}

QString LineViewAccessible::textBeforeOffset(int offset, QAccessible::TextBoundaryType type,
                                             int *startOffset, int *endOffset) const
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

QString LineViewAccessible::textAfterOffset(int offset, QAccessible::TextBoundaryType type,
                                            int *startOffset, int *endOffset) const
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

QRect LineViewAccessible::characterRect(int offset) const
{
    const LineView *v = view();
    if (v->lineCount() == 0 || offset < 0 || offset > v->characterCount())
        return {};
    qsizetype line = 0;
    qsizetype column = 0;
    v->positionAt(offset, &line, &column);
    const QRect r = v->characterRect(line, column).toAlignedRect();
    return QRect(v->viewport()->mapToGlobal(r.topLeft()), r.size());
}

int LineViewAccessible::offsetAtPoint(const QPoint &point) const
{
    const LineView *v = view();
    const QPoint p = v->viewport()->mapFromGlobal(point);
    if (!v->viewport()->rect().contains(p) || v->lineCount() == 0)
        return -1;
    return int(v->offsetAt(p));
}

void LineViewAccessible::scrollToSubstring(int startIndex, int)
{
    qsizetype line = 0;
    qsizetype column = 0;
    view()->positionAt(startIndex, &line, &column);
    view()->ensureLineVisible(line);
}

QString LineViewAccessible::attributes(int offset, int *startOffset, int *endOffset) const
{
    *startOffset = *endOffset = offset;
    return {};
}

namespace {

void (*s_notifier)(QAccessibleEvent *) = nullptr;

void notify(QAccessibleEvent *event)
{
    if (s_notifier)
        s_notifier(event);
    else
        QAccessible::updateAccessibility(event);
}

QAccessibleInterface *lineViewAccessibleFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("LineView") && object && object->isWidgetType())
        return new LineViewAccessible(static_cast<LineView *>(object));
    return nullptr;
}

} // namespace

void installLineViewAccessibleFactory()
{
    static const bool installed = [] {
        QAccessible::installFactory(lineViewAccessibleFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

void LineViewAccessibility::setNotifier(void (*notifier)(QAccessibleEvent *))
{
    s_notifier = notifier;
}

bool LineViewAccessibility::wanted()
{
    return s_notifier != nullptr || QAccessible::isActive();
}

void LineViewAccessibility::sendEdits(QObject *view, const QList<LineStore::TextEdit> &edits)
{
    for (const LineStore::TextEdit &edit : edits) {
        const int at = int(edit.position);
        if (edit.inserted.isEmpty()) {
            QAccessibleTextRemoveEvent e(view, at, edit.removed);
            notify(&e);
        } else if (edit.removed.isEmpty()) {
            QAccessibleTextInsertEvent e(view, at, edit.inserted);
            notify(&e);
        } else {
            QAccessibleTextUpdateEvent e(view, at, edit.removed, edit.inserted);
            notify(&e);
        }
    }
}

void LineViewAccessibility::sendSelection(QObject *view, qsizetype start, qsizetype end,
                                          qsizetype cursor)
{
    QAccessibleTextSelectionEvent e(view, int(start), int(end));
    e.setCursorPosition(int(cursor));
    notify(&e);
}
