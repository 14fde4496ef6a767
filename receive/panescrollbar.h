#pragma once
// A pane's scroll bar that repaints only when what it draws changes. A pane that grows by a
// line per frame moves its range at every update, and at hundreds or thousands of lines a
// one-line change rarely moves the slider by a pixel; each repaint of a styled scroll bar
// (and of what lies behind it) costs more than the pane's text.

#include <QRect>
#include <QScrollBar>

class PaneScrollBar : public QScrollBar
{
    Q_OBJECT
public:
    explicit PaneScrollBar(Qt::Orientation orientation, QWidget *parent = nullptr);

protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent *event) override;

private:
    struct Look
    {
        QRect slider;
        bool atMinimum = false;
        bool atMaximum = false;
        bool operator==(const Look &) const = default;
    };
    Look look() const;

    Look m_painted;
    bool m_paintedOnce = false;
};
