#pragma once
// The save-file dialog as the capture set-up uses it: QtSaveDialog in the program, a scripted
// fake in tests.

#include <QString>

class QWidget;

class SaveDialog
{
public:
    virtual ~SaveDialog() = default;
    // Shows the dialog modally over owner and returns when the user closes it.
    virtual void ShowSave(QWidget *owner) = 0;
    // As ShowSave, for a file to be written afresh: a dialog that can asks before it
    // replaces a file that exists.
    virtual void ShowSaveAs(QWidget *owner) { ShowSave(owner); }
    // The chosen path, as the dialog returned it; empty when none was chosen.
    virtual QString FileName() const = 0;
};
