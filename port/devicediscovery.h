#pragma once
// The serial devices attached now, for the operator to map a port number to.
//
//   QSerialPortInfo (kernel's list) + /dev/serial/by-id links --> SerialDevice list
//
// Tests feed a fixed list through the DeviceDiscovery interface instead.

#include <QList>
#include <QString>

#include <optional>

struct SerialDevice
{
    QString path{};     // the device node, e.g. /dev/ttyUSB0
    QString byIdPath{}; // its stable name under /dev/serial/by-id, empty when it has none
    QString description{};
    QString manufacturer{};
    QString serialNumber{};
    std::optional<quint16> vendorId{}; // USB ids, where the device has them
    std::optional<quint16> productId{};
    friend bool operator==(const SerialDevice &, const SerialDevice &) = default;
};

class DeviceDiscovery
{
public:
    virtual ~DeviceDiscovery() = default;
    // The devices attached now, ordered by path.
    virtual QList<SerialDevice> list() const = 0;
};

// The system's devices: QSerialPortInfo plus the stable names in byIdFolder.
class SystemDeviceDiscovery : public DeviceDiscovery
{
public:
    explicit SystemDeviceDiscovery(QString byIdFolder = QStringLiteral("/dev/serial/by-id"));
    QList<SerialDevice> list() const override;

private:
    QString m_byIdFolder;
};

// Gives each device the link in byIdFolder that resolves to it (the first by name when
// several do); devices no link resolves to keep an empty byIdPath. Orders them by path.
QList<SerialDevice> withStableNames(QList<SerialDevice> devices, const QString &byIdFolder);

// The UART type the driver of an open serial device reports (TIOCGSERIAL), or nothing
// when the device does not answer the request (a pseudo-terminal, for one).
std::optional<int> serialPortType(int fd);
