// Lending the port to another program: a flashing tool sends SIGUSR2, takes the device,
// and sends SIGUSR1 when it is done.
#include "app/form_comm.h"
#include "port/serialcontrol.h"

#include <QMessageBox>

namespace {

QString releasedText(std::optional<qint16> port)
{
    return QStringLiteral("COM %1 released on request")
        .arg(port ? QString::number(*port) : QStringLiteral("?"));
}

} // namespace

void Form_Comm::releasePortOnRequest()
{
    // A second request while released changes nothing and says nothing.
    if (m_releasedOnRequest && !MSComm1->PortOpen().value_or(false))
        return;
    m_releasedOnRequest = true;
    // The other program has the device now: no re-open behind its back.
    m_replug.cancel();
    MSComm1->setPortOpen(false);
    RefreshPropertyPanel();
    reportError(releasedText(MSComm1->CommPort()));
}

void Form_Comm::retakePortOnRequest()
{
    if (MSComm1->PortOpen().value_or(false)) {
        m_releasedOnRequest = false;
        return;
    }
    const QString told = releasedText(MSComm1->CommPort());
    m_replug.cancel();
    // The settings in force, not a text typed into the box since and not applied.
    OpenPort(PortArgument(MSComm1->CommPort().value_or(qint16(4))), MSComm1->Settings());
    // The box would still say the port is released.
    if (m_errorBox && m_errorBox->isVisible() && m_errorBox->text() == told)
        m_errorBox->hide();
}
