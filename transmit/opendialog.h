#pragma once
// The open-file dialog as "Send file" uses it; tests answer it with a fake.

#include <QString>

class QWidget;

class OpenDialog
{
public:
    virtual ~OpenDialog() = default;
    // Shows the dialog modally over owner and returns when the user closes it.
    virtual void ShowOpen(QWidget *owner) = 0;
    // The chosen path; empty when none was chosen.
    virtual QString FileName() const = 0;
};

// Qt's open-file dialog.
class QtOpenDialog : public OpenDialog
{
public:
    void ShowOpen(QWidget *owner) override;
    QString FileName() const override { return m_fileName; }

private:
    QString m_fileName;
};
