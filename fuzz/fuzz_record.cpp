// The capture record under arbitrary prefixes and frames: reading the record back gives
// the prefix, the frame without its end character, and the codes of the frame's first N
// bytes, N being its blank-trimmed length.

#include "capture/capturerecord.h"
#include "fuzz/fuzzcheck.h"

#include <QByteArray>
#include <QList>

#include <cstdint>

namespace {

qsizetype trimmedLength(const QByteArray &s)
{
    qsizetype lead = 0;
    while (lead < s.size() && s[lead] == ' ')
        ++lead;
    if (lead == s.size())
        return 0;
    qsizetype trail = 0;
    while (s[s.size() - 1 - trail] == ' ')
        ++trail;
    return s.size() - lead - trail;
}

// The codes of a record's code list, or an empty optional when the list is malformed.
std::optional<QList<int>> readCodes(const QByteArray &list)
{
    QList<int> codes;
    if (list.isEmpty())
        return codes;
    for (const QByteArray &field : list.split(':')) {
        if (field.isEmpty() || field.size() > 3 || (field.size() > 1 && field[0] == '0'))
            return std::nullopt;
        int value = 0;
        for (char c : field) {
            if (c < '0' || c > '9')
                return std::nullopt;
            value = value * 10 + (c - '0');
        }
        if (value > 255)
            return std::nullopt;
        codes.append(value);
    }
    return codes;
}

void checkRecord(const QByteArray &prefix, const QByteArray &frame)
{
    const QByteArray record = captureRecord(prefix, frame);
    FUZZ_CHECK(record.endsWith("]\r\n"));

    // The code list holds digits and colons only, so its bracket is the record's last one.
    const qsizetype open = record.lastIndexOf('[');
    FUZZ_CHECK(open >= 1 && record[open - 1] == ',');

    const QByteArray effectivePrefix = trimmedLength(prefix) > 0 ? prefix : QByteArray();
    FUZZ_CHECK(record.left(open - 1) == effectivePrefix + frame.chopped(1));

    const std::optional<QList<int>> codes =
        readCodes(record.mid(open + 1, record.size() - open - 4));
    FUZZ_CHECK(codes.has_value());
    const qsizetype n = trimmedLength(frame);
    FUZZ_CHECK(codes->size() == n);
    for (qsizetype i = 0; i < n; ++i)
        FUZZ_CHECK(codes->at(i) == uchar(frame[i]));

    // Appending keeps what the buffer held and adds exactly the record.
    QByteArray out = prefix;
    appendCaptureRecord(out, prefix, frame);
    FUZZ_CHECK(out == prefix + record);
    FUZZ_CHECK(blankTrimmedLength(frame) == n);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzzBytes(data, size);
    if (bytes.isEmpty())
        return 0;
    const qsizetype prefixLength = uchar(bytes[0]) % bytes.size();
    const QByteArray prefix = bytes.mid(1, prefixLength);
    const QByteArray frame = bytes.mid(1 + prefixLength);

    // Callers pass a frame of at least its end character; an empty one must still not
    // read outside it.
    if (frame.isEmpty()) {
        FUZZ_CHECK(captureRecord(prefix, frame).endsWith(",[]\r\n"));
        return 0;
    }
    checkRecord(prefix, frame);
    // A null prefix is no prefix.
    FUZZ_CHECK(captureRecord(QByteArrayView(), frame) == captureRecord(QByteArray(""), frame));
    return 0;
}
