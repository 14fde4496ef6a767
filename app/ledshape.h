#pragma once
// A small filled circle whose fill colour tells a state. A screen reader reads its caption
// and its colour in words ("Rec: red"); the colour alone is its accessible description.

#include <QColor>
#include <QWidget>

class LedShape : public QWidget
{
    Q_OBJECT
public:
    explicit LedShape(const QString &caption, QWidget *parent = nullptr);
    void setFillColor(const QColor &color);
    QColor fillColor() const { return m_fill; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void describe();

    QString m_caption;
    QColor m_fill = Qt::red;
};
