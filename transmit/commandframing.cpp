#include "transmit/commandframing.h"

#include <QChar>

#include <algorithm>

namespace {

constexpr char kStx = 0x02;
constexpr char kEot = 0x04;
constexpr char kLf = 0x0A;

// Names of codes 0 to 31 in order; DEL (127) is handled apart.
constexpr const char *kControlNames[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                           "BS",  "HT",  "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                           "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                           "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

// The byte a code's inner text stands for, or -1.
int angleCodeValue(const QByteArray &inner)
{
    // "0x1B": one or two hex digits after 0x, as instrument manuals write codes.
    if (inner.size() >= 3 && inner.size() <= 4 && inner.at(0) == '0' &&
        (inner.at(1) == 'x' || inner.at(1) == 'X')) {
        bool ok = false;
        const QByteArray digits = inner.mid(2);
        const int value = digits.toInt(&ok, 16);
        const bool plain = std::all_of(digits.begin(), digits.end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        });
        return ok && plain ? value : -1;
    }
    if (inner.isEmpty() || inner.size() > 3)
        return -1;
    bool digits = true;
    for (char c : inner)
        digits = digits && c >= '0' && c <= '9';
    if (digits) {
        const int value = inner.toInt();
        return value <= 255 ? value : -1;
    }
    const QByteArray upper = inner.toUpper();
    for (int code = 0; code < 32; ++code) {
        if (upper == kControlNames[code])
            return code;
    }
    return upper == "DEL" ? 127 : -1;
}

// Only the space character counts as a blank: tabs and line ends are part of the command.
QByteArray trimSpaces(const QByteArray &s)
{
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && s.at(begin) == ' ')
        ++begin;
    while (end > begin && s.at(end - 1) == ' ')
        --end;
    return s.mid(begin, end - begin);
}

} // namespace

std::optional<QByteArray> commandBytes(const QString &text, QString *error)
{
    QByteArray out;
    out.reserve(text.size());
    qsizetype position = 0; // in characters as the operator sees them
    for (qsizetype i = 0; i < text.size(); ++i) {
        ++position;
        const QChar ch = text.at(i);
        if (ch.unicode() <= 0xFF) {
            out.append(char(ch.unicode()));
            continue;
        }
        char32_t code = ch.unicode();
        if (ch.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            code = QChar::surrogateToUcs4(ch, text.at(i + 1));
        if (error) {
            const QString hex =
                QString::number(quint32(code), 16).toUpper().rightJustified(4, u'0');
            *error = QStringLiteral("The command was not sent: character %1 (U+%2) has no "
                                    "single-byte code; only character codes 0 to 255 can be sent.")
                         .arg(position)
                         .arg(hex);
        }
        return std::nullopt;
    }
    return out;
}

QByteArray frameCommand(const QByteArray &command, const QString &suffix)
{
    if (suffix == u"CrLf" || suffix == u"<CR><LF>")
        return command + "\r\n";
    if (suffix == u"EOL")
        return command + kLf;
    if (suffix == u"<STX>/<EOT>")
        return kStx + trimSpaces(command) + kEot;
    if (suffix == u"<SYN>")
        // The middle code is 16 (DLE), not 22 (SYN) as the entry's name suggests.
        return QByteArray("\x02\x10\x04", 3);
    return command;
}

std::optional<QByteArray> decodeAngleCodes(const QByteArray &command, QString *error)
{
    QByteArray out;
    out.reserve(command.size());
    for (qsizetype i = 0; i < command.size(); ++i) {
        const char c = command.at(i);
        if (c != '<') {
            out.append(c);
            continue;
        }
        if (i + 1 < command.size() && command.at(i + 1) == '<') {
            out.append('<');
            ++i;
            continue;
        }
        // A long stretch to the next '>' is no code: say a '<' stands alone rather than
        // quote half the command back.
        const qsizetype close = command.indexOf('>', i + 1);
        const QByteArray inner = close < 0 ? QByteArray() : command.mid(i + 1, close - i - 1);
        const int value = close < 0 ? -1 : angleCodeValue(inner);
        if (value < 0) {
            if (error) {
                const QString found =
                    close < 0 || close - i > 8
                        ? QStringLiteral("a \"<\" without a code and \">\"")
                        : QStringLiteral("\"<%1>\" is not a code").arg(QString::fromLatin1(inner));
                *error = QStringLiteral("The command was not sent: at character %1, %2. "
                                        "Codes are control names such as <STX>, numbers "
                                        "<0> to <255> or <0x00> to <0xFF>; type << for a "
                                        "single <.")
                             .arg(i + 1)
                             .arg(found);
            }
            return std::nullopt;
        }
        out.append(char(value));
        i = close;
    }
    return out;
}
