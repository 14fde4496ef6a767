#pragma once
// A small filled circle whose fill colour tells a state; its colour is also given to
// assistive technology as the accessible description ("red", "green").

#include <QColor>
#include <QWidget>

class LedShape : public QWidget
{
    Q_OBJECT
public:
    explicit LedShape(QWidget *parent = nullptr);
    void setFillColor(const QColor &color);
    QColor fillColor() const { return m_fill; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_fill = Qt::red;
};
