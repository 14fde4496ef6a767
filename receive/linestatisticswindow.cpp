#include "receive/linestatisticswindow.h"

#include "receive/linestatistics.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

LineStatisticsWindow::LineStatisticsWindow(QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("LineStatistics"));
    setWindowTitle(QStringLiteral("Line statistics"));
    auto *layout = new QVBoxLayout(this);
    m_grid = new QGridLayout;
    m_grid->setColumnStretch(1, 1);
    layout->addLayout(m_grid);
    auto *reset = new QPushButton(QStringLiteral("Reset"), this);
    reset->setObjectName(QStringLiteral("cmd_resetStatistics"));
    reset->setToolTip(QStringLiteral("Zero the counts; they also start again when the port opens"));
    connect(reset, &QPushButton::clicked, this, &LineStatisticsWindow::resetRequested);
    layout->addWidget(reset, 0, Qt::AlignRight);
}

void LineStatisticsWindow::showRows(const QList<StatisticsRow> &rows)
{
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (i == m_values.size()) {
            auto *caption = new QLabel(this);
            auto *value = new QLabel(this);
            value->setTextInteractionFlags(Qt::TextSelectableByMouse);
            // The value speaks for itself; the caption tells a screen reader what it is.
            caption->setBuddy(value);
            m_grid->addWidget(caption, int(i), 0);
            m_grid->addWidget(value, int(i), 1);
            m_captions.append(caption);
            m_values.append(value);
        }
        if (m_captions[i]->text() != rows[i].caption) {
            m_captions[i]->setText(rows[i].caption);
            m_values[i]->setAccessibleDescription(rows[i].caption);
        }
        if (m_values[i]->text() != rows[i].value)
            m_values[i]->setText(rows[i].value);
    }
}

QLabel *LineStatisticsWindow::valueLabel(const QString &caption) const
{
    for (qsizetype i = 0; i < m_captions.size(); ++i) {
        if (m_captions[i]->text() == caption)
            return m_values[i];
    }
    return nullptr;
}
