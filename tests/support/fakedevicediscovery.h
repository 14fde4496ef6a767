#pragma once
// Device discovery that lists what the test gives it, in that order.

#include "port/devicediscovery.h"

class FakeDeviceDiscovery : public DeviceDiscovery
{
public:
    explicit FakeDeviceDiscovery(QList<SerialDevice> devices = {})
        : m_devices(std::move(devices))
    {}
    QList<SerialDevice> list() const override { return m_devices; }
    void setDevices(QList<SerialDevice> devices) { m_devices = std::move(devices); }

private:
    QList<SerialDevice> m_devices;
};

// A USB adapter with every detail a real one reports, as tests list it.
inline const SerialDevice kFtdiAdapter{QStringLiteral("/dev/ttyUSB0"),
                                       QStringLiteral("/dev/serial/by-id/"
                                                      "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0"),
                                       QStringLiteral("FT232R USB UART"),
                                       QStringLiteral("FTDI"),
                                       QStringLiteral("A1B2C3"),
                                       0x0403,
                                       0x6001};
