#pragma once
// The find bar of a receive pane: a small non-modal field over the pane's top right
// corner, closed until Ctrl+F. Typing searches from the top of the visible part; Return
// or F3 goes to the next match, Shift+Return or Shift+F3 to the previous one, going round
// the ends with a note; Escape closes it and leaves the match selected, so Ctrl+C in the
// pane copies it. The search rules are LineFinder's.

#include "receive/linefinder.h"

#include <QFrame>

class LineView;
class QCheckBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;

class LineFindBar : public QFrame
{
    Q_OBJECT
public:
    explicit LineFindBar(LineView *view);

    // Shows the bar with the focus in its field, the text there selected.
    void open();
    // Hides the bar and gives the focus back to the pane; the selection stays.
    void dismiss();
    void findNext() { step(true); }
    void findPrevious() { step(false); }
    // Lays the bar out in one row (a wide pane) or two (a narrow one).
    void setOneRow(bool oneRow);

    QLineEdit *field() const { return m_field; }
    QCheckBox *caseToggle() const { return m_case; }
    // "No match", the note of a search that went round an end, or empty.
    QString status() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    // The field or the case changed: searches afresh from the top of the visible part.
    void search();
    void step(bool forward);
    void showMatch(const LineFinder::Match &match, bool forward);

    LineView *m_view = nullptr;
    QHBoxLayout *m_top = nullptr;
    QHBoxLayout *m_bottom = nullptr;
    bool m_oneRow = false;
    QWidget *m_label = nullptr;
    QWidget *m_close = nullptr;
    QLineEdit *m_field = nullptr;
    QCheckBox *m_case = nullptr;
    QLabel *m_status = nullptr;
    LineFinder m_finder;
    // The match shown last, its line numbered as LineStore::frontSeq() counts, and the
    // selection it made (offsets from the line's start): while that selection stands, the
    // next step starts from the match.
    bool m_matched = false;
    qint64 m_matchSeq = 0;
    LineFinder::Match m_match;
    qsizetype m_selStart = -1;
    qsizetype m_selEnd = -1;
};
