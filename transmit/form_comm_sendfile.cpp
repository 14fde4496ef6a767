// Sending a file: Ctrl+O asks for it through the open-file dialog, FileSender sends it,
// the "Sending file" window shows how far it is.
#include "app/form_comm.h"
#include "port/serialcontrol.h"
#include "transmit/filesender.h"
#include "transmit/opendialog.h"
#include "transmit/sendfilewindow.h"

#include <QAction>

void Form_Comm::setupSendFile()
{
    m_openDialog = std::make_unique<QtOpenDialog>();
    m_fileSender = new FileSender(MSComm1.get(), this);
    m_fileSender->setObjectName(QStringLiteral("FileSender"));
    connect(m_fileSender, &FileSender::finished, this,
            [this](FileSender::Outcome outcome, const QString &text) {
                if (outcome == FileSender::Outcome::Done && m_sendFileWindow)
                    m_sendFileWindow->close();
                else if (outcome == FileSender::Outcome::Failed)
                    reportError(text);
            });

    m_sendFileAction = new QAction(QStringLiteral("Send file…"), this);
    m_sendFileAction->setObjectName(QStringLiteral("act_sendFile"));
    m_sendFileAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    m_sendFileAction->setShortcutContext(Qt::WindowShortcut);
    addAction(m_sendFileAction); // the shortcut works anywhere in the window
    connect(m_sendFileAction, &QAction::triggered, this, &Form_Comm::showSendFile);
}

void Form_Comm::setOpenDialog(std::unique_ptr<OpenDialog> dialog)
{
    m_openDialog = std::move(dialog);
}

SendFileWindow *Form_Comm::sendFileWindow() const
{
    return m_sendFileWindow;
}

void Form_Comm::showSendFile()
{
    // One file at a time: a second Ctrl+O shows the one under way.
    if (!m_fileSender->isRunning()) {
        m_openDialog->ShowOpen(this);
        const QString path = m_openDialog->FileName();
        if (path.isEmpty())
            return;
        if (!MSComm1->PortOpen().value_or(false)) {
            reportError(QStringLiteral("The file was not sent: the port is not open."));
            return;
        }
        if (!m_fileSender->start(path)) {
            reportError(QStringLiteral("The file was not sent: ") + m_fileSender->error());
            return;
        }
        if (!m_fileSender->isRunning())
            return; // failed at the first write, and said so
    }
    if (!m_sendFileWindow) {
        m_sendFileWindow = new SendFileWindow(m_fileSender, this);
        m_sendFileWindow->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_sendFileWindow->refresh();
    m_sendFileWindow->show();
    m_sendFileWindow->raise();
    m_sendFileWindow->activateWindow();
}
