#include "transmit/repeatdialog.h"

#include "transmit/repeatschedule.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

#include <limits>

RepeatDialog::RepeatDialog(int periodMs, int count, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("RepeatDialog"));
    setWindowTitle(QStringLiteral("Repeat command"));
    auto *form = new QFormLayout(this);

    m_period = new QSpinBox(this);
    m_period->setObjectName(QStringLiteral("spn_repeatPeriod"));
    m_period->setRange(RepeatSchedule::kMinPeriodMs, RepeatSchedule::kMaxPeriodMs);
    m_period->setValue(periodMs);
    m_period->setSuffix(QStringLiteral(" ms"));
    form->addRow(QStringLiteral("&Period:"), m_period);

    m_count = new QSpinBox(this);
    m_count->setObjectName(QStringLiteral("spn_repeatCount"));
    m_count->setRange(0, std::numeric_limits<int>::max());
    m_count->setValue(count);
    m_count->setSpecialValueText(QStringLiteral("until stopped"));
    form->addRow(QStringLiteral("&Count:"), m_count);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
}

int RepeatDialog::periodMs() const
{
    return m_period->value();
}

int RepeatDialog::count() const
{
    return m_count->value();
}

void RepeatDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // Typing replaces the period at once.
    m_period->setFocus(Qt::OtherFocusReason);
    m_period->selectAll();
}
