#pragma once
// What each port number maps to, and changing that from the program.
//
//   <configHome>/commtest/ports/com<n>  --readPortMapping-->  PortMapping
//        ^ writePortMapping / removePortMapping (link replaced atomically)
//   PortMapping + SerialDevice list  --mappingText / buildPortMenu-->  texts the window shows
//
// The ports folder is the one place a mapping lives, and readPortMapping the one reader of
// it: the serial control picks its transport by it, the port menu describes it, and
// deviceForPort is a view of it. Errors are returned as text.

#include "port/devicediscovery.h"
#include "port/rfc2217.h"

#include <QList>
#include <QString>

// The files a +tls network port uses, from the key=value lines after its URL; paths are
// absolute (a relative one is taken from the ports folder).
struct TlsFiles
{
    QString ca;   // the certificates to trust instead of the system's; empty: the system's
    QString cert; // a client certificate and its private key, for a server that asks
    QString key;
    friend bool operator==(const TlsFiles &, const TlsFiles &) = default;
};

struct PortMapping
{
    enum class Kind {
        Default, // no entry: the legacy port /dev/ttyS<n-1>
        Link,    // an entry that names a device (normally a symbolic link)
        Network, // a regular file whose first line is a URL
        Folder,  // a directory in the entry's place
        Garbage, // anything else: not a link, device or URL, or unreadable
    };
    int port = 0;
    Kind kind = Kind::Default;
    QString entry;   // <configHome>/commtest/ports/com<n>, whether or not it exists
    QString target;  // what the entry names: a link's target, the URL, the legacy port
    QString device;  // the character device it leads to now; empty when none
    QString problem; // why it cannot be opened now; empty when it can (or, for a
                     // network port, when only connecting would tell)
    PortUrl url{};   // Network: the URL
    // A regular file in the entry's place that names no network port, or a network port
    // whose key=value lines are wrong: why, as opening the port reports it.
    QString urlError{};
    TlsFiles tls{}; // Network, +tls: the ca=, cert= and key= lines

    // The path a local device is opened by: the entry, or the legacy device without one.
    QString path() const { return kind == Kind::Default ? target : entry; }
};

// Reads what port n maps to in configHome. Never fails: a bad entry is described in
// `problem`. Ports 0 and below map to nothing. A file names a network port when its first
// line passes parsePortUrl. Lines after it that start with ca=, cert= or key= give a +tls
// port its files (on a plain URL they are an error: it travels in clear); any other line
// is left for the operator's notes.
PortMapping readPortMapping(int port, const QString &configHome);
// The same in this user's configuration folder.
PortMapping readPortMapping(int port);
// $XDG_CONFIG_HOME, or ~/.config when unset or empty.
QString userConfigHome();
// <configHome>/commtest/ports, where the entries com<n> live.
QString portsFolder(const QString &configHome);
// The path port n opens: its ports-folder entry when there is one (normally a link to a
// device), otherwise its legacy device /dev/ttyS<n-1>. Empty for ports 0 and below.
QString deviceForPort(int port, const QString &configHome);
QString deviceForPort(int port);

// Maps port n to linkTarget: a symbolic link com<n> in the ports folder (created when
// missing), put in place with one rename so a reader sees the old entry or the new one.
// An entry that is a folder or garbage is left alone. Empty when done, else why nothing
// was written.
[[nodiscard]] QString writePortMapping(int port, const QString &linkTarget,
                                       const QString &configHome);
// The link target for a device: its stable by-id name where it has one, else its path.
QString mappingTarget(const SerialDevice &device);
// Maps port n to a network port: a regular file com<n> whose first line is url, put in
// place with one rename like a link. The URL must be rfc2217:// or tcp:// with a host and a
// port (parsePortUrl); entries in the way are refused as by writePortMapping. The lines after
// the URL of a network entry already there (its key=value lines, notes) are kept. Empty when
// done, else why nothing was written.
[[nodiscard]] QString writeNetworkPortMapping(int port, const QString &url,
                                              const QString &configHome);
// Why url cannot name a network port, e.g. "No port number in "tcp://lab""; empty when it
// can.
QString networkUrlProblem(const QString &url);
// Removes port n's entry, so it maps to its legacy port again. No entry is not an error;
// a folder is not removed. Empty when done, else why not.
[[nodiscard]] QString removePortMapping(int port, const QString &configHome);

// One line saying what port n maps to, e.g. "COM 4 → /dev/serial/by-id/usb-X (/dev/ttyUSB0),
// FT232R USB UART, serial A1B2C3", or "COM 4 → /dev/ttyUSB0: no such device".
// The device's description and serial come from `devices` when it is among them.
QString mappingText(const PortMapping &mapping, const QList<SerialDevice> &devices);
// One line naming a device and all it is known by, for a menu entry.
QString deviceText(const SerialDevice &device);

struct PortMenuEntry
{
    int port = 0;
    QString text;           // mappingText
    bool removable = false; // there is an entry that "Remove mapping" may delete
};
struct DeviceMenuEntry
{
    SerialDevice device;
    QString text;           // deviceText
    QString linkTarget;     // what picking it writes
    QList<int> mappedPorts; // the ports in the menu that lead to it now
};
struct PortMenu
{
    QList<PortMenuEntry> ports;
    QList<DeviceMenuEntry> devices;
};
// The port menu, from the mappings of the ports it lists and the devices attached now.
PortMenu buildPortMenu(const QList<PortMapping> &mappings, const QList<SerialDevice> &devices);
