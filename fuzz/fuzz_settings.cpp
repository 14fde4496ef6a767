// The settings grammar and the port text under arbitrary input: no crash, and what is
// accepted survives being written out again, with blanks and letter case changed.

#include "fuzz/fuzzcheck.h"
#include "port/portmapping.h"
#include "port/portrules.h"

#include <QString>
#include <QStringList>

#include <cstdint>

namespace {

QChar parityLetter(Parity p)
{
    switch (p) {
    case Parity::None:
        return u'n';
    case Parity::Even:
        return u'e';
    case Parity::Odd:
        return u'o';
    case Parity::Mark:
        return u'm';
    case Parity::Space:
        return u's';
    }
    return u'?';
}

QString stopText(StopBits s)
{
    switch (s) {
    case StopBits::One:
        return QStringLiteral("1");
    case StopBits::OneAndHalf:
        return QStringLiteral("1.5");
    case StopBits::Two:
        return QStringLiteral("2");
    }
    return QStringLiteral("?");
}

QString format(const LineSettings &s)
{
    return QString::number(s.baudRate) + u',' + parityLetter(s.parity) + u',' +
           QString::number(s.dataBits) + u',' + stopText(s.stopBits);
}

void checkSettings(const QString &text)
{
    const std::optional<LineSettings> parsed = parseSettings(text);
    FUZZ_CHECK(parseSettings(text) == parsed);
    if (!parsed)
        return;

    FUZZ_CHECK(parsed->baudRate > 0);
    FUZZ_CHECK(parsed->dataBits >= 5 && parsed->dataBits <= 8);
    FUZZ_CHECK(text.count(u',') == 3);

    const QString canonical = format(*parsed);
    FUZZ_CHECK(parseSettings(canonical) == parsed);
    FUZZ_CHECK(format(*parseSettings(canonical)) == canonical);

    FUZZ_CHECK(parseSettings(text.toUpper()) == parsed);
    FUZZ_CHECK(parseSettings(text.toLower()) == parsed);

    QStringList spaced = text.split(u',');
    for (QString &field : spaced)
        field = QStringLiteral("  ") + field + u' ';
    FUZZ_CHECK(parseSettings(spaced.join(u',')) == parsed);

    // A fifth field is never part of the grammar.
    FUZZ_CHECK(!parseSettings(text + QStringLiteral(",1")));
    FUZZ_CHECK(!parseSettings(QStringLiteral("1,") + text));
}

void checkPortText(const QString &text)
{
    const QString numberText = portNumberText(text);
    FUZZ_CHECK(numberText.size() <= 1);
    FUZZ_CHECK(numberText == (text.size() >= 5 ? text.mid(4, 1) : QString()));

    const std::optional<qint16> number = portNumberFromText(text);
    if (number) {
        FUZZ_CHECK(*number >= 0);
        FUZZ_CHECK(portNumberFromText(QString::number(*number)) == number);
        FUZZ_CHECK(text.trimmed().toInt() == *number);
    }
    // Every single digit is a port number text that converts.
    if (numberText.size() == 1 && numberText[0] >= u'0' && numberText[0] <= u'9')
        FUZZ_CHECK(portNumberFromText(numberText) == qint16(numberText[0].unicode() - u'0'));
    // A port outside 1..n has no device; the lookup must not touch anything for it.
    if (number && *number <= 0)
        FUZZ_CHECK(deviceForPort(*number, QStringLiteral("/nonexistent")).isEmpty());
}

// Values built from the input, written out, must read back exactly.
void checkValuesRoundTrip(const QByteArray &bytes)
{
    if (bytes.size() < 7)
        return;
    const auto u = [&](int i) { return quint8(bytes[i]); };
    LineSettings s;
    s.baudRate = qint32((quint32(u(0)) << 24 | quint32(u(1)) << 16 | quint32(u(2)) << 8 | u(3)) &
                        0x7fffffffu);
    if (s.baudRate == 0)
        s.baudRate = 1;
    s.parity = Parity(u(4) % 5);
    s.dataBits = 5 + u(5) % 4;
    s.stopBits = StopBits(u(6) % 3);
    FUZZ_CHECK(parseSettings(format(s)) == s);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzzBytes(data, size);
    for (const QString &text : {QString::fromLatin1(bytes), QString::fromUtf8(bytes)}) {
        checkSettings(text);
        checkPortText(text);
    }
    checkValuesRoundTrip(bytes);
    return 0;
}
