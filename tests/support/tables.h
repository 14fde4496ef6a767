#pragma once
// Data for tests: the columns of a data table in one line, the receive modes as a table,
// every byte value.

#include <QByteArray>
#include <QTest>

// Declares a data table's columns, types first: columns<int, QString>("port", "text").
template<typename... Types, typename... Names>
void columns(const Names &...names)
{
    static_assert(sizeof...(Types) == sizeof...(Names), "one name for each column type");
    (QTest::addColumn<Types>(names), ...);
}

// A table of the two receive modes, column lineMode: "frame mode" (the frame-end codes)
// and "line mode" (LF only).
inline void lineModeRows()
{
    QTest::addColumn<bool>("lineMode");
    QTest::newRow("frame mode") << false;
    QTest::newRow("line mode") << true;
}

// The 256 byte values in order.
inline QByteArray allByteValues()
{
    QByteArray out;
    for (int c = 0; c < 256; ++c)
        out.append(char(c));
    return out;
}
