// Command sending: the command box, the suffix list and the "Send" button.
#include "app/form_comm.h"
#include "port/serialcontrol.h"
#include "transmit/commandframing.h"

#include <QAction>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include <cstdio>
#include <functional>
#include <limits>

namespace {

// Keys of the command box that QLineEdit leaves unused: handle returns true when it used one.
class CommandBoxKeys : public QObject
{
public:
    CommandBoxKeys(QObject *parent, std::function<bool(int key)> handle)
        : QObject(parent)
        , m_handle(std::move(handle))
    {}

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool plain = (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
        return plain && m_handle(key->key());
    }

private:
    std::function<bool(int)> m_handle;
};

} // namespace

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
        QStringLiteral("Send <STX>, <CR>, <0> to <255>, <0x1B> as that byte; << sends <"));
    txt_send->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(txt_send, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        QMenu *menu = txt_send->createStandardContextMenu();
        menu->addSeparator();
        menu->addAction(m_angleCodes);
        menu->addSeparator();
        menu->addAction(m_repeatAction);
        menu->addAction(m_stopRepeatAction);
        menu->addAction(m_sendFileAction);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(txt_send->mapToGlobal(pos));
    });

    // Up and Down walk the commands sent; Escape stops a repeat.
    txt_send->installEventFilter(new CommandBoxKeys(this, [this](int key) {
        std::optional<QString> text;
        if (key == Qt::Key_Up)
            text = m_history.up(txt_send->text());
        else if (key == Qt::Key_Down)
            text = m_history.down();
        else if (key == Qt::Key_Escape && m_repeat) {
            stopRepeating();
            return true;
        } else {
            return false;
        }
        if (text)
            txt_send->setText(*text);
        return true;
    }));
    setupRepeat();
    setupSendFile();
}

std::optional<QByteArray> Form_Comm::commandBoxBytes(const QString &command)
{
    // A character with no single-byte code would go out as '?': refuse and keep the box.
    QString error;
    std::optional<QByteArray> bytes = commandBytes(command, &error);
    if (bytes && m_angleCodes->isChecked())
        bytes = decodeAngleCodes(*bytes, &error);
    if (!bytes)
        reportError(error);
    return bytes;
}

void Form_Comm::cmd_Send_Click()
{
    const QString command = txt_send->text();
    const QString suffix = cbo_SuffixCommand->currentText();

    const std::optional<QByteArray> bytes = commandBoxBytes(command);
    if (!bytes)
        return;

    if (const std::optional<qint16> port = MSComm1->CommPort())
        m_sendPort = *port;
    const QByteArray framed = frameCommand(*bytes, suffix);
    if (MSComm1->setOutput(framed)) {
        m_stats.noteSent(quint64(framed.size()));
        m_history.push(command);
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
