#pragma once
// COM-PORT-OPTION (RFC 2217) commands and replies as values, and the port URL of a network
// port. No I/O: the Telnet layer wraps each payload in IAC SB 44 ... IAC SE and doubles 255.
//
//   client: SET-BAUDRATE 115200 --> payload {1, 0,1,194,0}
//   server: payload {101, 0,1,194,0} --> Reply{SetBaudRate, 115200}

#include "port/portrules.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>
#include <variant>

namespace Rfc2217 {

inline constexpr unsigned char kOption = 44;
// A server's answer to command c is c + kServerOffset.
inline constexpr unsigned char kServerOffset = 100;

enum class Command : unsigned char {
    Signature = 0,
    SetBaudRate = 1,
    SetDataSize = 2,
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
    NotifyLineState = 6,
    NotifyModemState = 7,
    FlowControlSuspend = 8,
    FlowControlResume = 9,
    SetLineStateMask = 10,
    SetModemStateMask = 11,
    PurgeData = 12,
};
inline constexpr int kCommandCount = 13;

// SET-CONTROL values; the server answers with the state now in force.
enum class Control : unsigned char {
    FlowRequest = 0,
    NoFlow = 1,
    XonXoffFlow = 2,
    HardwareFlow = 3,
    BreakRequest = 4,
    BreakOn = 5,
    BreakOff = 6,
    DtrRequest = 7,
    DtrOn = 8,
    DtrOff = 9,
    RtsRequest = 10,
    RtsOn = 11,
    RtsOff = 12,
};

// NOTIFY-MODEMSTATE bits.
namespace Modem {
inline constexpr unsigned char Cts = 0x10;
inline constexpr unsigned char Dsr = 0x20;
inline constexpr unsigned char Ri = 0x40;
inline constexpr unsigned char Cd = 0x80;
} // namespace Modem

enum class Purge : unsigned char {
    Receive = 1,
    Transmit = 2,
    Both = 3,
};

QByteArray setBaudRate(quint32 baud);
QByteArray setDataSize(int bits);
QByteArray setParity(Parity parity);
QByteArray setStopSize(StopBits stop);
QByteArray setControl(Control value);
QByteArray setModemStateMask(unsigned char mask);
QByteArray purgeData(Purge what);
// The SET-CONTROL value of a Handshaking mode (see handshakingFlow).
Control flowControlFor(qint32 handshaking);

// One server message, checked: a value outside what the command allows is no reply.
struct Reply
{
    Command command = Command::Signature;
    quint32 value = 0; // baud rate, data bits, control or state byte
    QByteArray text;   // SIGNATURE only
    std::optional<Parity> parity;
    std::optional<StopBits> stopBits;
    friend bool operator==(const Reply &, const Reply &) = default;
};
// A sub-negotiation payload from the server (its command byte first); a reason in words
// when it is not a valid reply.
std::variant<Reply, QString> decodeReply(QByteArrayView payload);

} // namespace Rfc2217

// The first line of a ports-folder file that names a network port.
struct PortUrl
{
    enum class Kind {
        Rfc2217, // Telnet with COM-PORT-OPTION: settings and lines reach the device
        RawTcp,  // bytes only
    };
    Kind kind = Kind::Rfc2217;
    bool tls = false; // the scheme ends in +tls: the connection is TLS, the server verified
    QString host;     // a name or an address; IPv6 without brackets
    quint16 port = 0;
    friend bool operator==(const PortUrl &, const PortUrl &) = default;
};

// "rfc2217://host:port" or "tcp://host:port", or either with "+tls" after the scheme's name
// (scheme in either case, blanks around, IPv6 in brackets); anything else gives the reason
// in words.
std::variant<PortUrl, QString> parsePortUrl(const QString &line);
QString portUrlText(const PortUrl &url);
