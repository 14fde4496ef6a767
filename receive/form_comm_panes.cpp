// Find and save in the two panes: Ctrl+F and Ctrl+S act on the pane that has the focus,
// or on the received data pane when neither has it; "Save…" in a pane's menu on that pane.
#include "app/form_comm.h"
#include "capture/savedialog.h"
#include "receive/linesave.h"
#include "receive/lineview.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>

void Form_Comm::setupPanes()
{
    auto *find = new QAction(QStringLiteral("Find"), this);
    find->setObjectName(QStringLiteral("findInPane"));
    find->setShortcut(QKeySequence::Find);
    find->setShortcutContext(Qt::WindowShortcut);
    addAction(find);
    connect(find, &QAction::triggered, this, [this] { focusedPane()->showFind(); });

    auto *save = new QAction(QStringLiteral("Save"), this);
    save->setObjectName(QStringLiteral("savePane"));
    save->setShortcut(QKeySequence::Save);
    save->setShortcutContext(Qt::WindowShortcut);
    addAction(save);
    connect(save, &QAction::triggered, this, [this] { savePane(focusedPane()); });
    for (LineView *pane : {txt_out, txt_bffr})
        connect(pane, &LineView::saveRequested, this, [this, pane] { savePane(pane); });
}

LineView *Form_Comm::focusedPane() const
{
    const QWidget *focus = focusWidget();
    return focus && (focus == txt_bffr || txt_bffr->isAncestorOf(focus)) ? txt_bffr : txt_out;
}

void Form_Comm::savePane(LineView *pane)
{
    CommonDialog1->ShowSaveAs(this);
    const QString fileName = CommonDialog1->FileName();
    if (fileName.isEmpty())
        return; // no file chosen
    const QString what =
        pane == txt_bffr ? QStringLiteral("buffer log") : QStringLiteral("received data");
    // Renamed over the capture file, the pane would leave the capture writing to a file
    // no longer there.
    const QString capturePath = m_capture.path();
    if (!capturePath.isEmpty() && QFileInfo(fileName) == QFileInfo(capturePath)) {
        reportError(QStringLiteral("The %1 was not saved: %2 is the capture file being written. "
                                   "Choose another file.")
                        .arg(what, QDir::toNativeSeparators(fileName)));
        return;
    }
    const QString error = saveLines(pane->store(), fileName);
    if (!error.isEmpty())
        reportError(QStringLiteral("The %1 could not be saved to %2: %3")
                        .arg(what, QDir::toNativeSeparators(fileName), error));
}
