#pragma once
// The "Repeat command" dialog: the period in milliseconds and how many times (0: until
// stopped). The window reads the values when it is accepted.

#include <QDialog>

class QSpinBox;

class RepeatDialog : public QDialog
{
    Q_OBJECT
public:
    RepeatDialog(int periodMs, int count, QWidget *parent = nullptr);

    int periodMs() const;
    int count() const;
    QSpinBox *periodBox() const { return m_period; }
    QSpinBox *countBox() const { return m_count; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    QSpinBox *m_period = nullptr;
    QSpinBox *m_count = nullptr;
};
