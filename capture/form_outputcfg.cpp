#include "capture/form_outputcfg.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>

#include <cmath>

Form_OutputCfg::Form_OutputCfg(QWidget *owner)
    : QDialog(owner)
{
    setObjectName(QStringLiteral("Form_OutputCfg"));
    setWindowTitle(QStringLiteral("Write to File Configuration"));
    // A dialog is a window of its own and does not inherit the owner's font by itself;
    // the captions are laid out for the main window's font.
    if (owner)
        setFont(owner->font());
    setFixedSize(twips(4575), twips(2220));

    auto place = [this](QWidget *w, const char *name, int l, int t, int wd, int h) {
        w->setObjectName(QString::fromLatin1(name));
        w->setGeometry(twips(l), twips(t), twips(wd), twips(h));
    };

    lbl_intro =
        new QLabel(QStringLiteral("Additional information call be included in the output file.  "
                                  "Please check the items that you would like to include."),
                   this);
    lbl_intro->setWordWrap(true);
    lbl_intro->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    place(lbl_intro, "lbl_intro", 90, 60, 4425, 615);

    chk_TimeStamp = new QCheckBox(QStringLiteral("Include timestamp"), this);
    chk_TimeStamp->setChecked(true);
    place(chk_TimeStamp, "chk_TimeStamp", 210, 810, 3495, 285);

    chk_Source = new QCheckBox(QStringLiteral("Include a source string"), this);
    place(chk_Source, "chk_Source", 210, 1170, 2145, 285);

    txt_source = new QLineEdit(this);
    txt_source->setEnabled(false);
    txt_source->setAccessibleName(QStringLiteral("Source string"));
    place(txt_source, "txt_source", 2280, 1170, 2175, 285);

    cmd_ok = new QPushButton(QStringLiteral("&OK"), this);
    place(cmd_ok, "cmd_ok", 2340, 1770, 1005, 325);
    cmd_Cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    place(cmd_Cancel, "cmd_Cancel", 3450, 1770, 1005, 325);

    setTabOrder(chk_TimeStamp, chk_Source);
    setTabOrder(chk_Source, txt_source);
    setTabOrder(txt_source, cmd_ok);
    setTabOrder(cmd_ok, cmd_Cancel);
    chk_TimeStamp->setFocus();

    // toggled: a change from code raises the handler as a click does.
    connect(chk_Source, &QCheckBox::toggled, this, [this](bool) { chk_Source_Click(); });
    connect(cmd_ok, &QPushButton::clicked, this, &Form_OutputCfg::cmd_ok_Click);
    connect(cmd_Cancel, &QPushButton::clicked, this, &Form_OutputCfg::cmd_Cancel_Click);
}

int Form_OutputCfg::twips(int value) const
{
    const QScreen *s = screen();
    const qreal dpi = s ? s->logicalDotsPerInchY() : 96.0;
    return int(std::lround(value * dpi / 1440.0));
}

void Form_OutputCfg::chk_Source_Click()
{
    // The text stays while disabled; the set-up reads it only while the box is checked.
    txt_source->setEnabled(chk_Source->isChecked());
}

void Form_OutputCfg::cmd_ok_Click()
{
    bIsOk = true;
    accept(); // hides the dialog and ends the modal wait
}

void Form_OutputCfg::cmd_Cancel_Click()
{
    bIsOk = false;
    reject();
}

OutputOptions OutputCfgPrompt::ShowOptions(QWidget *owner)
{
    // The modal wait runs a nested event loop. Should the owner be destroyed meanwhile, the
    // dialog goes with it (and this prompt with the owner): touch neither then.
    QPointer<Form_OutputCfg> dialog = new Form_OutputCfg(owner);
    dialog->exec();
    if (!dialog)
        return {};
    OutputOptions options;
    options.bIsOk = dialog->bIsOk;
    options.chk_TimeStamp = dialog->chk_TimeStamp->isChecked();
    options.chk_Source = dialog->chk_Source->isChecked();
    options.txt_source = dialog->txt_source->text();
    delete dialog;
    return options;
}
