// Frame assembly and the capture writer fed by arbitrary byte streams cut at arbitrary
// points: the receive path's frame-end rule, display text, buffer log line and record
// format together must give the same records whatever the cut, and lose no byte.
//
// The window assembles frames one character per receive event; this harness does the same
// with the same pure rules, so a cut between chunks is invisible only if the rules keep no
// state of their own.

#include "capture/capturerecord.h"
#include "fuzz/fuzzcheck.h"
#include "receive/receiverules.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>
#include <cstdint>

namespace {

const std::array<QString, 5> kProfiles = {
    QStringLiteral("<select application>"),
    QStringLiteral("Analex PQM"),
    QStringLiteral("Houillon"),
    QStringLiteral("houillon"),
    QStringLiteral(" Houillon "),
};

struct Capture
{
    Capture(FrameEndRule r, QByteArray p)
        : rule(r)
        , prefix(std::move(p))
    {}
    FrameEndRule rule;
    QByteArray prefix;
    QByteArray frame;
    QByteArray file;
    QList<QByteArray> frames;

    void feed(QByteArrayView chunk)
    {
        for (char c : chunk) {
            frame += c;
            if (endsFrame(rule, uchar(c))) {
                appendCaptureRecord(file, prefix, frame);
                frames.append(frame);
                frame.resize(0);
            }
        }
    }
};

void checkAssembly(const QString &profile, const QByteArray &prefix, const QByteArray &stream,
                   quint32 seed)
{
    const FrameEndRule rule = frameEndRuleFor(profile);
    FUZZ_CHECK((rule == FrameEndRule::LineFeed) == (profile == u"Houillon"));

    Capture whole(rule, prefix);
    whole.feed(stream);

    Capture bytewise(rule, prefix);
    for (char c : stream)
        bytewise.feed(QByteArrayView(&c, 1));

    Capture chunked(rule, prefix);
    for (qsizetype at = 0; at < stream.size();) {
        seed = seed * 1103515245u + 12345u;
        const qsizetype n = std::min<qsizetype>(1 + (seed >> 16) % 97, stream.size() - at);
        chunked.feed(QByteArrayView(stream).sliced(at, n));
        at += n;
    }

    for (const Capture *c : {&bytewise, &chunked}) {
        FUZZ_CHECK(c->file == whole.file);
        FUZZ_CHECK(c->frames == whole.frames);
        FUZZ_CHECK(c->frame == whole.frame);
    }

    // Nothing lost, nothing added: the frames and the part still being assembled are the
    // stream, and each frame ends at its first end character.
    QByteArray joined;
    QByteArray expectedFile;
    for (const QByteArray &f : whole.frames) {
        FUZZ_CHECK(!f.isEmpty() && endsFrame(rule, uchar(f.back())));
        for (qsizetype i = 0; i + 1 < f.size(); ++i)
            FUZZ_CHECK(!endsFrame(rule, uchar(f[i])));
        joined += f;
        expectedFile += captureRecord(prefix, f);
    }
    FUZZ_CHECK(joined + whole.frame == stream);
    FUZZ_CHECK(whole.file == expectedFile);
    for (char c : whole.frame)
        FUZZ_CHECK(!endsFrame(rule, uchar(c)));
}

void checkDisplayText(const QByteArray &frame)
{
    const QByteArray shown = stripFrame(frame);
    const qsizetype trimmed = blankTrimmedLength(frame);
    const qsizetype expected =
        (trimmed == 0 || frame.size() <= 2) ? 0 : std::max<qsizetype>(0, trimmed - 2);
    FUZZ_CHECK(shown.size() == expected);
    FUZZ_CHECK(shown == frame.mid(1, shown.size()));
}

void checkLogLine(qsizetype length, char c)
{
    QByteArray line("left over from the last line");
    formatBufferLogLine(line, length, c);
    const QByteArray expected = "Bffr[" + QByteArray::number(length) + "] = [" + QByteArray(1, c) +
                                ": " + QByteArray::number(uchar(c)) + "]";
    FUZZ_CHECK(line == expected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzzBytes(data, size);
    if (bytes.size() < 4)
        return 0;
    const QString profile = kProfiles[uchar(bytes[0]) % kProfiles.size()];
    const quint32 seed = quint32(uchar(bytes[1])) << 8 | uchar(bytes[2]);
    // A prefix as line mode builds it: a short text ending in a comma, or none.
    const qsizetype prefixLength = uchar(bytes[3]) % 8;
    const QByteArray prefix = prefixLength ? bytes.mid(4, prefixLength) + ',' : QByteArray();
    const QByteArray stream = bytes.mid(4 + prefixLength);

    checkAssembly(profile, prefix, stream, seed);
    FUZZ_CHECK(isLineModeProfile(profile) == (trimBlanks(profile).toUpper() == u"HOUILLON"));

    qsizetype at = 0;
    for (qsizetype i = 0; i < stream.size(); ++i) {
        if (endsFrame(FrameEndRule::Standard, uchar(stream[i]))) {
            checkDisplayText(stream.mid(at, i + 1 - at));
            at = i + 1;
        }
    }
    checkDisplayText(stream);
    if (!stream.isEmpty())
        checkLogLine(stream.size() * 4099, stream.back());
    return 0;
}
