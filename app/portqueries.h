#pragma once
// The command-line queries about ports, answered without a window or a display, by the
// same port layer the window opens through:
//   --list            every entry of the ports folder and what it maps to, then every
//                     serial device attached now
//   --device-for N    the device (or network URL) port N opens, and whether it opens
// Answers are values; app/diagnostics prints them.

#include <QList>
#include <QString>

struct SerialDevice;

struct QueryAnswer
{
    QString out; // standard output, whole lines
    QString err; // standard error, whole lines
    int status = 0;
};

// One line per comN entry in <configHome>/commtest/ports, by port number ("COM 4 → ..." or
// why it does not open), then one line per device in devices. Status 0.
QueryAnswer listPorts(const QString &configHome, const QList<SerialDevice> &devices);

// Opens port n as the window would (a network entry over the network) and closes it
// again. Out: the device or URL, then "mapped in ENTRY" when the ports folder names it.
// Status 0 when it opened, else 1 with the reason in err.
QueryAnswer deviceFor(qint16 port);
