#include "capture/capturerecord.h"

#include <array>
#include <cstring>

namespace {

// Each code's decimal digits followed by ':', and how many digits there are. Copying all
// four bytes and advancing by length + 1 keeps the inner loop free of branches on digits.
struct CodeText
{
    std::array<char, 4> text{};
    unsigned char digits = 0;
};

constexpr std::array<CodeText, 256> makeCodeTable()
{
    std::array<CodeText, 256> table{};
    for (int code = 0; code < 256; ++code) {
        CodeText &c = table[size_t(code)];
        if (code >= 100) {
            c.text = {char('0' + code / 100), char('0' + code / 10 % 10), char('0' + code % 10),
                      ':'};
            c.digits = 3;
        } else if (code >= 10) {
            c.text = {char('0' + code / 10), char('0' + code % 10), ':', 0};
            c.digits = 2;
        } else {
            c.text = {char('0' + code), ':', 0, 0};
            c.digits = 1;
        }
    }
    return table;
}

constexpr std::array<CodeText, 256> kCodes = makeCodeTable();

} // namespace

qsizetype blankTrimmedLength(QByteArrayView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == ' ')
        ++begin;
    while (end > begin && text[end - 1] == ' ')
        --end;
    return end - begin;
}

QString trimBlanks(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.mid(begin, end - begin);
}

void appendCaptureRecord(QByteArray &out, QByteArrayView Prefix, QByteArrayView sData)
{
    const qsizetype prefixLength = blankTrimmedLength(Prefix) > 0 ? Prefix.size() : 0;
    const qsizetype textLength = sData.isEmpty() ? 0 : sData.size() - 1;
    const qsizetype codeCount = blankTrimmedLength(sData);
    // Four bytes per code covers three digits and the separator.
    const qsizetype most = prefixLength + textLength + 2 + 4 * codeCount + 3;

    const qsizetype start = out.size();
    out.resize(start + most);
    char *p = out.data() + start;

    // A null view has no data pointer, and memcpy must not be given one even for 0 bytes.
    if (prefixLength > 0)
        std::memcpy(p, Prefix.data(), size_t(prefixLength));
    p += prefixLength;
    if (textLength > 0)
        std::memcpy(p, sData.data(), size_t(textLength));
    p += textLength;
    *p++ = ',';
    *p++ = '[';
    const auto *codes = reinterpret_cast<const unsigned char *>(sData.data());
    for (qsizetype i = 0; i < codeCount; ++i) {
        const CodeText &c = kCodes[codes[i]];
        std::memcpy(p, c.text.data(), 4);
        p += c.digits + 1;
    }
    if (codeCount > 0)
        --p; // the last code has no separator after it
    *p++ = ']';
    *p++ = '\r';
    *p++ = '\n';
    out.resize(p - out.constData());
}

QByteArray captureRecord(QByteArrayView Prefix, QByteArrayView sData)
{
    QByteArray out;
    appendCaptureRecord(out, Prefix, sData);
    return out;
}
