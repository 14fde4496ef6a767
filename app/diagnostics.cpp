#include "app/diagnostics.h"

#include "app/form_comm.h"
#include "port/portmapping.h"
#include "port/portrules.h"
#include "port/propertypanel.h"
#include "port/serialcontrol.h"

#include <QCoreApplication>
#include <QFileInfo>
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
    for (const PropertyPanel::RowEntry &row : PropertyPanel::kRows) {
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

int answerDeviceFor(const QString &portText)
{
    const std::optional<qint16> port = portNumberFromText(portText);
    if (!port || *port <= 0) {
        std::fprintf(stderr,
                     "commtest: --device-for needs a port number from 1 to 32767, not '%s'\n",
                     qPrintable(portText));
        return 2;
    }
    // The serial control itself, so the answer is the device and the reason the window gets.
    SerialControl serial;
    serial.setCommPort(*port);
    const bool opened = serial.setPortOpen(true);
    const QString reason = serial.lastError();
    serial.setPortOpen(false);
    std::printf("%s\n", qPrintable(serial.devicePath()));
    if (const PortMapping mapping = readPortMapping(*port);
        mapping.kind != PortMapping::Kind::Default)
        std::printf("mapped in %s\n", qPrintable(mapping.entry));
    std::fflush(stdout);
    if (opened)
        return 0;
    std::fprintf(stderr, "%s\n", qPrintable(reason));
    return 1;
}

} // namespace

std::optional<int> answerQuery(int argc, char *argv[])
{
    if (argc < 2 || qstrcmp(argv[1], "--device-for") != 0)
        return std::nullopt;
    // Core only: the query must work where no display is.
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: commtest --device-for N\n");
        return 2;
    }
    return answerDeviceFor(QString::fromLocal8Bit(argv[2]));
}

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
