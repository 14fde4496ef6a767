#include "app/application.h"
#include "app/diagnostics.h"
#include "app/form_comm.h"
#include "app/porthandoff.h"
#include "capture/qtsavedialog.h"
#include "port/serialcontrol.h"

#include <cstdio>

int main(int argc, char *argv[])
{
    const std::variant<int, CommandLine> answered = answerCommandLine(argc, argv);
    if (const int *status = std::get_if<int>(&answered))
        return *status;
    const CommandLine &line = std::get<CommandLine>(answered);
    Application app(argc, argv);
    // Before the window opens the port: a request that comes meanwhile waits for the event
    // loop instead of ending the program (the signals' default action).
    PortHandOff handOff;
    if (!handOff.error().isEmpty())
        std::fprintf(stderr, "commtest: %s\n", qPrintable(handOff.error()));
    Form_Comm window(std::make_unique<SerialControl>(), std::make_unique<QtSaveDialog>(), nullptr,
                     nullptr, Form_Comm::StartUp{line.port, line.settings});
    app.setErrorReporter([&window](const QString &text) { window.reportError(text); });
    QObject::connect(&handOff, &PortHandOff::releaseRequested, &window,
                     &Form_Comm::releasePortOnRequest);
    QObject::connect(&handOff, &PortHandOff::retakeRequested, &window,
                     &Form_Comm::retakePortOnRequest);
    window.show();
    startDiagnostics(window);
    return Application::exec();
}
