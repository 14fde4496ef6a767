#include "app/application.h"
#include "app/diagnostics.h"
#include "app/form_comm.h"
#include "capture/qtsavedialog.h"
#include "port/serialcontrol.h"

int main(int argc, char *argv[])
{
    if (const std::optional<int> status = answerQuery(argc, argv))
        return *status;
    Application app(argc, argv);
    Form_Comm window(std::make_unique<SerialControl>(), std::make_unique<QtSaveDialog>());
    app.setErrorReporter([&window](const QString &text) { window.reportError(text); });
    window.show();
    startDiagnostics(window);
    return Application::exec();
}
