#include "plot/plotfields.h"

#include <QVarLengthArray>

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

bool isSeparator(uchar c)
{
    return c == ',' || c == ';' || c == ' ' || c < 0x20 || c == 0x7F;
}

bool isDigit(uchar c)
{
    return c >= '0' && c <= '9';
}

bool isLetter(uchar c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
           (c >= 0xC0 && c != 0xD7 && c != 0xF7);
}

// Letters and the signs units are written with: % / ° µ ² ³.
bool isUnitText(QByteArrayView t)
{
    if (t.isEmpty() || t.size() > 8)
        return false;
    for (char ch : t) {
        const uchar c = uchar(ch);
        if (!isLetter(c) && c != '%' && c != '/' && c != 0xB0 && c != 0xB5 && c != 0xB2 &&
            c != 0xB3)
            return false;
    }
    return true;
}

bool isNotANumberWord(QByteArrayView t)
{
    if (!t.isEmpty() && (t[0] == '+' || t[0] == '-'))
        t = t.sliced(1);
    return t.compare("nan", Qt::CaseInsensitive) == 0 ||
           t.compare("inf", Qt::CaseInsensitive) == 0 ||
           t.compare("infinity", Qt::CaseInsensitive) == 0;
}

// Format bits: see plotNumberText.
constexpr quint32 kPlus = 1u << 0;
constexpr int kIntShift = 1; // 5 bits
constexpr quint32 kPoint = 1u << 6;
constexpr int kFracShift = 7; // 5 bits
constexpr quint32 kExp = 1u << 12;
constexpr quint32 kExpUpper = 1u << 13;
constexpr quint32 kExpPlus = 1u << 14;
constexpr quint32 kExpMinus = 1u << 15;
constexpr int kExpWidthShift = 16; // 3 bits
constexpr int kExpShift = 19;      // 12 bits
// A double holds 15 significant decimal digits exactly: printed back to that many digits
// it gives the digits it was read from.
constexpr int kMaxSignificant = 15;

struct Number
{
    bool ok = false;
    double value = 0;
    quint32 format = kPlotNoFormat;
    QByteArrayView unit;
    QByteArrayView text;
};

// A number, optionally followed directly by a unit; nothing else.
Number parseNumber(QByteArrayView t)
{
    Number n;
    if (isNotANumberWord(t)) {
        n.ok = true;
        n.value = std::numeric_limits<double>::quiet_NaN();
        n.text = t;
        return n;
    }
    qsizetype i = 0;
    const qsizetype size = t.size();
    quint32 format = 0;
    if (i < size && (t[i] == '+' || t[i] == '-')) {
        format |= t[i] == '+' ? kPlus : 0;
        ++i;
    }
    const qsizetype intStart = i;
    while (i < size && isDigit(uchar(t[i])))
        ++i;
    const qsizetype intWidth = i - intStart;
    qsizetype fracStart = i;
    qsizetype fracWidth = 0;
    if (i < size && t[i] == '.') {
        format |= kPoint;
        fracStart = ++i;
        while (i < size && isDigit(uchar(t[i])))
            ++i;
        fracWidth = i - fracStart;
    }
    if (intWidth + fracWidth == 0)
        return n;
    qsizetype expWidth = 0;
    bool expNegative = false;
    int exponent = 0;
    if (i < size && (t[i] == 'e' || t[i] == 'E')) {
        qsizetype j = i + 1;
        quint32 expFormat = kExp | (t[i] == 'E' ? kExpUpper : 0);
        if (j < size && (t[j] == '+' || t[j] == '-')) {
            expNegative = t[j] == '-';
            expFormat |= expNegative ? kExpMinus : kExpPlus;
            ++j;
        }
        const qsizetype expStart = j;
        while (j < size && isDigit(uchar(t[j]))) {
            if (exponent < 100000)
                exponent = exponent * 10 + (t[j] - '0');
            ++j;
        }
        expWidth = j - expStart;
        if (expWidth > 0) { // otherwise the e starts a unit
            format |= expFormat;
            i = j;
        }
    }
    const qsizetype numberEnd = i;
    if (i < size && !isUnitText(t.sliced(i)))
        return n;
    n.unit = t.sliced(i);
    n.text = t.first(numberEnd);
    n.ok = true;

    const char *begin = t.data() + (t[0] == '+' ? 1 : 0);
    const std::from_chars_result r = std::from_chars(begin, t.data() + numberEnd, n.value);
    if (r.ec != std::errc() || !std::isfinite(n.value)) {
        n.value = std::numeric_limits<double>::quiet_NaN();
        return n;
    }

    // Significant digits: from the first non-zero digit to the last digit written.
    qsizetype significant = 0;
    bool seen = false;
    for (qsizetype k = intStart; k < fracStart + fracWidth; ++k) {
        const char c = t[k];
        if (c == '.')
            continue;
        seen = seen || c != '0';
        significant += seen;
    }
    const bool exact = significant <= kMaxSignificant && intWidth < 32 && fracWidth < 32 &&
                       expWidth < 8 && exponent < 4096 &&
                       (n.value == 0 || std::fabs(n.value) >= DBL_MIN);
    if (exact) {
        n.format = format | quint32(intWidth) << kIntShift | quint32(fracWidth) << kFracShift |
                   quint32(expWidth) << kExpWidthShift | quint32(exponent) << kExpShift;
    }
    return n;
}

struct Field
{
    enum Kind {
        Text,
        Number,
        Pair
    };
    QByteArrayView text;
    Kind kind = Text;
    QByteArrayView name; // a pair's name
    ::Number number;
};

bool isLabel(const Field &f)
{
    return f.kind == Field::Text && f.text.size() <= 16 && isLetter(uchar(f.text[0]));
}

Field classify(QByteArrayView t)
{
    Field f;
    f.text = t;
    f.number = parseNumber(t);
    if (f.number.ok) {
        f.kind = Field::Number;
        return f;
    }
    qsizetype k = 0;
    while (k < t.size() && t[k] != ':' && t[k] != '=')
        ++k;
    if (k == 0 || k == t.size() || k > 64)
        return f;
    const uchar first = uchar(t[0]);
    if (isDigit(first) || first == '+' || first == '-' || first == '.')
        return f;
    qsizetype v = k + 1;
    while (v < t.size() && t[v] == ' ')
        ++v;
    const ::Number value = parseNumber(t.sliced(v));
    if (!value.ok)
        return f;
    f.kind = Field::Pair;
    f.name = t.first(k);
    f.number = value;
    return f;
}

} // namespace

void parsePlotFields(QByteArrayView frame, PlotHeader &header, std::vector<PlotReading> &readings)
{
    readings.clear();
    QVarLengthArray<Field, 64> fields;
    const qsizetype size = frame.size();
    qsizetype i = 0;
    while (i < size) {
        while (i < size && isSeparator(uchar(frame[i])))
            ++i;
        if (i == size)
            break;
        const qsizetype start = i;
        while (i < size && !isSeparator(uchar(frame[i])))
            ++i;
        // "name: value": spaces after the colon (or equals sign) do not end the pair.
        if (frame[i - 1] == ':' || frame[i - 1] == '=') {
            qsizetype j = i;
            while (j < size && frame[j] == ' ')
                ++j;
            if (j > i && j < size && !isSeparator(uchar(frame[j]))) {
                i = j;
                while (i < size && !isSeparator(uchar(frame[i])))
                    ++i;
            }
        }
        fields.append(classify(frame.sliced(start, i - start)));
    }

    const qsizetype n = fields.size();
    bool isHeader = n >= 2;
    for (qsizetype k = 0; k < n && isHeader; ++k) {
        const Field &f = fields[k];
        isHeader = f.kind == Field::Text && isLetter(uchar(f.text[0])) && !f.text.contains(':') &&
                   !f.text.contains('=');
    }
    if (isHeader) {
        header.names.clear();
        for (const Field &f : fields)
            header.names.append(f.text.toByteArray());
        return;
    }

    // A unit-like text after a number without a unit is its unit, unless a number follows
    // it: then it is that number's label.
    auto unitAt = [&](qsizetype k) -> QByteArrayView {
        if (k >= n || fields[k].kind != Field::Text || !isUnitText(fields[k].text))
            return {};
        if (k + 1 < n && fields[k + 1].kind == Field::Number)
            return {};
        return fields[k].text;
    };
    int position = 0;
    for (qsizetype k = 0; k < n; ++k) {
        const Field &f = fields[k];
        if (f.kind == Field::Text)
            continue;
        PlotReading r;
        r.value = f.number.value;
        r.format = f.number.format;
        r.unit = f.number.unit;
        r.text = f.number.text;
        if (f.kind == Field::Pair) {
            r.name = f.name;
        } else if (k > 0 && isLabel(fields[k - 1])) {
            r.name = fields[k - 1].text;
        } else {
            r.position = ++position;
            if (position <= header.names.size())
                r.name = header.names[position - 1];
        }
        if (r.unit.isEmpty()) {
            r.unit = unitAt(k + 1);
            k += r.unit.isEmpty() ? 0 : 1;
        }
        readings.push_back(r);
    }
}

QByteArray plotNumberText(double value, quint32 format)
{
    char buffer[64];
    if (format == kPlotNoFormat || !std::isfinite(value)) {
        const std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, value);
        return QByteArray(buffer, r.ptr - buffer);
    }
    const int intWidth = int(format >> kIntShift & 31);
    const int fracWidth = int(format >> kFracShift & 31);
    const int expWidth = int(format >> kExpWidthShift & 7);
    const int expMagnitude = int(format >> kExpShift & 4095);
    const int exponent = (format & kExpMinus) ? -expMagnitude : expMagnitude;
    const int lowest = ((format & kExp) ? exponent : 0) - fracWidth; // weight of the last digit
    const int highest = lowest + intWidth + fracWidth - 1;

    // The significant digits d[0..] and the weight of d[0].
    const double a = std::fabs(value);
    char digits[80] = {};
    int top = lowest - 1; // no digits: the value is zero
    if (a != 0) {
        std::snprintf(buffer, sizeof buffer, "%.16e", a);
        const int estimate = std::atoi(std::strchr(buffer, 'e') + 1);
        // 1e99 prints as 9.99...e98 at 17 digits: one digit fewer than the last weight may
        // still round up to it.
        const int count = std::max(estimate - lowest + 1, estimate + 1 == lowest ? 1 : 0);
        if (count < 1 || count > 17)
            return plotNumberText(value, kPlotNoFormat);
        std::snprintf(buffer, sizeof buffer, "%.*e", count - 1, a);
        top = std::atoi(std::strchr(buffer, 'e') + 1);
        int d = 0;
        for (const char *p = buffer; *p != 'e'; ++p) {
            if (*p != '.')
                digits[d++] = *p;
        }
        if (top > highest)
            return plotNumberText(value, kPlotNoFormat);
    }

    QByteArray out;
    out.reserve(intWidth + fracWidth + expWidth + 4);
    if (std::signbit(value))
        out += '-';
    else if (format & kPlus)
        out += '+';
    for (int w = highest; w >= lowest; --w) {
        if (w == highest - intWidth)
            out += '.';
        const int index = top - w;
        out += (a != 0 && index >= 0 && digits[index] != 0) ? digits[index] : '0';
    }
    if ((format & kPoint) && fracWidth == 0)
        out += '.';
    if (format & kExp) {
        out += (format & kExpUpper) ? 'E' : 'e';
        if (format & kExpMinus)
            out += '-';
        else if (format & kExpPlus)
            out += '+';
        out += QByteArray::number(expMagnitude).rightJustified(expWidth, '0');
    }
    return out;
}
