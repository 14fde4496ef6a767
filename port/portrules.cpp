#include "port/portrules.h"

#include <QStringList>

#include <linux/serial.h>

QString portNumberText(const QString &portListText)
{
    return portListText.size() >= 5 ? portListText.mid(4, 1) : QString();
}

std::optional<qint16> portNumberFromText(const QString &text)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 5)
        return std::nullopt;
    int value = 0;
    for (QChar c : t) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    if (value > 32767)
        return std::nullopt;
    return static_cast<qint16>(value);
}

QString legacyDevice(int port)
{
    return QStringLiteral("/dev/ttyS") + QString::number(port - 1);
}

bool noSerialHardware(const QString &device, std::optional<int> serialType)
{
    static const QString prefix = QStringLiteral("/dev/ttyS");
    if (!serialType || *serialType != PORT_UNKNOWN || !device.startsWith(prefix) ||
        device.size() == prefix.size())
        return false;
    for (qsizetype i = prefix.size(); i < device.size(); ++i) {
        if (device[i] < u'0' || device[i] > u'9')
            return false;
    }
    return true;
}

FlowControl handshakingFlow(qint32 handshaking)
{
    switch (handshaking) {
    case 1:
        return FlowControl::XonXoff;
    case 2:
    case 3:
        return FlowControl::RtsCts;
    default:
        return FlowControl::None;
    }
}

std::optional<LineSettings> parseSettings(const QString &text)
{
    const QStringList fields = text.split(u',');
    if (fields.size() != 4)
        return std::nullopt;
    LineSettings s;

    const QString baud = fields[0].trimmed();
    if (baud.isEmpty() || baud.size() > 10)
        return std::nullopt;
    qint64 rate = 0;
    for (QChar c : baud) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        rate = rate * 10 + (c.unicode() - u'0');
    }
    if (rate <= 0 || rate > 0x7fffffff)
        return std::nullopt;
    s.baudRate = static_cast<qint32>(rate);

    const QString parity = fields[1].trimmed().toLower();
    if (parity == u"n")
        s.parity = Parity::None;
    else if (parity == u"e")
        s.parity = Parity::Even;
    else if (parity == u"o")
        s.parity = Parity::Odd;
    else if (parity == u"m")
        s.parity = Parity::Mark;
    else if (parity == u"s")
        s.parity = Parity::Space;
    else
        return std::nullopt;

    const QString data = fields[2].trimmed();
    if (data.size() != 1 || data[0] < u'5' || data[0] > u'8')
        return std::nullopt;
    s.dataBits = data[0].unicode() - u'0';

    const QString stop = fields[3].trimmed();
    if (stop == u"1")
        s.stopBits = StopBits::One;
    else if (stop == u"1.5")
        s.stopBits = StopBits::OneAndHalf;
    else if (stop == u"2")
        s.stopBits = StopBits::Two;
    else
        return std::nullopt;
    return s;
}

QString settingsText(const LineSettings &s)
{
    static const char parity[] = {'n', 'e', 'o', 'm', 's'};
    static const char *const stop[] = {"1", "1.5", "2"};
    return QString::number(s.baudRate) + u',' + QLatin1Char(parity[int(s.parity)]) + u',' +
           QString::number(s.dataBits) + u',' + QLatin1StringView(stop[int(s.stopBits)]);
}
