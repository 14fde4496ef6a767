#pragma once
// A label that reports clicks, for the property names that act when clicked. Assistive
// technology sees it as the label it is, with a press action that does what a click does.

#include <QLabel>

class ClickLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ClickLabel(const QString &text, QWidget *parent = nullptr);

Q_SIGNALS:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
};
