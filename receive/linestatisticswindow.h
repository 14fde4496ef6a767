#pragma once
// The non-modal "Line statistics" window: the figures of LineStatistics as caption and value
// rows, and a "Reset" button. The window only shows what it is given; the monitor window
// owns the counts and refreshes this at its timer tick.

#include <QList>
#include <QWidget>

class QLabel;
class QGridLayout;
struct StatisticsRow;

class LineStatisticsWindow : public QWidget
{
    Q_OBJECT
public:
    explicit LineStatisticsWindow(QWidget *parent = nullptr);

    // Shows the rows; a value whose text did not change is not touched, so a screen reader
    // hears only what changed.
    void showRows(const QList<StatisticsRow> &rows);
    // The value label of a row, by caption; for tests.
    QLabel *valueLabel(const QString &caption) const;

Q_SIGNALS:
    void resetRequested();

private:
    QGridLayout *m_grid = nullptr;
    QList<QLabel *> m_captions;
    QList<QLabel *> m_values;
};
