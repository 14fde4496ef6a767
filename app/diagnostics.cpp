#include "app/diagnostics.h"

#include "app/form_comm.h"
#include "port/propertypanel.h"
#include "port/serialcontrol.h"

#include <QCoreApplication>
#include <QLabel>
#include <QTimer>

#include <cstdio>

namespace {

void printLine(const QString &name, const QString &value)
{
    std::printf("%s: %s\n", qPrintable(name), qPrintable(value));
}

void reportPanel(const Form_Comm &window)
{
    for (const PropertyPanel::RowSpec &row : PropertyPanel::kRows) {
        const auto *value = window.findChild<QLabel *>(
            QStringLiteral("lbl_val_") + QString::number(PropertyPanel::valueIndex(row.row)));
        if (value)
            printLine(QString::fromLatin1(row.caption), value->text());
    }
    if (const SerialControl *serial = window.serial()) {
        printLine(QStringLiteral("Device"), serial->devicePath());
        if (!serial->lastError().isEmpty())
            printLine(QStringLiteral("Error"), serial->lastError());
    }
    std::fflush(stdout);
}

} // namespace

void startDiagnostics(Form_Comm &window)
{
    if (qEnvironmentVariable("COMMTEST_REPORT_PANEL") == u"1") {
        // Queued: runs once the event loop has started, with the port as start-up left it.
        QTimer::singleShot(0, &window, [&window] { reportPanel(window); });
    }
    bool ok = false;
    const int quitAfter = qEnvironmentVariableIntValue("COMMTEST_QUIT_AFTER_MS", &ok);
    if (ok && quitAfter >= 0) {
        QTimer::singleShot(quitAfter, &window, [&window] {
            window.com_Close_Click();
            // An open error box is a window of its own and would keep the program running.
            QCoreApplication::quit();
        });
    }
}
