#pragma once
// The options dialog of the capture set-up, "Write to File Configuration": whether records
// carry a timestamp and a source string. Created afresh for each set-up and shown modally
// over the main window; the caller reads bIsOk and the controls, then destroys it.

#include "capture/optionsprompt.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class Form_OutputCfg : public QDialog
{
    Q_OBJECT
public:
    explicit Form_OutputCfg(QWidget *owner);

    // The result: True only after OK. Any other way out (Cancel, Escape, the close box)
    // leaves it False.
    bool bIsOk = false;

    QLabel *lbl_intro = nullptr;
    QCheckBox *chk_TimeStamp = nullptr;
    QCheckBox *chk_Source = nullptr;
    QLineEdit *txt_source = nullptr;
    QPushButton *cmd_ok = nullptr;
    QPushButton *cmd_Cancel = nullptr;

public Q_SLOTS:
    void chk_Source_Click();
    void cmd_ok_Click();
    void cmd_Cancel_Click();

private:
    int twips(int value) const;
};

// The real options prompt: a fresh Form_OutputCfg for each set-up, destroyed after it.
class OutputCfgPrompt : public OptionsPrompt
{
public:
    OutputOptions ShowOptions(QWidget *owner) override;
};
