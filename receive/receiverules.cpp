#include "receive/receiverules.h"

#include <QDateTime>
#include <QLocale>

#include <cstring>

namespace {

template<typename Text>
qsizetype firstNonBlank(const Text &s)
{
    qsizetype i = 0;
    while (i < s.size() && s[i] == u' ')
        ++i;
    return i;
}

template<typename Text>
qsizetype endNonBlank(const Text &s, qsizetype from)
{
    qsizetype end = s.size();
    while (end > from && s[end - 1] == u' ')
        --end;
    return end;
}

QString trimmedBlanks(const QString &s)
{
    const qsizetype begin = firstNonBlank(s);
    return s.mid(begin, endNonBlank(s, begin) - begin);
}

// Qt's locale formats differ from the Windows general date format we show: Qt's short dates
// often have a two-digit year and its long times end with the time zone. This rewrites
// a Qt format so any year shows four digits and the time zone is left out (with the blank
// that separated it). Quoted literals stay as they are.
QString windowsStyleFormat(const QString &format)
{
    QString out;
    out.reserve(format.size() + 2);
    const qsizetype n = format.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = format[i];
        if (c == u'\'') {
            qsizetype j = i + 1;
            while (j < n) {
                if (format[j] == u'\'') {
                    if (j + 1 < n && format[j + 1] == u'\'') {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            const qsizetype end = std::min(j + 1, n);
            out += QStringView(format).mid(i, end - i);
            i = end;
            continue;
        }
        qsizetype j = i;
        while (j < n && format[j] == c)
            ++j;
        if (c == u'y') {
            out += QStringLiteral("yyyy");
        } else if (c == u't') {
            if (out.endsWith(u' '))
                out.chop(1);
            else if (j < n && format[j] == u' ')
                ++j;
        } else {
            out += QStringView(format).mid(i, j - i);
        }
        i = j;
    }
    return out;
}

qint64 floorSeconds(qint64 msecs)
{
    return msecs >= 0 ? msecs / 1000 : -((-msecs + 999) / 1000);
}

} // namespace

FrameEndRule frameEndRuleFor(const QString &profileText)
{
    return profileText == u"Houillon" ? FrameEndRule::LineFeed : FrameEndRule::Standard;
}

bool isLineModeProfile(const QString &profileText)
{
    return trimmedBlanks(profileText).toUpper() == u"HOUILLON";
}

void formatBufferLogLine(QByteArray &out, qsizetype frameLength, char c)
{
    // Written back to front into a small buffer, then copied once.
    char buf[48];
    char *p = buf + sizeof buf;
    *--p = ']';
    unsigned code = uchar(c);
    do {
        *--p = char('0' + code % 10);
        code /= 10;
    } while (code);
    *--p = ' ';
    *--p = ':';
    *--p = c;
    p -= 5;
    std::memcpy(p, "] = [", 5);
    quint64 n = quint64(frameLength < 0 ? 0 : frameLength);
    do {
        *--p = char('0' + n % 10);
        n /= 10;
    } while (n);
    p -= 5;
    std::memcpy(p, "Bffr[", 5);
    const qsizetype len = buf + sizeof buf - p;
    // No allocation when out is unshared and large enough; one otherwise.
    out.resize(len);
    std::memcpy(out.data(), p, size_t(len));
}

QByteArray stripFrame(QByteArrayView s)
{
    const qsizetype begin = firstNonBlank(s);
    const qsizetype trimmed = endNonBlank(s, begin) - begin;
    if (trimmed == 0 || s.size() <= 2)
        return {};
    const qsizetype length = trimmed - 2;
    if (length <= 0)
        return {};
    return s.sliced(1, length).toByteArray();
}

QString generalDateText(const QDateTime &when, const QLocale &locale)
{
    const QDateTime local = when.toLocalTime();
    const QTime t = local.time();
    QString text =
        locale.toString(local.date(), windowsStyleFormat(locale.dateFormat(QLocale::ShortFormat)));
    const bool midnight = t.hour() == 0 && t.minute() == 0 && t.second() == 0;
    if (!midnight) {
        text += u' ';
        text += locale.toString(t, windowsStyleFormat(locale.timeFormat(QLocale::LongFormat)));
    }
    return trimmedBlanks(text);
}

QByteArray recordPrefix(const QString &dateText, const QString &sourceString)
{
    QByteArray prefix;
    if (!dateText.isEmpty()) {
        prefix += trimmedBlanks(dateText).toLatin1();
        prefix += ", ";
    }
    if (!sourceString.isEmpty()) {
        prefix += sourceString.toLatin1();
        prefix += ", ";
    }
    const qsizetype begin = firstNonBlank(prefix);
    const qsizetype end = endNonBlank(prefix, begin);
    if (begin == 0 && end == prefix.size())
        return prefix;
    return prefix.sliced(begin, end - begin);
}

QByteArray recordPrefix(bool includeTimestamp, const QDateTime &now, const QString &sourceString,
                        const QLocale &locale)
{
    return recordPrefix(includeTimestamp ? generalDateText(now, locale) : QString(), sourceString);
}

qint64 wholeSecondsBetween(const QDateTime &from, const QDateTime &to)
{
    return wholeSecondsBetween(from.toMSecsSinceEpoch(), to.toMSecsSinceEpoch());
}

qint64 wholeSecondsBetween(qint64 fromMs, qint64 toMs)
{
    return floorSeconds(toMs) - floorSeconds(fromMs);
}
