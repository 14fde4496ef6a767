// Port opening and the property panel of the monitor window.
#include "app/clicklabel.h"
#include "app/form_comm.h"
#include "capture/capturerecord.h"
#include "port/portrules.h"
#include "port/propertypanel.h"
#include "port/serialcontrol.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using PropertyPanel::Row;

void Form_Comm::setupPort()
{
    connect(cmd_reset, &QPushButton::clicked, this, &Form_Comm::cmd_reset_Click);
    // activated: the operator picked an entry; typing into the list does not count.
    connect(cbo_Port, &QComboBox::activated, this, [this](int) { cbo_Port_Click(); });
    // The layer closes a vanished device once; tell the operator once, in words.
    connect(MSComm1.get(), &SerialControl::portLost, this, [this](const QString &reason) {
        RefreshPropertyPanel();
        const std::optional<qint16> port = MSComm1->CommPort();
        if (port)
            m_replug.lost(*port, m_portDevice);
        reportError(QStringLiteral("COM %1 was lost: %2\nThe port is closed; it re-opens by itself "
                                   "when the device is back.")
                        .arg(port ? QString::number(*port) : QStringLiteral("?"), reason));
    });
    setupDevices();
}

void Form_Comm::OpenPort(const PortArgument &port, const std::optional<QString> &settings)
{
    // A repeat or a file send belongs to the port as it was: it ends here.
    stopSending(QStringLiteral("Stopped when the port was opened again"), false);
    // Each step on its own: a refused step is skipped and the next one runs.
    m_releasedOnRequest = false; // any open ends a hand-off
    MSComm1->setPortOpen(false);
    MSComm1->setSettings(settings ? *settings
                                  : trimBlanks(txt_Settings->text())); // spaces only, not tabs
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
    if (MSComm1->setPortOpen(true))
        m_portDevice = MSComm1->devicePath();
    FrameBuffer.clear();
    resetStatistics();
    RefreshPropertyPanel();
}

void Form_Comm::cmd_reset_Click()
{
    m_replug.cancel();
    const QString portText = cbo_Port->currentText();
    const QString settingsText = txt_Settings->text();
    if (!portText.isEmpty() && !settingsText.isEmpty())
        OpenPort(PortArgument(portNumberText(portText)));
}

void Form_Comm::cbo_Port_Click()
{
    m_replug.cancel();
    const QString portText = cbo_Port->currentText();
    if (!portText.isEmpty())
        OpenPort(PortArgument(portNumberText(portText)));
}

bool Form_Comm::RefreshPropertyPanel()
{
    for (const PropertyPanel::RowEntry &row : PropertyPanel::kRows) {
        const std::optional<QString> text = row.read(*MSComm1);
        if (!text)
            return false;
        setLabelText(lbl_val[PropertyPanel::valueIndex(row.row)], *text);
    }
    // The reason of the last failure, without a box: the open itself stays silent.
    updatePortTips(false);
    const QString error = MSComm1->lastError();
    QLabel *const portOpen = lbl_val[PropertyPanel::valueIndex(Row::PortOpen)];
    // A screen reader reads the caption with the value, and why the port is closed.
    QString description = QString::fromLatin1(PropertyPanel::entry(Row::PortOpen).caption);
    if (!error.isEmpty())
        description += QStringLiteral(": ") + error;
    if (portOpen->accessibleDescription() != description)
        portOpen->setAccessibleDescription(description);
    return true;
}

void Form_Comm::lblfield_Click(qint16 Index)
{
    const std::optional<Row> row = PropertyPanel::rowOfName(Index);
    if (row && PropertyPanel::entry(*row).click) {
        QLabel *const cell = lbl_val[PropertyPanel::valueIndex(*row)];
        QString caption = cell->text();
        const QString error = PropertyPanel::entry(*row).click(*MSComm1, caption);
        setLabelText(cell, caption);
        if (!error.isEmpty())
            reportError(error);
    }
    if (!RefreshPropertyPanel())
        reportError(QStringLiteral("The property panel could not be refreshed: ") +
                    MSComm1->lastError());
}
