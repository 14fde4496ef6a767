#pragma once
// Finding text in a LineStore as a copy of it would read: each line's time (while shown)
// then its bytes as Latin-1, so a control character is found by the character itself
// (a tab by a tab), never by the boxed name a pane draws for it.
//
// A match lies within one line. Columns count characters of the line's text: the time
// and its blank (LineStore::prefixLength()) first, then the bytes.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <array>

class LineStore;

class LineFinder
{
public:
    LineFinder() = default;
    // Case is ignored (Latin-1 letters included) unless caseSensitive.
    LineFinder(const QString &needle, bool caseSensitive);

    const QString &needle() const { return m_needle; }
    bool caseSensitive() const { return m_caseSensitive; }
    bool isEmpty() const { return m_needle.isEmpty(); }

    struct Match
    {
        qsizetype line = -1;
        qsizetype start = 0; // columns of the line's text
        qsizetype end = 0;
        bool wrapped = false; // found only after going round the end of the text
        bool isValid() const { return line >= 0; }
        bool operator==(const Match &) const = default;
    };

    // The first match starting at or after column of line; past the last line it goes
    // round to the first. Invalid when there is none.
    Match findNext(const LineStore &store, qsizetype line, qsizetype column) const;
    // The last match ending at or before column of line; before the first line it goes
    // round to the last.
    Match findPrevious(const LineStore &store, qsizetype line, qsizetype column) const;
    // The matches of one line, left to right and not overlapping (for highlighting).
    QList<Match> matchesIn(const LineStore &store, qsizetype line) const;

private:
    // Fills m_text with line's text where a match could touch its time, and returns the
    // text to search and the column its first character has.
    struct Haystack
    {
        const uchar *data = nullptr;
        qsizetype size = 0;
        qsizetype column = 0;
    };
    Haystack haystack(const LineStore &store, qsizetype line) const;
    // First match starting at or after from in h, or -1.
    qsizetype indexIn(const Haystack &h, qsizetype from) const;
    // Last match of line ending at or before column, or -1 (its start).
    qsizetype lastIn(const LineStore &store, qsizetype line, qsizetype column) const;
    qsizetype firstIn(const LineStore &store, qsizetype line, qsizetype column) const;

    QString m_needle;
    bool m_caseSensitive = false;
    bool m_possible = false;     // every character of the needle is Latin-1
    QByteArray m_pattern;        // the needle as folded Latin-1
    bool m_mayTouchTime = false; // the first character can occur in a shown time
    std::array<uchar, 256> m_fold{};
    mutable QByteArray m_text; // a line's time and bytes, when the time must be searched
    mutable qint64 m_second = -1;
    mutable QByteArray m_secondText; // the time text of m_second's start
};
