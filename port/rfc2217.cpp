#include "port/rfc2217.h"

#include <tuple>
#include <utility>

namespace Rfc2217 {

namespace {

QByteArray command(Command c, std::initializer_list<unsigned char> value)
{
    QByteArray out;
    out.reserve(qsizetype(value.size()) + 1);
    out.append(char(c));
    for (unsigned char b : value)
        out.append(char(b));
    return out;
}

std::optional<Parity> parityFromWire(unsigned char v)
{
    switch (v) {
    case 1:
        return Parity::None;
    case 2:
        return Parity::Odd;
    case 3:
        return Parity::Even;
    case 4:
        return Parity::Mark;
    case 5:
        return Parity::Space;
    default:
        return std::nullopt;
    }
}

std::optional<StopBits> stopBitsFromWire(unsigned char v)
{
    switch (v) {
    case 1:
        return StopBits::One;
    case 2:
        return StopBits::Two;
    case 3:
        return StopBits::OneAndHalf;
    default:
        return std::nullopt;
    }
}

// Longest signature kept: a server's name, not a stream.
constexpr qsizetype kMaxSignature = 256;

} // namespace

QByteArray setBaudRate(quint32 baud)
{
    return command(Command::SetBaudRate,
                   {uchar(baud >> 24), uchar(baud >> 16), uchar(baud >> 8), uchar(baud)});
}

QByteArray setDataSize(int bits)
{
    return command(Command::SetDataSize, {uchar(bits)});
}

QByteArray setParity(Parity parity)
{
    static constexpr unsigned char wire[] = {1, 3, 2, 4, 5}; // None Even Odd Mark Space
    return command(Command::SetParity, {wire[int(parity)]});
}

QByteArray setStopSize(StopBits stop)
{
    static constexpr unsigned char wire[] = {1, 3, 2}; // One OneAndHalf Two
    return command(Command::SetStopSize, {wire[int(stop)]});
}

QByteArray setControl(Control value)
{
    return command(Command::SetControl, {uchar(value)});
}

QByteArray setModemStateMask(unsigned char mask)
{
    return command(Command::SetModemStateMask, {mask});
}

QByteArray purgeData(Purge what)
{
    return command(Command::PurgeData, {uchar(what)});
}

Control flowControlFor(qint32 handshaking)
{
    constexpr Control kValues[] = {Control::NoFlow, Control::XonXoffFlow, Control::HardwareFlow};
    return kValues[int(handshakingFlow(handshaking))];
}

std::variant<Reply, QString> decodeReply(QByteArrayView payload)
{
    if (payload.isEmpty())
        return QStringLiteral("Empty COM-PORT-OPTION message");
    const int code = uchar(payload[0]);
    if (code < kServerOffset || code >= kServerOffset + kCommandCount)
        return QStringLiteral("Unknown COM-PORT-OPTION reply %1").arg(code);
    Reply r;
    r.command = Command(code - kServerOffset);
    const QByteArrayView value = payload.sliced(1);
    const auto wrongSize = [&](int wanted) {
        return QStringLiteral("COM-PORT-OPTION reply %1 has %2 value bytes, not %3")
            .arg(code)
            .arg(value.size())
            .arg(wanted);
    };
    if (r.command == Command::Signature) {
        r.text = value.first(std::min(value.size(), kMaxSignature)).toByteArray();
        return r;
    }
    if (r.command == Command::SetBaudRate) {
        if (value.size() != 4)
            return wrongSize(4);
        r.value = quint32(uchar(value[0])) << 24 | quint32(uchar(value[1])) << 16 |
                  quint32(uchar(value[2])) << 8 | uchar(value[3]);
        if (r.value == 0 || r.value > 0x7fffffffu)
            return QStringLiteral("Baud rate %1 out of range in a COM-PORT-OPTION reply")
                .arg(r.value);
        return r;
    }
    if (value.size() != 1)
        return wrongSize(1);
    const unsigned char v = uchar(value[0]);
    r.value = v;
    switch (r.command) {
    case Command::SetDataSize:
        if (v < 5 || v > 8)
            return QStringLiteral("Data size %1 out of range in a COM-PORT-OPTION reply").arg(v);
        break;
    case Command::SetParity:
        r.parity = parityFromWire(v);
        if (!r.parity)
            return QStringLiteral("Parity %1 out of range in a COM-PORT-OPTION reply").arg(v);
        break;
    case Command::SetStopSize:
        r.stopBits = stopBitsFromWire(v);
        if (!r.stopBits)
            return QStringLiteral("Stop size %1 out of range in a COM-PORT-OPTION reply").arg(v);
        break;
    case Command::SetControl:
        if (v > 19)
            return QStringLiteral("Control %1 out of range in a COM-PORT-OPTION reply").arg(v);
        break;
    case Command::PurgeData:
        if (v < 1 || v > 3)
            return QStringLiteral("Purge %1 out of range in a COM-PORT-OPTION reply").arg(v);
        break;
    default:
        break; // line and modem states, masks, flow suspend/resume: any byte
    }
    return r;
}

} // namespace Rfc2217

namespace {

bool validHostName(QStringView host)
{
    if (host.isEmpty() || host.size() > 253)
        return false;
    for (QChar c : host) {
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != u'-' && c != u'.' && c != u'_')
            return false;
    }
    return true;
}

bool validIpv6(QStringView host)
{
    if (host.size() < 2 || !host.contains(u':'))
        return false;
    for (QChar c : host) {
        const bool hex =
            (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
        if (!hex && c != u':' && c != u'.')
            return false;
    }
    return true;
}

} // namespace

std::variant<PortUrl, QString> parsePortUrl(const QString &line)
{
    static const QString kExpected =
        QStringLiteral("expected rfc2217://host:port or tcp://host:port (+tls after rfc2217 "
                       "or tcp for TLS)");
    const QString text = line.trimmed();
    if (text.isEmpty())
        return QStringLiteral("No port URL: ") + kExpected;
    const auto quoted = [&] { return u'"' + text.left(80) + u'"'; };
    // A new kind of network port is one more row.
    static const std::tuple<QLatin1StringView, PortUrl::Kind, bool> kSchemes[] = {
        {QLatin1StringView("rfc2217://"), PortUrl::Kind::Rfc2217, false},
        {QLatin1StringView("tcp://"), PortUrl::Kind::RawTcp, false},
        {QLatin1StringView("rfc2217+tls://"), PortUrl::Kind::Rfc2217, true},
        {QLatin1StringView("tcp+tls://"), PortUrl::Kind::RawTcp, true},
    };
    PortUrl url;
    QStringView rest;
    for (const auto &[scheme, kind, tls] : kSchemes) {
        if (text.startsWith(scheme, Qt::CaseInsensitive)) {
            url.kind = kind;
            url.tls = tls;
            rest = QStringView(text).sliced(scheme.size());
            break;
        }
    }
    if (rest.isNull())
        return QStringLiteral("Not a port URL: %1; %2").arg(quoted(), kExpected);
    if (rest.endsWith(u'/'))
        rest.chop(1);

    QStringView host;
    QStringView portText;
    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close < 0)
            return QStringLiteral("Invalid host in %1: no closing ]").arg(quoted());
        host = rest.sliced(1, close - 1);
        if (!validIpv6(host))
            return QStringLiteral("Invalid host in %1").arg(quoted());
        const QStringView after = rest.sliced(close + 1);
        if (!after.startsWith(u':'))
            return QStringLiteral("No port number in %1").arg(quoted());
        portText = after.sliced(1);
    } else {
        const qsizetype colon = rest.lastIndexOf(u':');
        if (colon < 0)
            return QStringLiteral("No port number in %1").arg(quoted());
        host = rest.first(colon);
        portText = rest.sliced(colon + 1);
        if (!validHostName(host))
            return QStringLiteral("Invalid host in %1").arg(quoted());
    }
    if (portText.isEmpty())
        return QStringLiteral("No port number in %1").arg(quoted());
    qint64 port = 0;
    for (QChar c : portText) {
        if (c < u'0' || c > u'9')
            return QStringLiteral("Invalid port number in %1").arg(quoted());
        port = port * 10 + (c.unicode() - u'0');
        if (port > 65535)
            break;
    }
    if (port < 1 || port > 65535)
        return QStringLiteral("Port number out of range (1 to 65535) in %1").arg(quoted());
    url.host = host.toString();
    url.port = quint16(port);
    return url;
}

QString portUrlText(const PortUrl &url)
{
    const QString host = url.host.contains(u':') ? u'[' + url.host + u']' : url.host;
    return (url.kind == PortUrl::Kind::Rfc2217 ? QStringLiteral("rfc2217")
                                               : QStringLiteral("tcp")) +
           (url.tls ? QStringLiteral("+tls://") : QStringLiteral("://")) + host + u':' +
           QString::number(url.port);
}
