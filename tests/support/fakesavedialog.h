#pragma once
// A save-file dialog for window tests, answered from a script: each ShowSave takes the
// next name of `answers` (an empty text is "no file chosen"); with no answer left it keeps
// the name it had, as the real dialog's FileName does. `whileShown` runs inside ShowSave,
// where the real dialog's modal wait would be, e.g. to feed received characters.

#include "capture/savedialog.h"

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

class FakeSaveDialog : public SaveDialog
{
public:
    QStringList answers;
    std::function<void()> whileShown;
    int shown = 0;            // number of ShowSave calls
    QWidget *owner = nullptr; // the owner of the last ShowSave

    void ShowSave(QWidget *ownerWidget) override
    {
        ++shown;
        owner = ownerWidget;
        if (whileShown)
            whileShown();
        if (!answers.isEmpty())
            m_fileName = answers.takeFirst();
    }
    QString FileName() const override { return m_fileName; }

private:
    QString m_fileName;
};
