#pragma once
// The rules of the receive path, as plain functions the window and the tests call.
//
//   received character --> FrameBuffer += c --> buffer log line "Bffr[n] = [c: code]"
//                      --> frame end? (profile's rule) --> display text (frame mode)
//                                                       --> record prefix (line mode)
//   timer tick --> whole seconds since the last event --> indicator green or red
//
// Characters are bytes 0..255. Blanks are spaces (code 32) only: trimming never removes
// tabs, CR or LF.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

class QDateTime;
class QLocale;

// The longest frame kept in FrameBuffer. A frame that reaches it without an end character
// is handed on as a record of its own, so a device that never sends one cannot exhaust
// memory and nothing received is left out of the capture file.
inline constexpr qsizetype kMaxFrameLength = qsizetype(1) << 20;

// Which codes end a frame.
enum class FrameEndRule {
    Standard, // CR (13), LF (10), ACK (6), EOT (4)
    LineFeed, // LF (10) only
};

// The rule of a profile list text: "Houillon" (exact, case-sensitive) ends frames at line
// feeds only, every other text at any of the standard codes.
FrameEndRule frameEndRuleFor(const QString &profileText);

inline bool endsFrame(FrameEndRule rule, uchar code)
{
    if (rule == FrameEndRule::LineFeed)
        return code == 10;
    return code == 13 || code == 10 || code == 6 || code == 4;
}

// True when a profile puts the receive path in line mode: the text without leading and
// trailing blanks, upper-cased, is "HOUILLON".
bool isLineModeProfile(const QString &profileText);

// Replaces out with the buffer log line for character c when the frame is frameLength
// long after it: Bffr[frameLength] = [c: code], without a line end (the pane keeps lines).
// Reuses out's storage.
void formatBufferLogLine(QByteArray &out, qsizetype frameLength, char c);

// The display text of a frame: empty when the frame is blank or two characters or
// shorter, else the characters from the second on, as many as the frame's blank-trimmed
// length minus two (empty when that is not positive).
QByteArray stripFrame(QByteArrayView s);

// The general date format, as Windows writes it: short date, one
// blank, long time, with a four-digit year and no time zone; the time is left out at
// exactly midnight (whole seconds). Leading and trailing blanks removed.
QString generalDateText(const QDateTime &when, const QLocale &locale);

// The record prefix of line mode as handed to the capture writer: "<date text>, " when
// dateText is not empty, then "<source>, " when sourceString is not empty, with the
// trailing blank removed. dateText is the general date text, or empty when the timestamp
// is not wanted. Latin-1.
QByteArray recordPrefix(const QString &dateText, const QString &sourceString);

// The same, taking the timestamp from now in the given locale when includeTimestamp.
QByteArray recordPrefix(bool includeTimestamp, const QDateTime &now, const QString &sourceString,
                        const QLocale &locale);

// Calendar seconds crossed from `from` to `to` (12:00:00.9 to 12:00:01.1 is one);
// negative when `to` is earlier.
qint64 wholeSecondsBetween(const QDateTime &from, const QDateTime &to);
// The same for instants in milliseconds since the epoch.
qint64 wholeSecondsBetween(qint64 fromMs, qint64 toMs);

// The activity indicator's state: green while the last event fell in the current second
// (or the clock was set back).
inline bool showsActivity(qint64 secondsSinceLastEvent)
{
    return secondsSinceLastEvent < 1;
}
