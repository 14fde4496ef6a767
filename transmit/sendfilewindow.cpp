#include "transmit/sendfilewindow.h"

#include "transmit/filesender.h"

#include <QCloseEvent>
#include <QFormLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

SendFileWindow::SendFileWindow(FileSender *sender, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_sender(sender)
{
    setObjectName(QStringLiteral("SendFileWindow"));
    setWindowTitle(QStringLiteral("Sending file"));
    auto *layout = new QVBoxLayout(this);
    auto *form = new QFormLayout;
    layout->addLayout(form);
    auto row = [this, form](const QString &caption) {
        auto *value = new QLabel(this);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        value->setMinimumWidth(260);
        // The value speaks for itself; the caption tells a screen reader what it is.
        value->setAccessibleDescription(caption);
        auto *label = new QLabel(caption + u':', this);
        label->setBuddy(value);
        form->addRow(label, value);
        return value;
    };
    m_file = row(QStringLiteral("File"));
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 1000);
    m_progress->setAccessibleName(QStringLiteral("Progress"));
    form->addRow(m_progress);
    m_sent = row(QStringLiteral("Sent"));
    m_rate = row(QStringLiteral("Rate"));
    m_left = row(QStringLiteral("Time left"));
    m_status = row(QStringLiteral("Status"));
    m_status->setWordWrap(true);

    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("cmd_cancelSendFile"));
    m_cancel->setDefault(true);
    layout->addWidget(m_cancel, 0, Qt::AlignRight);
    connect(m_cancel, &QPushButton::clicked, this, &SendFileWindow::cancelOrClose);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &SendFileWindow::cancelOrClose);

    connect(sender, &FileSender::progressed, this, &SendFileWindow::refresh);
    connect(sender, &FileSender::finished, this,
            [this](FileSender::Outcome, const QString &text) { ended(text); });
    refresh();
    m_cancel->setFocus();
}

void SendFileWindow::setValue(QLabel *label, const QString &text)
{
    // Each change is an event for a screen reader: only real changes.
    if (label->text() != text)
        label->setText(text);
}

QLabel *SendFileWindow::valueLabel(const QString &caption) const
{
    for (QLabel *value : {m_file, m_sent, m_rate, m_left, m_status}) {
        if (value->accessibleDescription() == caption)
            return value;
    }
    return nullptr;
}

void SendFileWindow::refresh()
{
    const qint64 total = m_sender->total();
    const qint64 sent = m_sender->sent();
    setValue(m_file, m_sender->fileName());
    const int permille = total > 0 ? int(sent * 1000 / total) : 0;
    if (m_progress->value() != permille)
        m_progress->setValue(permille);
    setValue(m_sent, bytesOfText(sent, total));
    if (m_sender->isRunning()) {
        const double rate = m_sender->rate();
        setValue(m_rate, rateText(rate));
        setValue(m_left, rate > 0 ? timeLeftText(total - sent, rate)
                                  : QStringLiteral("waiting for the port to take more"));
        setValue(m_status, QStringLiteral("Sending"));
    }
}

void SendFileWindow::ended(const QString &text)
{
    refresh();
    setValue(m_left, QString());
    setValue(m_status, text);
    m_cancel->setText(QStringLiteral("Close"));
}

void SendFileWindow::cancelOrClose()
{
    if (m_sender->isRunning())
        m_sender->stop(FileSender::Outcome::Stopped, QStringLiteral("Cancelled"));
    else
        close();
}

void SendFileWindow::closeEvent(QCloseEvent *event)
{
    // A window that is gone cannot show the sending any more: closing it cancels.
    m_sender->stop(FileSender::Outcome::Stopped, QStringLiteral("Cancelled"));
    event->accept();
}
