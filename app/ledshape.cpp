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

LedShape::LedShape(QWidget *parent)
    : QWidget(parent)
{
    setAccessibleDescription(colourWord(m_fill));
}

void LedShape::setFillColor(const QColor &color)
{
    if (color == m_fill)
        return;
    m_fill = color;
    setAccessibleDescription(colourWord(m_fill));
    update();
}

void LedShape::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(m_fill);
    p.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}
