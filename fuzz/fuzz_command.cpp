// Command framing under arbitrary commands and suffix texts: each entry frames the bytes
// as it promises, every byte value passes through, and unknown suffixes change nothing.

#include "fuzz/fuzzcheck.h"
#include "transmit/commandframing.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

namespace {

const std::array<QString, 6> kSuffixes = {
    QStringLiteral("<select suffix>"), QStringLiteral("CrLf"),  QStringLiteral("EOL"),
    QStringLiteral("<STX>/<EOT>"),     QStringLiteral("<SYN>"), QStringLiteral("<CR><LF>"),
};

QByteArray spacesTrimmed(const QByteArray &s)
{
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && s[begin] == ' ')
        ++begin;
    while (end > begin && s[end - 1] == ' ')
        --end;
    return s.mid(begin, end - begin);
}

void checkFraming(const QByteArray &command, const QString &suffix)
{
    const QByteArray out = frameCommand(command, suffix);
    if (suffix == kSuffixes[1] || suffix == kSuffixes[5]) {
        FUZZ_CHECK(out == command + "\r\n");
    } else if (suffix == kSuffixes[2]) {
        FUZZ_CHECK(out == command + '\n');
    } else if (suffix == kSuffixes[3]) {
        FUZZ_CHECK(out.size() >= 2 && out.front() == '\x02' && out.back() == '\x04');
        const QByteArray inner = out.mid(1, out.size() - 2);
        FUZZ_CHECK(inner == spacesTrimmed(command));
        FUZZ_CHECK(command.contains(inner));
    } else if (suffix == kSuffixes[4]) {
        FUZZ_CHECK(out == QByteArray("\x02\x10\x04", 3));
    } else {
        FUZZ_CHECK(out == command);
    }
}

void checkCommandText(const QByteArray &bytes)
{
    // Every byte 0..255 typed as its Latin-1 character goes out as that byte.
    QString error;
    const std::optional<QByteArray> latin1 = commandBytes(QString::fromLatin1(bytes), &error);
    FUZZ_CHECK(latin1 && *latin1 == bytes && error.isEmpty());

    // Any other text either converts one character to one byte or is refused with a
    // reason; it is never sent with a substitute.
    const QString text = QString::fromUtf8(bytes);
    bool allSingleByte = true;
    for (QChar c : text)
        allSingleByte = allSingleByte && c.unicode() <= 0xFF;
    const std::optional<QByteArray> converted = commandBytes(text, &error);
    FUZZ_CHECK(converted.has_value() == allSingleByte);
    if (converted)
        FUZZ_CHECK(*converted == text.toLatin1());
    else
        FUZZ_CHECK(error.contains(QStringLiteral("U+")));
}

void checkAngleCodes(const QByteArray &bytes)
{
    // Any bytes, with each '<' doubled, come back unchanged.
    QByteArray escaped = bytes;
    escaped.replace('<', "<<");
    const std::optional<QByteArray> plain = decodeAngleCodes(escaped);
    FUZZ_CHECK(plain && *plain == bytes);

    // Arbitrary input is decoded to no more bytes than it has, or refused at a '<'.
    QString error;
    const std::optional<QByteArray> decoded = decodeAngleCodes(bytes, &error);
    if (decoded)
        FUZZ_CHECK(decoded->size() <= bytes.size() && error.isEmpty());
    else
        FUZZ_CHECK(bytes.contains('<') && error.contains(QStringLiteral("at character")));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzzBytes(data, size);
    if (bytes.isEmpty())
        return 0;
    const QByteArray command = bytes.mid(1);
    const uchar choice = uchar(bytes[0]);
    if (choice < 6 * 40) {
        checkFraming(command, kSuffixes[choice % 6]);
    } else {
        // A suffix text taken from the input: the first line, the command after it.
        const qsizetype newline = command.indexOf('\n');
        const QString suffix = QString::fromLatin1(command.left(newline < 0 ? 0 : newline));
        checkFraming(newline < 0 ? command : command.mid(newline + 1), suffix);
    }
    checkCommandText(command);
    checkAngleCodes(command);
    return 0;
}
