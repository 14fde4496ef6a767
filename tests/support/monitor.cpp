#include "support/monitor.h"

#include "app/ledshape.h"
#include "port/serialcontrol.h"
#include "receive/lineview.h"
#include "transmit/repeatdialog.h"

#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

namespace {

std::unique_ptr<FakeSerialControl> preparedFake(
    const std::function<void(FakeSerialControl &)> &prepare)
{
    auto fake = std::make_unique<FakeSerialControl>();
    if (prepare)
        prepare(*fake);
    return fake;
}

} // namespace

Monitor::Monitor(const std::function<void(FakeSerialControl &)> &prepare)
    : Monitor(preparedFake(prepare))
{}

Monitor::Monitor(std::unique_ptr<SerialControl> control)
{
    serial = control.get();
    fake = qobject_cast<FakeSerialControl *>(serial);
    auto saveDialog = std::make_unique<FakeSaveDialog>();
    save = saveDialog.get();
    auto prompt = std::make_unique<FakeOptionsPrompt>();
    options = prompt.get();
    form =
        std::make_unique<Form_Comm>(std::move(control), std::move(saveDialog), std::move(prompt));
    auto openFile = std::make_unique<FakeOpenDialog>();
    openDialog = openFile.get();
    form->setOpenDialog(std::move(openFile));
}

Monitor::~Monitor() = default;

bool Monitor::portOpen() const
{
    return form->serial()->PortOpen().value_or(false);
}

QString Monitor::val(int k) const
{
    const auto *cell = form->findChild<QLabel *>(QStringLiteral("lbl_val_%1").arg(k));
    return cell ? cell->text() : QStringLiteral("<no cell>");
}

LineView *Monitor::out() const
{
    return child<LineView>("txt_out");
}

LineView *Monitor::bffr() const
{
    return child<LineView>("txt_bffr");
}

QComboBox *Monitor::profiles() const
{
    return child<QComboBox>("cbo_APP");
}

QString Monitor::suffix() const
{
    return child<QComboBox>("cbo_SuffixCommand")->currentText();
}

QColor Monitor::led() const
{
    return child<LedShape>("LED_data")->fillColor();
}

QLineEdit *Monitor::box() const
{
    return child<QLineEdit>("txt_send");
}

QList<QByteArray> Monitor::outLines() const
{
    QList<QByteArray> lines;
    for (qsizetype i = 0; i < out()->lineCount(); ++i)
        lines.append(out()->line(i));
    return lines;
}

QByteArray Monitor::loggedBytes() const
{
    QByteArray out;
    const LineView *log = bffr();
    for (qsizetype i = 0; log && i < log->lineCount(); ++i) {
        const QByteArray line = log->line(i);
        const qsizetype colon = line.lastIndexOf(": ");
        if (!line.endsWith(']') || colon < 0)
            continue;
        out += char(line.mid(colon + 2, line.size() - colon - 3).toInt());
    }
    return out;
}

void Monitor::monitor(bool on) const
{
    child<QCheckBox>("chk_CollectData")->setChecked(on);
}

void Monitor::pick(int index) const
{
    QComboBox *list = profiles();
    list->showPopup();
    QAbstractItemView *view = list->view();
    const QRect r = view->visualRect(view->model()->index(index, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
    list->hidePopup();
}

void Monitor::setProfile(int index) const
{
    profiles()->setCurrentIndex(index);
    form->cbo_APP_Click();
}

void Monitor::reset(const QString &portText) const
{
    child<QComboBox>("cbo_Port")->setEditText(portText);
    child<QPushButton>("cmd_reset")->click();
}

void Monitor::send(const QString &command, const QString &suffix) const
{
    box()->setText(command);
    child<QComboBox>("cbo_SuffixCommand")->setCurrentText(suffix);
    QTest::mouseClick(child<QPushButton>("cmd_Send"), Qt::LeftButton);
}

void Monitor::repeat(const QString &command, int periodMs, int count) const
{
    box()->setText(command);
    child<QAction>("act_repeat")->trigger();
    auto *dialog = form->findChild<RepeatDialog *>();
    QVERIFY(dialog);
    dialog->periodBox()->setValue(periodMs);
    dialog->countBox()->setValue(count);
    dialog->accept();
}

bool Monitor::startCapture(const QString &path, bool timestamp, const QString &source)
{
    const int shownBefore = options->shown;
    options->answers.push_back({.bIsOk = true,
                                .chk_TimeStamp = timestamp,
                                .chk_Source = !source.isEmpty(),
                                .txt_source = source});
    save->answers.append(path);
    child<QCheckBox>("chk_file")->click();
    return options->shown == shownBefore + 1 && options->unexpected == 0 && form->captureEnabled();
}

PtyMonitor::PtyMonitor(const QString &device)
    : PtyPort(4, device)
    , Monitor(std::make_unique<SerialControl>())
{}
