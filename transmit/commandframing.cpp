#include "transmit/commandframing.h"

#include <QChar>

namespace {

constexpr char kStx = 0x02;
constexpr char kEot = 0x04;
constexpr char kLf = 0x0A;

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
