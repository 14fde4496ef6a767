#pragma once
// What assistive technology reads from a LineView: its text, selection, caret and the
// places of characters on screen, all answered from the pane's line store without
// copying the whole text for a query about one line.

#include "receive/linestore.h"

#include <QAccessibleTextInterface>
#include <QAccessibleWidget>

class LineView;

class LineViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit LineViewAccessible(LineView *view);

    LineView *view() const;

    void *interface_cast(QAccessible::InterfaceType t) override;
    QAccessible::State state() const override;
    // The description carries the "older lines not kept" notice while there is one.
    QString text(QAccessible::Text t) const override;

    void selection(int selectionIndex, int *startOffset, int *endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;

    QString text(int startOffset, int endOffset) const override;
    int characterCount() const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType type, int *startOffset,
                         int *endOffset) const override;
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType type, int *startOffset,
                             int *endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType type, int *startOffset,
                            int *endOffset) const override;

    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint &point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int *startOffset, int *endOffset) const override;
};

// Makes QAccessible::queryAccessibleInterface answer LineViewAccessible for every
// LineView; safe to call more than once.
void installLineViewAccessibleFactory();

// How a LineView tells assistive technology what changed.
namespace LineViewAccessibility {
// Events go to notifier instead of QAccessible::updateAccessibility; nullptr restores.
void setNotifier(void (*notifier)(QAccessibleEvent *));
// A notifier is set or an assistive technology listens: changes are worth recording.
bool wanted();
// One event per edit: a removal, an insertion, or an update when the edit does both.
void sendEdits(QObject *view, const QList<LineStore::TextEdit> &edits);
void sendSelection(QObject *view, qsizetype start, qsizetype end, qsizetype cursor);
} // namespace LineViewAccessibility
