// Command sending: the command box, the suffix list and the "Send" button.
#include "app/form_comm.h"
#include "port/serialcontrol.h"
#include "transmit/commandframing.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include <cstdio>
#include <limits>

void Form_Comm::setupTransmit()
{
    // QLineEdit cuts text at 32767 characters by default; a long pasted command must go
    // out whole or not at all.
    txt_send->setMaxLength(std::numeric_limits<int>::max());
    connect(cmd_Send, &QPushButton::clicked, this, &Form_Comm::cmd_Send_Click);
    // Return in the command box sends, as in any command line.
    connect(txt_send, &QLineEdit::returnPressed, cmd_Send, &QPushButton::click);
    if (const std::optional<qint16> port = MSComm1->CommPort())
        m_sendPort = *port;

    // Off at start: the command goes out exactly as typed unless the operator asks.
    m_angleCodes = new QAction(QStringLiteral("Codes in angle brackets"), this);
    m_angleCodes->setObjectName(QStringLiteral("act_angleCodes"));
    m_angleCodes->setCheckable(true);
    m_angleCodes->setToolTip(
        QStringLiteral("Send <STX>, <CR>, <0> to <255> as that byte; << sends <"));
    txt_send->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(txt_send, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        QMenu *menu = txt_send->createStandardContextMenu();
        menu->addSeparator();
        menu->addAction(m_angleCodes);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(txt_send->mapToGlobal(pos));
    });
}

void Form_Comm::cmd_Send_Click()
{
    const QString command = txt_send->text();
    const QString suffix = cbo_SuffixCommand->currentText();

    // A character with no single-byte code would go out as '?': refuse and keep the box.
    QString error;
    std::optional<QByteArray> bytes = commandBytes(command, &error);
    if (bytes && m_angleCodes->isChecked())
        bytes = decodeAngleCodes(*bytes, &error);
    if (!bytes) {
        reportError(error);
        return;
    }

    if (const std::optional<qint16> port = MSComm1->CommPort())
        m_sendPort = *port;
    const QByteArray framed = frameCommand(*bytes, suffix);
    if (MSComm1->setOutput(framed)) {
        m_stats.noteSent(quint64(framed.size()));
        txt_send->setText(QString());
        return;
    }

    if (const std::optional<qint16> port = MSComm1->CommPort())
        m_sendPort = *port;
    const QString text =
        QStringLiteral("Port [") + QString::number(m_sendPort) + QStringLiteral("] not opened");
    const QString reason = MSComm1->lastError();
    std::fprintf(stderr, "commtest: %s%s%s\n", qPrintable(text), reason.isEmpty() ? "" : ": ",
                 qPrintable(reason));

    // exec() runs a nested event loop: received characters and the timer keep being handled
    // while the operator reads the message.
    QPointer<QMessageBox> box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("commtest"),
                                                text, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("sendFailedBox"));
    box->setInformativeText(reason);
    box->setWindowModality(Qt::WindowModal);
    box->exec();
    delete box; // null when the window went away meanwhile
}
