#pragma once
// A serial control used as the window uses it, for tests of the serial layer: the
// window's open sequence and an OnComm handler like the window's.

#include "port/serialcontrol.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <algorithm>

// Reads Input on each OnComm while monitoring is on, as the window does; counts the events
// and keeps those that are not receive events.
struct Receiver
{
    bool monitoring = true;
    QByteArray received;
    int events = 0;
    int largestRead = 0;
    QList<qint16> otherEvents;

    void attach(SerialControl &port)
    {
        QObject::connect(&port, &SerialControl::OnComm, &port, [this, &port] {
            ++events;
            if (const auto e = port.CommEvent(); !e || *e != CommEvents::Receive)
                otherEvents.append(e.value_or(-1));
            if (!monitoring)
                return;
            const QByteArray in = port.Input().value_or(QByteArray());
            largestRead = std::max(largestRead, int(in.size()));
            received += in;
        });
    }
};

// The window's open sequence on port n; true when the port opened.
inline bool openLikeTheWindow(SerialControl &port, qint16 n,
                              const QString &settings = QStringLiteral("9600,n,8,1"))
{
    port.setPortOpen(false);
    port.setSettings(settings);
    port.setCommPort(n);
    port.setInputLen(1);
    port.setRThreshold(1);
    port.setSThreshold(1);
    port.setInputMode(0);
    return port.setPortOpen(true);
}
