#include "receive/receiverules.h"

#include <QDateTime>
#include <QLocale>

#include <cstring>

namespace {

template <typename Text>
qsizetype firstNonBlank(const Text &s)
{
    qsizetype i = 0;
    while (i < s.size() && s[i] == u' ')
        ++i;
    return i;
}

template <typename Text>
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

// Writes v in decimal at p; returns the number of digits.
int writeDecimal(char *p, quint64 v)
{
    char digits[20];
    int n = 0;
    do {
        digits[n++] = char('0' + v % 10);
        v /= 10;
    } while (v);
    for (int i = 0; i < n; ++i)
        p[i] = digits[n - 1 - i];
    return n;
}

// Qt's locale formats differ from the Windows ones the original showed: Qt's short dates
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
    char buf[64];
    int len = 0;
    std::memcpy(buf, "Bffr[", 5);
    len = 5;
    len += writeDecimal(buf + len, quint64(frameLength < 0 ? 0 : frameLength));
    std::memcpy(buf + len, "] = [", 5);
    len += 5;
    buf[len++] = c;
    buf[len++] = ':';
    buf[len++] = ' ';
    len += writeDecimal(buf + len, uchar(c));
    buf[len++] = ']';
    // One allocation at most: none when out is unshared and large enough.
    out.resize(len);
    std::memcpy(out.data(), buf, size_t(len));
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
    QString text = locale.toString(local.date(), windowsStyleFormat(locale.dateFormat(QLocale::ShortFormat)));
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
    return floorSeconds(to.toMSecsSinceEpoch()) - floorSeconds(from.toMSecsSinceEpoch());
}
