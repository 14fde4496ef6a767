#include "app/diagnostics.h"

#include "app/form_comm.h"
#include "app/portqueries.h"
#include "port/devicediscovery.h"
#include "port/portmapping.h"
#include "port/portrules.h"
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

void print(std::FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

} // namespace

std::variant<int, CommandLine> answerCommandLine(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const std::variant<CommandLine, CommandLineExit> parsed = parseCommandLine(arguments);
    if (const auto *done = std::get_if<CommandLineExit>(&parsed)) {
        print(done->status == 0 ? stdout : stderr, done->text);
        return done->status;
    }
    const CommandLine &line = std::get<CommandLine>(parsed);
    if (line.action == CommandLine::Action::Window)
        return line;
    // Core only: the queries must work where no display is.
    QCoreApplication app(argc, argv);
    const QueryAnswer answer = line.action == CommandLine::Action::List
                                   ? listPorts(userConfigHome(), SystemDeviceDiscovery().list())
                                   : deviceFor(*line.port);
    print(stdout, answer.out);
    print(stderr, answer.err);
    return answer.status;
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
