#include "app/ledshape.h"

#include <QPainter>

namespace {
QString colourWord(const QColor &c)
{
    if (c == QColor(Qt::red))
        return QStringLiteral("red");
    if (c == QColor(0, 255, 0))
        return QStringLiteral("green");
    return c.name();
}
} // namespace

LedShape::LedShape(const QString &caption, QWidget *parent)
    : QWidget(parent)
    , m_caption(caption)
{
    describe();
}

void LedShape::setFillColor(const QColor &color)
{
    // Unchanged colours send nothing to a screen reader: the timer sets one every tick.
    if (color == m_fill)
        return;
    m_fill = color;
    describe();
    update();
}

void LedShape::describe()
{
    const QString word = colourWord(m_fill);
    setAccessibleName(m_caption + QStringLiteral(": ") + word);
    setAccessibleDescription(word);
}

void LedShape::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(m_fill);
    p.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}
