#include "app/portqueries.h"

#include "port/devicediscovery.h"
#include "port/portmapping.h"
#include "port/portrules.h"
#include "port/serialcontrol.h"

#include <QDir>

#include <algorithm>

QueryAnswer listPorts(const QString &configHome, const QList<SerialDevice> &devices)
{
    const QString folder = portsFolder(configHome);
    QList<int> ports;
    const QStringList names =
        QDir(folder).entryList({QStringLiteral("com*")}, QDir::AllEntries | QDir::System);
    for (const QString &name : names) {
        const std::optional<qint16> port = portNumberFromText(name.mid(3));
        // Only the name port n is looked up by ("com04" is no port's entry).
        if (port && *port > 0 && name == QStringLiteral("com") + QString::number(*port))
            ports.append(*port);
    }
    std::sort(ports.begin(), ports.end());

    QueryAnswer answer;
    for (int port : std::as_const(ports))
        answer.out += mappingText(readPortMapping(port, configHome), devices) + u'\n';
    for (const SerialDevice &device : devices)
        answer.out += deviceText(device) + u'\n';
    if (answer.out.isEmpty())
        answer.err =
            QStringLiteral("No entries in %1 and no serial devices attached.\n").arg(folder);
    return answer;
}

QueryAnswer deviceFor(qint16 port)
{
    // The window's own control: the same choice of local or network, the same reasons.
    SerialControl serial;
    serial.setCommPort(port);
    const bool opened = serial.setPortOpen(true);
    const QString reason = serial.lastError();
    const QString device = serial.devicePath();
    serial.setPortOpen(false);

    QueryAnswer answer;
    answer.out = device + u'\n';
    if (const PortMapping mapping = readPortMapping(port);
        mapping.kind != PortMapping::Kind::Default)
        answer.out += QStringLiteral("mapped in ") + mapping.entry + u'\n';
    if (!opened) {
        answer.err = reason + u'\n';
        answer.status = 1;
    }
    return answer;
}
