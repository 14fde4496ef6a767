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
