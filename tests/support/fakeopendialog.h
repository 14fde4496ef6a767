#pragma once
// An open-file dialog for window tests: each ShowOpen takes the next name of `answers`
// (an empty text is "cancelled"); with none left, it answers "cancelled".

#include "transmit/opendialog.h"

#include <QStringList>

class FakeOpenDialog : public OpenDialog
{
public:
    QStringList answers;
    int shown = 0;

    void ShowOpen(QWidget *) override
    {
        ++shown;
        m_fileName = answers.isEmpty() ? QString() : answers.takeFirst();
    }
    QString FileName() const override { return m_fileName; }

private:
    QString m_fileName;
};
