#pragma once
// The real save-file dialog: Qt's.

#include "capture/savedialog.h"

class QtSaveDialog : public SaveDialog
{
public:
    void ShowSave(QWidget *owner) override;
    void ShowSaveAs(QWidget *owner) override;
    QString FileName() const override { return m_fileName; }

private:
    QString m_fileName;
};
