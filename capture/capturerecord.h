#pragma once
// The capture record: one line of the capture file per received frame.
//
//   prefix (when it holds more than blanks) + frame without its end character + ",["
//   + codes of the frame's first N characters, ":"-separated + "]" + CR LF
//
// N is the frame's length once leading and trailing blanks are removed. Blanks are
// spaces (code 32) only; tabs, CR and LF are never trimmed. Characters are bytes 0..255.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Length of text once leading and trailing spaces are removed.
qsizetype blankTrimmedLength(QByteArrayView text);

// text without leading and trailing spaces (only code 32; other white space stays).
QString trimBlanks(const QString &text);

// Appends the record of frame sData, with Prefix, to out, line end included. A null,
// empty or all-blank Prefix adds nothing. No length limit. Allocates at most once.
void appendCaptureRecord(QByteArray &out, QByteArrayView Prefix, QByteArrayView sData);

// The record as a new array.
QByteArray captureRecord(QByteArrayView Prefix, QByteArrayView sData);
