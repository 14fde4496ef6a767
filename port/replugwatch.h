#pragma once
// Waiting for a lost port's device to come back, one timer tick at a time.
//
//   portLost --lost()--> waiting --due(mapping now) at each tick--> window re-opens
//        --reopened(ok)--> done, or wait longer after a failed try
//
// The device looked for is whatever the same port number maps to now: a stable by-id link
// follows the adapter to its new node, a link to the node itself waits for that very node.
// Another device that appears is never taken for the lost one.

#include "port/portmapping.h"

#include <QString>

class ReplugWatch
{
public:
    // Port n was lost while it had this device open: wait for it.
    void lost(int port, const QString &device);
    // The operator chose (Reset Comm, a port pick, a new mapping): stop waiting.
    void cancel() { m_waiting = false; }
    bool isWaiting() const { return m_waiting; }
    int port() const { return m_port; }
    QString lostDevice() const { return m_lostDevice; }

    // At a tick, with what the port maps to now: true when the window should re-open it.
    bool due(const PortMapping &now);
    // The outcome of the re-open that due() asked for. A failed one waits 1, 2, 4, then
    // at most 8 ticks before the next try, so a device that is there but does not open
    // is not hammered.
    void reopened(bool ok);

    // What the operator is told once, e.g. "COM 4 is back: re-opened /dev/ttyUSB0".
    QString backMessage(const QString &device) const;

private:
    bool m_waiting = false;
    int m_port = 0;
    QString m_lostDevice;
    int m_backoff = 0; // ticks the last failed try made us wait
    int m_skip = 0;    // ticks left before the next try
};
