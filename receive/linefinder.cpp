#include "receive/linefinder.h"

#include "receive/linestore.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// A shown time holds only these ("HH:mm:ss.zzz ", or blanks when unknown).
bool mayBeInTime(uchar c)
{
    return (c >= '0' && c <= '9') || c == ':' || c == '.' || c == ' ';
}

} // namespace

LineFinder::LineFinder(const QString &needle, bool caseSensitive)
    : m_needle(needle)
    , m_caseSensitive(caseSensitive)
{
    for (int b = 0; b < 256; ++b) {
        const char16_t lower = QChar(char16_t(b)).toLower().unicode();
        m_fold[size_t(b)] = uchar(!caseSensitive && lower < 256 ? lower : b);
    }
    m_possible = true;
    m_pattern.reserve(needle.size());
    for (QChar c : needle) {
        // Folded first: a capital whose small letter is Latin-1 (Ÿ, ÿ) still finds it.
        const char16_t u = caseSensitive ? c.unicode() : c.toLower().unicode();
        if (u > 255) {
            m_possible = false; // the text holds only Latin-1
            break;
        }
        m_pattern.append(char(m_fold[u]));
    }
    m_possible = m_possible && !m_pattern.isEmpty();
    m_mayTouchTime = m_possible && mayBeInTime(uchar(m_pattern.front()));
}

LineFinder::Haystack LineFinder::haystack(const LineStore &store, qsizetype line) const
{
    const QByteArrayView bytes = store.lineBytes(line);
    const qsizetype prefix = store.prefixLength();
    if (prefix == 0 || !m_mayTouchTime) {
        // A match that starts in the bytes never reaches back into the time.
        return {reinterpret_cast<const uchar *>(bytes.data()), bytes.size(), prefix};
    }
    // Written in place: a full log is searched per keystroke, a line in tens of nanoseconds.
    if (m_text.size() < prefix + LineStore::kMaxLineBytes)
        m_text.resize(prefix + LineStore::kMaxLineBytes);
    char *out = m_text.data();
    const qint64 time = store.lineTime(line);
    if (time <= 0) {
        std::memset(out, ' ', size_t(prefix));
    } else {
        if (time / 1000 != m_second) {
            // Local time costs microseconds; lines share their second by the hundred.
            m_second = time / 1000;
            m_secondText.resize(0);
            LineStore::appendTimeText(m_secondText, m_second * 1000);
        }
        const int ms = int(time % 1000);
        std::memcpy(out, m_secondText.constData(), 9); // "HH:mm:ss."
        out[9] = char('0' + ms / 100);
        out[10] = char('0' + ms / 10 % 10);
        out[11] = char('0' + ms % 10);
        out[12] = ' ';
    }
    if (!bytes.isEmpty())
        std::memcpy(out + prefix, bytes.data(), size_t(bytes.size()));
    return {reinterpret_cast<const uchar *>(out), prefix + bytes.size(), 0};
}

qsizetype LineFinder::indexIn(const Haystack &h, qsizetype from) const
{
    const auto *pat = reinterpret_cast<const uchar *>(m_pattern.constData());
    const qsizetype m = m_pattern.size();
    const qsizetype last = h.size - m;
    const uchar first = pat[0];
    for (qsizetype i = std::max<qsizetype>(0, from - h.column); i <= last; ++i) {
        if (m_caseSensitive) {
            // The common case: let the library find the first character.
            const void *p = std::memchr(h.data + i, first, size_t(last - i + 1));
            if (!p)
                return -1;
            i = static_cast<const uchar *>(p) - h.data;
            if (std::memcmp(h.data + i + 1, pat + 1, size_t(m - 1)) == 0)
                return h.column + i;
            continue;
        }
        if (m_fold[h.data[i]] != first)
            continue;
        qsizetype k = 1;
        while (k < m && m_fold[h.data[i + k]] == pat[k])
            ++k;
        if (k == m)
            return h.column + i;
    }
    return -1;
}

qsizetype LineFinder::firstIn(const LineStore &store, qsizetype line, qsizetype column) const
{
    return indexIn(haystack(store, line), column);
}

qsizetype LineFinder::lastIn(const LineStore &store, qsizetype line, qsizetype column) const
{
    const Haystack h = haystack(store, line);
    const qsizetype m = m_pattern.size();
    qsizetype found = -1;
    for (qsizetype at = indexIn(h, 0); at >= 0 && at + m <= column; at = indexIn(h, at + 1))
        found = at;
    return found;
}

LineFinder::Match LineFinder::findNext(const LineStore &store, qsizetype line,
                                       qsizetype column) const
{
    const qsizetype n = store.lineCount();
    if (!m_possible || n == 0)
        return {};
    line = std::clamp<qsizetype>(line, 0, n - 1);
    const qsizetype m = m_pattern.size();
    for (qsizetype i = line; i < n; ++i) {
        const qsizetype at = firstIn(store, i, i == line ? column : 0);
        if (at >= 0)
            return {i, at, at + m, false};
    }
    for (qsizetype i = 0; i <= line; ++i) {
        const qsizetype at = firstIn(store, i, 0);
        if (at >= 0)
            return {i, at, at + m, true};
    }
    return {};
}

LineFinder::Match LineFinder::findPrevious(const LineStore &store, qsizetype line,
                                           qsizetype column) const
{
    const qsizetype n = store.lineCount();
    if (!m_possible || n == 0)
        return {};
    line = std::clamp<qsizetype>(line, 0, n - 1);
    const qsizetype m = m_pattern.size();
    const qsizetype whole = std::numeric_limits<qsizetype>::max() / 2;
    for (qsizetype i = line; i >= 0; --i) {
        const qsizetype at = lastIn(store, i, i == line ? column : whole);
        if (at >= 0)
            return {i, at, at + m, false};
    }
    for (qsizetype i = n - 1; i >= line; --i) {
        const qsizetype at = lastIn(store, i, whole);
        if (at >= 0)
            return {i, at, at + m, true};
    }
    return {};
}

QList<LineFinder::Match> LineFinder::matchesIn(const LineStore &store, qsizetype line) const
{
    QList<Match> out;
    if (!m_possible || line < 0 || line >= store.lineCount())
        return out;
    const Haystack h = haystack(store, line);
    const qsizetype m = m_pattern.size();
    for (qsizetype at = indexIn(h, 0); at >= 0; at = indexIn(h, at + m))
        out.append({line, at, at + m, false});
    return out;
}
