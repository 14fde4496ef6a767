#pragma once
// Pure rules of port numbers and line settings: no files, no devices.

#include <QString>

#include <optional>

// The port number text of a port list entry: its fifth character, or empty when the text
// is shorter. "COM 3" gives "3", "COM 12" gives "1", "COM7" gives "".
QString portNumberText(const QString &portListText);

// A port argument converted to a 16-bit port number: digits only (after trimming blanks),
// within 16 bits; anything else has no number.
std::optional<qint16> portNumberFromText(const QString &text);

// The legacy device of port n, /dev/ttyS<n-1>, where it maps to when the ports folder
// has no entry for it.
QString legacyDevice(int port);

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

// How a Handshaking mode (0 to 3) paces the line. Mode 3, RTS/CTS with XON/XOFF, is
// RTS/CTS on the wire: neither a driver nor RFC 2217 has a value for both together.
enum class FlowControl {
    None,
    XonXoff,
    RtsCts
};
FlowControl handshakingFlow(qint32 handshaking);

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
// The text of line settings as the Settings property shows them: "9600,n,8,1".
QString settingsText(const LineSettings &settings);
