// Capture set-up and the record writer of the monitor window; the capture session owns
// the file, its stream and the options.
#include "app/form_comm.h"
#include "capture/capturerecord.h"
#include "capture/optionsprompt.h"
#include "capture/savedialog.h"
#include "port/serialcontrol.h"

#include <QCheckBox>
#include <QLabel>
#include <QPalette>
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
        const QString error = m_capture.stop();
        setFilenameCaption(QString());
        if (!error.isEmpty())
            reportError(error);
        return;
    }

    const OutputOptions options = m_optionsPrompt->ShowOptions(this);
    if (!options.bIsOk)
        return;
    m_capture.setOptions(options.chk_Source ? options.txt_source : QString(),
                         options.chk_TimeStamp);

    CommonDialog1->ShowSave(this);
    const QString fileName = CommonDialog1->FileName();
    if (fileName.isEmpty()) {
        // No file chosen. A capture already running goes on: unchecking would end it,
        // which the operator did not ask for.
        if (m_capture.captureEnabled())
            return;
        if (chk_file->isChecked())
            chk_file->setChecked(false); // runs chk_file_Click, nested, which clears the label
        else
            setFilenameCaption(QString());
        return;
    }

    // A failed open changes nothing: a capture already running keeps its file.
    const CaptureSession::StartResult result = m_capture.start(fileName);
    if (result.started) {
        if (!chk_file->isChecked()) {
            // A failed write during the dialogs unchecked the box; the new capture is on.
            const QSignalBlocker blocker(chk_file);
            chk_file->setChecked(true);
        }
        setFilenameCaption(trimBlanks(fileName));
    }
    if (!result.error.isEmpty())
        reportError(result.error);
}

void Form_Comm::lbl_filename_Change()
{
    const bool empty = lbl_filename->text().isEmpty();
    if (empty) {
        lbl_filename->setBackgroundRole(QPalette::Button);
    } else {
        QPalette pal = lbl_filename->palette();
        pal.setColor(QPalette::Window, Qt::white);
        lbl_filename->setPalette(pal);
        lbl_filename->setBackgroundRole(QPalette::Window);
    }
    // The path is what a screen reader reads; an empty label would read as nothing.
    const QString name = empty ? QStringLiteral("No capture file") : QString();
    if (lbl_filename->accessibleName() != name)
        lbl_filename->setAccessibleName(name);
}

void Form_Comm::setFilenameCaption(const QString &text)
{
    setLabelText(lbl_filename, text);
    lbl_filename_Change();
}

void Form_Comm::WriteToFile(const QByteArray &Prefix, const QByteArray &sData)
{
    // A write per frame cost more than the rest of the frame's work: the frames of a burst
    // go in one write at the end of the delivery pass that hands them over (a pass runs
    // 15 ms at most), before the window paints. Bounded, for a flood.
    constexpr int kMaxQueuedRecords = 1024;
    m_capture.queue(Prefix, sData);
    if (!MSComm1->delivering() || m_capture.queuedRecords() >= kMaxQueuedRecords)
        flushCapture();
}

void Form_Comm::flushCapture()
{
    const CaptureSession::Flushed flushed = m_capture.flush();
    m_stats.noteRecords(quint64(flushed.records));
    if (flushed.error.isEmpty())
        return;
    reportError(flushed.error);
    if (chk_file->isChecked())
        chk_file->setChecked(false); // runs chk_file_Click, nested, which clears the label
}
