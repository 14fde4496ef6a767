#include "transmit/opendialog.h"

#include <QFileDialog>

void QtOpenDialog::ShowOpen(QWidget *owner)
{
    m_fileName = QFileDialog::getOpenFileName(owner, QStringLiteral("Send file"));
}
