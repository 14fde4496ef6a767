#include "capture/qtsavedialog.h"

#include <QFileDialog>

void QtSaveDialog::ShowSave(QWidget *owner)
{
    // A cancelled dialog returns an empty name, which the set-up reads as "no file".
    m_fileName = QFileDialog::getSaveFileName(owner, QString(), QString(), QString(), nullptr,
                                              QFileDialog::DontConfirmOverwrite);
}

void QtSaveDialog::ShowSaveAs(QWidget *owner)
{
    m_fileName = QFileDialog::getSaveFileName(owner);
}
