#include "port/devicediscovery.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <algorithm>

#include <linux/serial.h>
#include <sys/ioctl.h>

SystemDeviceDiscovery::SystemDeviceDiscovery(QString byIdFolder)
    : m_byIdFolder(std::move(byIdFolder))
{}

QList<SerialDevice> SystemDeviceDiscovery::list() const
{
    QList<SerialDevice> devices;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports) {
        SerialDevice d;
        d.path = info.systemLocation();
        d.description = info.description();
        d.manufacturer = info.manufacturer();
        d.serialNumber = info.serialNumber();
        if (info.hasVendorIdentifier())
            d.vendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier())
            d.productId = info.productIdentifier();
        devices.append(d);
    }
    return withStableNames(std::move(devices), m_byIdFolder);
}

QList<SerialDevice> withStableNames(QList<SerialDevice> devices, const QString &byIdFolder)
{
    // Entries come sorted by name, so the first link to a device wins every time.
    const QFileInfoList links =
        QDir(byIdFolder)
            .entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (SerialDevice &d : devices) {
        const QString device = QFileInfo(d.path).canonicalFilePath();
        if (device.isEmpty())
            continue;
        for (const QFileInfo &link : links) {
            if (link.isSymLink() && link.canonicalFilePath() == device) {
                d.byIdPath = link.absoluteFilePath();
                break;
            }
        }
    }
    std::sort(devices.begin(), devices.end(),
              [](const SerialDevice &a, const SerialDevice &b) { return a.path < b.path; });
    return devices;
}

std::optional<int> serialPortType(int fd)
{
    serial_struct s{};
    if (::ioctl(fd, TIOCGSERIAL, &s) != 0)
        return std::nullopt;
    return s.type;
}
