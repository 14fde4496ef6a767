#pragma once
// Pure rules of port choice and line settings; no I/O.

#include <QString>

#include <optional>

// The port number text of a port list entry: its fifth character, or empty when the text
// is shorter. "COM 3" gives "3", "COM 12" gives "1", "COM7" gives "".
QString portNumberText(const QString &portListText);

// A port argument converted to a 16-bit port number: digits only (after trimming blanks),
// within 16 bits; anything else has no number.
std::optional<qint16> portNumberFromText(const QString &text);

// The device behind port n: the entry "com<n>" in <configHome>/commtest/ports when it
// exists (normally a link to a device), otherwise /dev/ttyS<n-1>. Ports 0 and below have
// no device (empty result). configHome is $XDG_CONFIG_HOME or ~/.config.
QString deviceForPort(int port, const QString &configHome);
// The same with the configuration folder of this user's environment.
QString deviceForPort(int port);
// $XDG_CONFIG_HOME, or ~/.config when unset or empty.
QString userConfigHome();

// True when device is a legacy port (/dev/ttyS<n>) whose driver answered TIOCGSERIAL with
// the unknown UART type: the node exists but no UART is behind it, so nothing would ever
// arrive. No answer (serialType empty, as from a pseudo-terminal) is not such a report, and
// other drivers (USB adapters) report the unknown type for real devices.
bool noSerialHardware(const QString &device, std::optional<int> serialType);

enum class Parity {
    None,
    Even,
    Odd,
    Mark,
    Space
};
enum class StopBits {
    One,
    OneAndHalf,
    Two
};

struct LineSettings
{
    qint32 baudRate = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;
    friend bool operator==(const LineSettings &, const LineSettings &) = default;
};

// "baud,parity,data,stop": baud a positive integer, parity one of n e o m s (either case),
// data bits 5 to 8, stop bits 1, 1.5 or 2. Blanks around each field are allowed. Anything
// else has no settings.
std::optional<LineSettings> parseSettings(const QString &text);
