// The receive panes' line store without a display: the edits a screen reader is sent for
// each kind of change, exactly; finding text in it and what a save writes.
#include "receive/linefinder.h"
#include "receive/linesave.h"
#include "receive/linestore.h"
#include "support/tables.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTest>

namespace {
// 14:03:05.100 local time on some day.
const qint64 kTime0 = QDateTime(QDate(2026, 12, 7), QTime(14, 3, 5, 100)).toMSecsSinceEpoch();

// Each op: 'A' appendLine, 'P' prependLine, 'T' appendText, 'C' clear, then bytes, or 'K'
// (the edits so far are taken); op i arrives at t0 + i * 450 ms (0: no time).
void apply(LineStore &s, const QByteArrayList &ops, qint64 t0 = 0)
{
    for (qsizetype i = 0; i < ops.size(); ++i) {
        const QByteArray arg = ops[i].mid(1);
        const qint64 t = t0 ? t0 + i * 450 : 0;
        switch (ops[i].at(0)) {
        case 'A':
            s.appendLine(arg, t);
            break;
        case 'P':
            s.prependLine(arg, t);
            break;
        case 'T':
            s.appendText(arg, t);
            break;
        case 'K':
            s.takeEdits();
            break;
        default:
            s.clear();
        }
    }
}

LineStore::TextEdit edit(qsizetype position, const char *removed, const char *inserted)
{
    return {position, QString::fromLatin1(removed), QString::fromLatin1(inserted)};
}
} // namespace
using Edits = QList<LineStore::TextEdit>;

class TstLineStore : public QObject
{
    Q_OBJECT
private slots:
    void edits_data();
    void edits();
    void times_data();
    void times();
    void find_data();
    void find();
    void saved_data();
    void saved();
};

using Match = LineFinder::Match;
Q_DECLARE_METATYPE(Match)

void TstLineStore::edits_data()
{
    // Each op: 'A' appendLine, 'P' prependLine, 'T' appendText, 'C' clear, then bytes.
    // The store holds "a" and "b" (as appended or prepended) when recording starts.
    columns<bool, qsizetype, QByteArrayList, Edits>("prepended", "maxLines", "ops", "edits");

    QTest::newRow("nothing changed") << false << qsizetype(9) << QByteArrayList{} << Edits{};
    QTest::newRow("lines added at the end")
        << false << qsizetype(9) << QByteArrayList{"Ac", "Ad"} << Edits{edit(4, "", "\r\nc\r\nd")};
    QTest::newRow("text grows the open line")
        << false << qsizetype(9) << QByteArrayList{"Tx", "Ty\n"}
        << Edits{edit(4, "", "\r\nxy\r\n")};
    QTest::newRow("full log: top goes, end comes")
        << false << qsizetype(2) << QByteArrayList{"Ac"}
        << Edits{edit(0, "a\r\n", ""), edit(1, "", "\r\nc")};
    QTest::newRow("full frame pane: bottom goes, top comes")
        << true << qsizetype(2) << QByteArrayList{"Pc"}
        << Edits{edit(1, "\r\na", ""), edit(0, "", "c\r\n")};
    QTest::newRow("added and dropped unseen")
        << false << qsizetype(2) << QByteArrayList{"Ac", "Ad", "Ae"}
        << Edits{edit(0, "a\r\nb", ""), edit(0, "", "d\r\ne")};
    QTest::newRow("a byte over 127 goes as the character it came as")
        << false << qsizetype(2) << QByteArrayList{"A\xe9", "Ax", "K", "Ac", "Ad"}
        << Edits{edit(0, "\xe9\r\nx", ""), edit(0, "", "c\r\nd")};
    QTest::newRow("grown at both ends: one edit of the whole")
        << false << qsizetype(9) << QByteArrayList{"Pz", "Ac"}
        << Edits{edit(0, "a\r\nb", "z\r\na\r\nb\r\nc")};
    QTest::newRow("cleared and refilled")
        << false << qsizetype(9) << QByteArrayList{"Ac", "C", "Ax"}
        << Edits{edit(0, "a\r\nb", ""), edit(0, "", "x")};
}

void TstLineStore::edits()
{
    QFETCH(bool, prepended);
    QFETCH(qsizetype, maxLines);
    QFETCH(QByteArrayList, ops);
    QFETCH(Edits, edits);
    LineStore s;
    prepended ? (s.prependLine("a"), s.prependLine("b")) : (s.appendLine("a"), s.appendLine("b"));
    s.setMaxLines(maxLines);
    s.setTracking(true);
    apply(s, ops);
    QCOMPARE(s.takeEdits(), edits);
    QCOMPARE(s.takeEdits(), Edits{}); // handed over once
}

void TstLineStore::times_data()
{
    // Op i arrives at 14:03:05.100 + i * 450 ms, local time; ops as in edits().
    columns<QByteArrayList, QString>("ops", "text");
    const QString blank(LineStore::kTimeLength, QLatin1Char(' '));
    QTest::newRow("appended, times in order")
        << QByteArrayList{"Aa", "Ab", "Ac"}
        << QStringLiteral("14:03:05.100 a\r\n14:03:05.550 b\r\n14:03:06.000 c");
    QTest::newRow("prepended, newest first")
        << QByteArrayList{"Pa", "Pb"} << QStringLiteral("14:03:05.550 b\r\n14:03:05.100 a");
    QTest::newRow("text: the first character's time")
        << QByteArrayList{"Tx", "Ty\nz", "Tw"}
        << QStringLiteral("14:03:05.100 xy\r\n14:03:05.550 zw");
    QTest::newRow("text: an empty line's line feed; an open line has none yet")
        << QByteArrayList{"Tx\n", "T\n"}
        << QStringLiteral("14:03:05.100 x\r\n14:03:05.550 \r\n") + blank;
}

void TstLineStore::times()
{
    QFETCH(QByteArrayList, ops);
    QFETCH(QString, text);
    LineStore s;
    apply(s, ops, kTime0);
    QString plain = text;
    plain.remove(QRegularExpression(QStringLiteral("^.{13}"), QRegularExpression::MultilineOption));
    QCOMPARE(s.text(), plain); // hidden at start
    s.setTimesShown(true);
    QCOMPARE(s.text(), text);
    QCOMPARE(s.characterCount(), text.size());
    // Offsets of lines and columns step over the times.
    for (qsizetype i = 0; i < s.lineCount(); ++i) {
        const qsizetype start = s.offsetOf(i, 0);
        QCOMPARE(start, s.lineOffset(i) + LineStore::kTimeLength);
        QCOMPARE(s.textRange(start, s.offsetOf(i, 99)), s.lineString(i));
        qsizetype line = -1;
        qsizetype column = -1;
        s.positionAt(s.lineOffset(i) + 3, &line, &column); // inside the time
        QCOMPARE(line, i);
        QCOMPARE(column, 0);
    }
    s.setTimesShown(false);
    QCOMPARE(s.text(), plain);
}

void TstLineStore::find_data()
{
    // Lines appended at kTime0 + i * 450 ms; the search starts at a column of a line's text
    // (its time first, while shown), forward ('n') or back ('p').
    columns<QByteArrayList, bool, QString, bool, char, qsizetype, qsizetype, Match>(
        "lines", "times", "needle", "caseSensitive", "direction", "line", "column", "match");
    const QByteArrayList greek{"alpha", "Beta gamma"};
    QTest::newRow("case ignored") << greek << false << QStringLiteral("BETA") << false << 'n'
                                  << qsizetype(0) << qsizetype(0) << Match{1, 0, 4};
    QTest::newRow("case kept: none") << greek << false << QStringLiteral("BETA") << true << 'n'
                                     << qsizetype(0) << qsizetype(0) << Match{};
    QTest::newRow("case kept: found") << greek << false << QStringLiteral("Beta") << true << 'n'
                                      << qsizetype(0) << qsizetype(0) << Match{1, 0, 4};
    QTest::newRow("Latin-1 capitals fold") << QByteArrayList{"x \xC9"
                                                             "CHO \xFF"}
                                           << false << QStringLiteral("\u00e9cho \u0178") << false
                                           << 'n' << qsizetype(0) << qsizetype(0) << Match{0, 2, 8};
    QTest::newRow("a control character finds itself")
        << QByteArrayList{"a\tb", "CR here\r"} << false << QStringLiteral("\r") << false << 'n'
        << qsizetype(0) << qsizetype(0) << Match{1, 7, 8};
    QTest::newRow("a boxed name is not text")
        << QByteArrayList{"a\rb"} << false << QStringLiteral("CR") << false << 'n' << qsizetype(0)
        << qsizetype(0) << Match{};
    QTest::newRow("a shown time counts")
        << QByteArrayList{"x", "y"} << true << QStringLiteral("05.550 Y") << false << 'n'
        << qsizetype(0) << qsizetype(0) << Match{1, 6, 14};
    QTest::newRow("a hidden time does not")
        << QByteArrayList{"x", "y"} << false << QStringLiteral("05.550 y") << false << 'n'
        << qsizetype(0) << qsizetype(0) << Match{};
    QTest::newRow("columns step over a shown time")
        << QByteArrayList{"x", "y"} << true << QStringLiteral("y") << false << 'n' << qsizetype(0)
        << qsizetype(0) << Match{1, 13, 14};
    const QByteArrayList abs{"ab", "xx", "ab"};
    QTest::newRow("next: the one after") << abs << false << QStringLiteral("ab") << false << 'n'
                                         << qsizetype(0) << qsizetype(2) << Match{2, 0, 2};
    QTest::newRow("next: round to the top") << abs << false << QStringLiteral("ab") << false << 'n'
                                            << qsizetype(2) << qsizetype(1) << Match{0, 0, 2, true};
    QTest::newRow("previous: round to the bottom")
        << abs << false << QStringLiteral("ab") << false << 'p' << qsizetype(0) << qsizetype(0)
        << Match{2, 0, 2, true};
    QTest::newRow("previous: ends at or before the column")
        << QByteArrayList{"abab"} << false << QStringLiteral("ab") << false << 'p' << qsizetype(0)
        << qsizetype(3) << Match{0, 0, 2};
    QTest::newRow("the only match: round to itself")
        << QByteArrayList{"ab"} << false << QStringLiteral("ab") << false << 'n' << qsizetype(0)
        << qsizetype(2) << Match{0, 0, 2, true};
    QTest::newRow("no match") << abs << false << QStringLiteral("zz") << false << 'p'
                              << qsizetype(1) << qsizetype(0) << Match{};
    QTest::newRow("not Latin-1: no match") << abs << false << QStringLiteral("a\u20ac") << false
                                           << 'n' << qsizetype(0) << qsizetype(0) << Match{};
}

void TstLineStore::find()
{
    QFETCH(QByteArrayList, lines);
    QFETCH(bool, times);
    QFETCH(QString, needle);
    QFETCH(bool, caseSensitive);
    QFETCH(char, direction);
    QFETCH(qsizetype, line);
    QFETCH(qsizetype, column);
    QFETCH(Match, match);
    LineStore s;
    for (QByteArray &l : lines)
        l.prepend('A');
    apply(s, lines, kTime0);
    s.setTimesShown(times);
    const LineFinder finder(needle, caseSensitive);
    const Match found =
        direction == 'n' ? finder.findNext(s, line, column) : finder.findPrevious(s, line, column);
    QCOMPARE(found, match);
    if (!found.isValid())
        return;
    // Columns are those of the text a copy gives.
    const qsizetype at = s.lineOffset(found.line);
    QCOMPARE(s.textRange(at + found.start, at + found.end)
                 .compare(needle, caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive),
             0);
    QVERIFY(finder.matchesIn(s, found.line).contains(Match{found.line, found.start, found.end}));
}

void TstLineStore::saved_data()
{
    // Ops as in edits(), op i arriving at kTime0 + i * 450 ms; at most three lines kept.
    columns<QByteArrayList, bool, QByteArray>("ops", "times", "file");
    QTest::newRow("lines end in LF")
        << QByteArrayList{"Aa", "Ab\r"} << false << QByteArray("a\nb\r\n");
    QTest::newRow("newest on top, as shown")
        << QByteArrayList{"Pa", "Pb"} << false << QByteArray("b\na\n");
    QTest::newRow("text as it came: an open line has no LF yet")
        << QByteArrayList{"Tx\r\ny"} << false << QByteArray("x\r\ny");
    QTest::newRow("text ending in a line feed")
        << QByteArrayList{"Tx\n"} << false << QByteArray("x\n");
    QTest::newRow("times when shown")
        << QByteArrayList{"Aa", "Tb"} << true << QByteArray("14:03:05.100 a\n14:03:05.550 b");
    QTest::newRow("dropped lines and their notice not saved")
        << QByteArrayList{"A1", "A2", "A3", "A4"} << false << QByteArray("2\n3\n4\n");
    QTest::newRow("an over-long line stays one line")
        << QByteArrayList{'A' + QByteArray(5000, 'z')} << false << QByteArray(5000, 'z') + '\n';
    QTest::newRow("every byte value")
        << QByteArrayList{'T' + allByteValues()} << false << allByteValues();
}

void TstLineStore::saved()
{
    QFETCH(QByteArrayList, ops);
    QFETCH(bool, times);
    QFETCH(QByteArray, file);
    LineStore s;
    s.setMaxLines(3);
    apply(s, ops, kTime0);
    s.setTimesShown(times);
    QCOMPARE(savedLines(s), file);
}

QTEST_GUILESS_MAIN(TstLineStore)
#include "tst_linestore.moc"
