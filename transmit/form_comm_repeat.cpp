// Repeated sending: the "Repeat command" dialog, the period's timer, and every way a
// repeat or a file send ends.
#include "app/form_comm.h"
#include "port/serialcontrol.h"
#include "transmit/commandframing.h"
#include "transmit/filesender.h"
#include "transmit/repeatdialog.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QTimer>

void Form_Comm::setupRepeat()
{
    m_sendTip = txt_send->toolTip();
    m_repeatTimer = new QTimer(this);
    m_repeatTimer->setTimerType(Qt::PreciseTimer);
    connect(m_repeatTimer, &QTimer::timeout, this, &Form_Comm::repeatTick);

    m_repeatAction = new QAction(QStringLiteral("Repeat…"), this);
    m_repeatAction->setObjectName(QStringLiteral("act_repeat"));
    m_repeatAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    m_repeatAction->setShortcutContext(Qt::WidgetShortcut);
    txt_send->addAction(m_repeatAction);
    connect(m_repeatAction, &QAction::triggered, this, &Form_Comm::showRepeatDialog);

    m_stopRepeatAction = new QAction(QStringLiteral("Stop repeating"), this);
    m_stopRepeatAction->setObjectName(QStringLiteral("act_stopRepeat"));
    m_stopRepeatAction->setEnabled(false);
    connect(m_stopRepeatAction, &QAction::triggered, this, &Form_Comm::stopRepeating);

    // The replug re-open that follows starts nothing again: the repeat and the file are over.
    connect(MSComm1.get(), &SerialControl::portLost, this, [this](const QString &reason) {
        stopSending(QStringLiteral("the port was lost (%1).").arg(reason), true);
    });
}

void Form_Comm::showRepeatDialog()
{
    auto *dialog = new RepeatDialog(m_repeatPeriodMs, m_repeatCount, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        m_repeatPeriodMs = dialog->periodMs();
        m_repeatCount = dialog->count();
        startRepeat(m_repeatPeriodMs, m_repeatCount);
    });
    dialog->open(); // window-modal without a nested event loop
    dialog->activateWindow();
}

void Form_Comm::startRepeat(int periodMs, int count)
{
    const QString command = txt_send->text();
    const std::optional<QByteArray> bytes = commandBoxBytes(command);
    if (!bytes)
        return;
    stopRepeating(); // a new repeat replaces the one running
    m_repeat.emplace(periodMs, count);
    m_repeatCommand = *bytes;
    m_repeatText = command;
    m_repeatTimer->start(m_repeat->periodMs());
    repeatTick(); // the first at once
    refreshStatistics();
}

void Form_Comm::repeatTick()
{
    if (!m_repeat)
        return;
    // A port that closed beneath the repeat may tell why only later; say it now, once.
    if (!MSComm1->PortOpen().value_or(false)) {
        const QString why = MSComm1->lastError();
        stopSending(why.isEmpty() ? QStringLiteral("the port is closed.")
                                  : QStringLiteral("the port is closed (%1).").arg(why),
                    true);
        return;
    }
    const bool busy = MSComm1->OutBufferCount().value_or(0) > 0;
    const RepeatSchedule::Step step = m_repeat->tick(busy);
    if (step == RepeatSchedule::Step::Done) {
        stopRepeating();
        return;
    }
    if (step == RepeatSchedule::Step::Send) {
        // Framed by the suffix chosen now, as "Send" would frame it.
        const QByteArray framed = frameCommand(m_repeatCommand, cbo_SuffixCommand->currentText());
        if (!MSComm1->setOutput(framed)) {
            const QString reason = MSComm1->lastError();
            stopSending(reason.isEmpty() ? QStringLiteral("the port refused the command.")
                                         : reason + u'.',
                        true);
            return;
        }
        m_stats.noteSent(quint64(framed.size()));
        m_repeat->sent();
        if (m_repeat->sentCount() == 1)
            m_history.push(m_repeatText);
        if (m_repeat->finished()) {
            stopRepeating();
            return;
        }
    }
    showRepeatStatus();
}

void Form_Comm::showRepeatStatus()
{
    const QString tip = m_repeat ? m_repeat->statusText() : m_sendTip;
    if (txt_send->toolTip() != tip)
        txt_send->setToolTip(tip);
    m_stopRepeatAction->setEnabled(m_repeat.has_value());
}

QString Form_Comm::repeatStatus() const
{
    return m_repeat ? m_repeat->statusText() : QString();
}

void Form_Comm::stopRepeating()
{
    stopSending(QString(), false);
}

void Form_Comm::stopSending(const QString &why, bool fault)
{
    if (m_repeat) {
        const QString text = m_repeat->stoppedText(why);
        m_repeat.reset();
        m_repeatTimer->stop();
        showRepeatStatus();
        refreshStatistics();
        if (fault)
            reportError(text);
    }
    // Only the stops that concern the port reach a file send; Escape and "Stop repeating"
    // come without a reason.
    if (m_fileSender && m_fileSender->isRunning() && !why.isEmpty())
        m_fileSender->stop(fault ? FileSender::Outcome::Failed : FileSender::Outcome::Stopped, why,
                           fault);
}
