// Port opening and the property panel of the monitor window.
#include "app/clicklabel.h"
#include "app/form_comm.h"
#include "port/portrules.h"
#include "port/serialcontrol.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

QString boolText(bool b)
{
    return b ? QStringLiteral("True") : QStringLiteral("False");
}

// One row of the panel: reads a property and formats it, or fails.
using RowReader = std::optional<QString> (*)(const SerialControl &);

template<typename T>
std::optional<QString> shown(const std::optional<T> &v)
{
    if (!v)
        return std::nullopt;
    if constexpr (std::is_same_v<T, bool>)
        return boolText(*v);
    else if constexpr (std::is_same_v<T, QString>)
        return *v;
    else
        return QString::number(*v);
}

constexpr RowReader kRows[21] = {
    [](const SerialControl &s) { return shown(s.CommPort()); },
    [](const SerialControl &s) { return shown(s.Settings()); },
    [](const SerialControl &s) { return shown(s.PortOpen()); },
    [](const SerialControl &s) { return shown(s.Break()); },
    [](const SerialControl &s) { return shown(s.CDHolding()); },
    [](const SerialControl &s) { return shown(s.CTSHolding()); },
    [](const SerialControl &s) { return shown(s.DSRHolding()); },
    [](const SerialControl &s) { return shown(s.DTREnable()); },
    [](const SerialControl &s) { return shown(s.EOFEnable()); },
    [](const SerialControl &s) { return shown(s.Handshaking()); },
    [](const SerialControl &s) { return shown(s.RThreshold()); },
    [](const SerialControl &s) { return shown(s.SThreshold()); },
    [](const SerialControl &s) { return shown(s.RTSEnable()); },
    [](const SerialControl &s) { return shown(s.InBufferCount()); },
    [](const SerialControl &s) { return shown(s.InBufferSize()); },
    [](const SerialControl &s) { return shown(s.InputLen()); },
    [](const SerialControl &s) { return shown(s.InputMode()); },
    [](const SerialControl &s) { return shown(s.NullDiscard()); },
    [](const SerialControl &s) { return shown(s.OutBufferCount()); },
    [](const SerialControl &s) { return shown(s.OutBufferSize()); },
    [](const SerialControl &s) { return shown(s.ParityReplace()); },
};

} // namespace

void Form_Comm::setupPort()
{
    connect(cmd_reset, &QPushButton::clicked, this, &Form_Comm::cmd_reset_Click);
    // activated: the operator picked an entry; typing into the list does not count.
    connect(cbo_Port, &QComboBox::activated, this, [this](int) { cbo_Port_Click(); });
    // The layer closes a vanished device once; tell the operator once, in words.
    connect(MSComm1.get(), &SerialControl::portLost, this, [this](const QString &reason) {
        RefreshPropertyPanel();
        const std::optional<qint16> port = MSComm1->CommPort();
        reportError(QStringLiteral("COM %1 was lost: %2\nThe port is closed; press \"Reset Comm\" "
                                   "when the device is back.")
                        .arg(port ? QString::number(*port) : QStringLiteral("?"), reason));
    });
}

void Form_Comm::OpenPort(const PortArgument &port)
{
    // Each step on its own: a refused step is skipped and the next one runs.
    MSComm1->setPortOpen(false);
    MSComm1->setSettings(txt_Settings->text().trimmed());
    std::optional<qint16> number;
    if (const auto *n = std::get_if<qint16>(&port))
        number = *n;
    else
        number = portNumberFromText(std::get<QString>(port));
    if (number)
        MSComm1->setCommPort(*number);
    MSComm1->setInputLen(1);
    MSComm1->setRThreshold(1);
    MSComm1->setSThreshold(1);
    MSComm1->setInputMode(0);
    MSComm1->setPortOpen(true);
    FrameBuffer.clear();
    RefreshPropertyPanel();
}

void Form_Comm::cmd_reset_Click()
{
    const QString portText = cbo_Port->currentText();
    const QString settingsText = txt_Settings->text();
    if (!portText.isEmpty() && !settingsText.isEmpty())
        OpenPort(PortArgument(portNumberText(portText)));
}

void Form_Comm::cbo_Port_Click()
{
    const QString portText = cbo_Port->currentText();
    if (!portText.isEmpty())
        OpenPort(PortArgument(portNumberText(portText)));
}

bool Form_Comm::RefreshPropertyPanel()
{
    for (int row = 0; row < 21; ++row) {
        const std::optional<QString> text = kRows[row](*MSComm1);
        if (!text)
            return false;
        lbl_val[row]->setText(*text);
    }
    // The reason of the last failure, without a box: the open itself stays silent.
    QString hint = MSComm1->devicePath();
    const QString error = MSComm1->lastError();
    if (!error.isEmpty())
        hint += (hint.isEmpty() ? QString() : QStringLiteral("\n")) + error;
    for (QWidget *w : {static_cast<QWidget *>(cbo_Port), static_cast<QWidget *>(lbl_val[0]),
                       static_cast<QWidget *>(lbl_val[2]), static_cast<QWidget *>(lblfield[2])})
        w->setToolTip(hint);
    lbl_val[2]->setAccessibleDescription(error);
    return true;
}

void Form_Comm::lblfield_Click(qint16 Index)
{
    if (Index == 3) {
        if (const std::optional<bool> b = MSComm1->Break(); b && !MSComm1->setBreak(!*b))
            reportError(QStringLiteral("Break could not be changed: ") + MSComm1->lastError());
    } else if (Index == 9) {
        if (const std::optional<bool> b = MSComm1->EOFEnable(); b && !MSComm1->setEOFEnable(!*b))
            reportError(QStringLiteral("EOFEnable could not be changed: ") + MSComm1->lastError());
    } else if (Index == 10) {
        // Steps from the number shown, not from the control's value.
        bool ok = false;
        const int shownMode = lbl_val[9]->text().trimmed().toShort(&ok);
        if (ok) {
            lbl_val[9]->setText(shownMode < 3 ? QString::number(shownMode + 1)
                                              : QStringLiteral("0"));
            const qint32 mode = lbl_val[9]->text().trimmed().toShort();
            if (!MSComm1->setHandshaking(mode))
                reportError(QStringLiteral("HandShaking could not be changed: ") +
                            MSComm1->lastError());
        }
    }
    if (!RefreshPropertyPanel())
        reportError(QStringLiteral("The property panel could not be refreshed: ") +
                    MSComm1->lastError());
}
