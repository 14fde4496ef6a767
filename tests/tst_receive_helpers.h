#pragma once
// The monitor window as the receive tests drive it: panes, profile picks as the operator
// makes them, capture switched on through the window's own set-up.

#include "app/form_comm.h"
#include "app/ledshape.h"
#include "capture/form_outputcfg.h"
#include "port/serialcontrol.h"
#include "receive/lineview.h"
#include "support/fakesavedialog.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <memory>

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "<cannot read>";
    return f.readAll();
}

struct ReceiveWindow
{
    SerialControl *serial = nullptr;
    FakeSaveDialog *save = nullptr;
    std::unique_ptr<Form_Comm> form;

    explicit ReceiveWindow(std::unique_ptr<SerialControl> control)
    {
        serial = control.get();
        auto dialog = std::make_unique<FakeSaveDialog>();
        save = dialog.get();
        form = std::make_unique<Form_Comm>(std::move(control), std::move(dialog));
    }

    template<typename T>
    T *child(const char *name) const
    {
        return form->findChild<T *>(QString::fromLatin1(name));
    }
    LineView *out() const { return child<LineView>("txt_out"); }
    LineView *bffr() const { return child<LineView>("txt_bffr"); }
    QComboBox *profiles() const { return child<QComboBox>("cbo_APP"); }
    QString suffix() const { return child<QComboBox>("cbo_SuffixCommand")->currentText(); }
    QColor led() const { return child<LedShape>("LED_data")->fillColor(); }
    void monitor(bool on) const { child<QCheckBox>("chk_CollectData")->setChecked(on); }
    QString val(int k) const
    {
        return child<QLabel>(("lbl_val_" + std::to_string(k)).c_str())->text();
    }

    QList<QByteArray> outLines() const
    {
        QList<QByteArray> lines;
        for (qsizetype i = 0; i < out()->lineCount(); ++i)
            lines.append(out()->line(i));
        return lines;
    }

    // An operator pick of a profile entry, through the list's popup.
    void pick(int index) const
    {
        QComboBox *list = profiles();
        list->showPopup();
        QAbstractItemView *view = list->view();
        const QRect r = view->visualRect(view->model()->index(index, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
        list->hidePopup();
    }

    // Capture on through the window's set-up: options dialog answered with OK, the save
    // dialog with path. True when capture is on afterwards.
    bool startCapture(const QString &path, bool timestamp = false,
                      const QString &source = QString())
    {
        save->answers.append(path);
        QTimer answer;
        answer.setInterval(5);
        QObject::connect(&answer, &QTimer::timeout, &answer, [&] {
            auto *dialog = qobject_cast<Form_OutputCfg *>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible())
                return;
            dialog->chk_TimeStamp->setChecked(timestamp);
            dialog->chk_Source->setChecked(!source.isEmpty());
            dialog->txt_source->setText(source);
            dialog->cmd_ok->click();
        });
        answer.start();
        child<QCheckBox>("chk_file")->click();
        return form->captureEnabled();
    }
};
