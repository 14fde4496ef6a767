// Finding in and saving a receive pane fed arbitrary received bytes: the first match and
// each line's matches agree with a plain search of the text a copy gives, and a save with
// the times hidden gives back exactly the bytes received.
//
// Input: a flags byte (bit 0 case kept, bit 1 times shown), a needle length byte (at most
// 8), the needle (read as Latin-1), then the received bytes, cut into chunks at every
// 61st byte.

#include "fuzz/fuzzcheck.h"
#include "receive/linefinder.h"
#include "receive/linesave.h"
#include "receive/linestore.h"

#include <QString>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const bool caseSensitive = data[0] & 1;
    const bool times = data[0] & 2;
    const size_t n = std::min<size_t>(data[1] % 9, size - 2);
    const QByteArray needle = fuzzBytes(data + 2, n);
    const QByteArray received = fuzzBytes(data + 2 + n, size - 2 - n);

    LineStore store;
    store.setMaxLines(50);
    for (qsizetype at = 0; at < received.size(); at += 61)
        store.appendText(
            QByteArrayView(received).sliced(at, std::min<qsizetype>(61, received.size() - at)),
            1'796'000'000'000 + at * 7);
    if (store.droppedLines() == 0)
        FUZZ_CHECK(savedLines(store) == received);
    store.setTimesShown(times);

    const QString text = QString::fromLatin1(needle);
    const Qt::CaseSensitivity cs = caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive;
    const LineFinder finder(text, caseSensitive);
    LineFinder::Match first;
    for (qsizetype i = 0; i < store.lineCount(); ++i) {
        const qsizetype at = store.lineOffset(i);
        const QString line =
            store.textRange(at, at + store.prefixLength() + store.lineBytes(i).size());
        const QList<LineFinder::Match> matches = finder.matchesIn(store, i);
        qsizetype k = 0;
        for (qsizetype from = 0; !text.isEmpty();) {
            const qsizetype hit = line.indexOf(text, from, cs);
            if (hit < 0)
                break;
            FUZZ_CHECK(k < matches.size() && matches[k].start == hit &&
                       matches[k].end == hit + text.size());
            if (!first.isValid())
                first = {i, hit, hit + text.size(), false};
            ++k;
            from = hit + text.size();
        }
        FUZZ_CHECK(k == matches.size());
    }
    FUZZ_CHECK(finder.findNext(store, 0, 0) == first);
    return 0;
}
