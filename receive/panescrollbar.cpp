#include "receive/panescrollbar.h"

#include <QStyle>
#include <QStyleOptionSlider>

PaneScrollBar::PaneScrollBar(Qt::Orientation orientation, QWidget *parent)
    : QScrollBar(orientation, parent)
{}

PaneScrollBar::Look PaneScrollBar::look() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider,
                                    this),
            value() == minimum(), value() == maximum()};
}

void PaneScrollBar::sliderChange(SliderChange change)
{
    // What was last painted still holds: a pending repaint, if any, draws the new state.
    if (m_paintedOnce && change != SliderOrientationChange && look() == m_painted)
        return;
    QScrollBar::sliderChange(change);
}

void PaneScrollBar::paintEvent(QPaintEvent *event)
{
    m_painted = look();
    m_paintedOnce = true;
    QScrollBar::paintEvent(event);
}
