// The receive panes' line store without a display: the edits a screen reader is sent for
// each kind of change, exactly.
#include "receive/linestore.h"
#include "support/tables.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTest>

namespace {
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
};

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
    for (const QByteArray &op : ops) {
        const QByteArray arg = op.mid(1);
        switch (op.at(0)) {
        case 'A':
            s.appendLine(arg);
            break;
        case 'P':
            s.prependLine(arg);
            break;
        case 'T':
            s.appendText(arg);
            break;
        default:
            s.clear();
        }
    }
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
    const qint64 t0 = QDateTime(QDate(2026, 12, 7), QTime(14, 3, 5, 100)).toMSecsSinceEpoch();
    LineStore s;
    for (qsizetype i = 0; i < ops.size(); ++i) {
        const QByteArray arg = ops[i].mid(1);
        const qint64 t = t0 + i * 450;
        ops[i][0] == 'A'   ? s.appendLine(arg, t)
        : ops[i][0] == 'P' ? s.prependLine(arg, t)
                           : s.appendText(arg, t);
    }
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

QTEST_GUILESS_MAIN(TstLineStore)
#include "tst_linestore.moc"
