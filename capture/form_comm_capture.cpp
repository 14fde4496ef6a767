// Capture set-up and the record writer of the monitor window.
#include "app/form_comm.h"
#include "capture/capturerecord.h"
#include "capture/fileservice.h"
#include "capture/form_outputcfg.h"
#include "capture/module5.h"
#include "capture/savedialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPointer>
#include <QSignalBlocker>

void Form_Comm::setupCapture()
{
    // toggled, not clicked: the operator's click and a change from code both run the
    // handler, and each change runs it exactly once.
    connect(chk_file, &QCheckBox::toggled, this, [this](bool) { chk_file_Click(); });
}

void Form_Comm::chk_file_Click()
{
    if (!chk_file->isChecked()) {
        // Unchecking ends capture: records stop at once and the file is closed.
        const QString path = CaptureStream ? CaptureStream->path() : QString();
        const QString error = endCapture();
        setFilenameCaption(QString());
        if (!error.isEmpty())
            reportError(QStringLiteral("The capture file \"%1\" was closed with an error: %2")
                            .arg(path, error));
        return;
    }

    // The dialog's wait runs a nested event loop, so serial events and ticks go on.
    QPointer<Form_OutputCfg> dialog = new Form_OutputCfg(this);
    dialog->exec();
    if (!dialog)
        return;
    if (!dialog->bIsOk) {
        delete dialog;
        return;
    }
    SourceString.clear();
    IncludeTimestamp = false;
    if (dialog->chk_Source->isChecked())
        SourceString = trimBlanks(dialog->txt_source->text());
    IncludeTimestamp = dialog->chk_TimeStamp->isChecked();
    delete dialog;

    CommonDialog1->ShowSave(this);
    const QString fileName = CommonDialog1->FileName();
    if (fileName.isEmpty()) {
        // No file chosen. A capture already running goes on: unchecking would end it,
        // which the operator did not ask for.
        if (CaptureEnabled)
            return;
        if (chk_file->isChecked())
            chk_file->setChecked(false); // runs chk_file_Click, nested, which clears the label
        else
            setFilenameCaption(QString());
        return;
    }

    std::unique_ptr<TextStream> opened;
    const QString error = Module5::OpenCaptureFile(FileSystem, opened, fileName, QByteArray());
    if (!error.isEmpty()) {
        // Nothing changes: a capture already running keeps its file.
        reportError(error);
        return;
    }
    // The previous file is closed, and its close checked, before records go to the new one.
    const QString previousPath = CaptureStream ? CaptureStream->path() : QString();
    const QString closeError = CaptureStream ? CaptureStream->Close() : QString();
    CaptureStream = std::move(opened);
    CaptureEnabled = true;
    if (!chk_file->isChecked()) {
        // A failed write during the dialogs unchecked the box; the new capture is on.
        const QSignalBlocker blocker(chk_file);
        chk_file->setChecked(true);
    }
    setFilenameCaption(trimBlanks(fileName));
    if (!closeError.isEmpty())
        reportError(QStringLiteral("The capture file \"%1\" was closed with an error: %2")
                        .arg(previousPath, closeError));
}

void Form_Comm::lbl_filename_Change()
{
    if (lbl_filename->text().isEmpty()) {
        lbl_filename->setBackgroundRole(QPalette::Button);
    } else {
        QPalette pal = lbl_filename->palette();
        pal.setColor(QPalette::Window, Qt::white);
        lbl_filename->setPalette(pal);
        lbl_filename->setBackgroundRole(QPalette::Window);
    }
}

void Form_Comm::setFilenameCaption(const QString &text)
{
    lbl_filename->setText(text);
    lbl_filename_Change();
}

QString Form_Comm::endCapture()
{
    CaptureEnabled = false;
    if (!CaptureStream)
        return {};
    const QString error = CaptureStream->Close();
    CaptureStream.reset();
    return error;
}

void Form_Comm::WriteToFile(const QByteArray &Prefix, const QByteArray &sData)
{
    if (!CaptureEnabled || !CaptureStream)
        return;
    m_record.resize(0);
    appendCaptureRecord(m_record, Prefix, sData);
    const QString error = CaptureStream->Write(m_record);
    if (error.isEmpty())
        return;

    // Stop at the first failure, so the operator gets one message and not one per frame;
    // the stream has already cut off any part of this record.
    const QString path = CaptureStream->path();
    endCapture();
    reportError(QStringLiteral("Capture stopped: a record could not be written to \"%1\": %2. "
                               "The file keeps every record written before.")
                    .arg(path, error));
    if (chk_file->isChecked())
        chk_file->setChecked(false); // runs chk_file_Click, nested, which clears the label
}
