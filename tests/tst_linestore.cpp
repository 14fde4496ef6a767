// The receive panes' line store without a display: the edits a screen reader is sent for
// each kind of change, exactly.
#include "receive/linestore.h"

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
};

void TstLineStore::edits_data()
{
    // Each op: 'A' appendLine, 'P' prependLine, 'T' appendText, 'C' clear, then bytes.
    // The store holds "a" and "b" (as appended or prepended) when recording starts.
    QTest::addColumn<bool>("prepended");
    QTest::addColumn<qsizetype>("maxLines");
    QTest::addColumn<QByteArrayList>("ops");
    QTest::addColumn<Edits>("edits");

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

QTEST_GUILESS_MAIN(TstLineStore)
#include "tst_linestore.moc"
