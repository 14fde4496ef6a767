// The capture record format: worked examples, edge cases, random frames, long frames.
#include "capture/capturerecord.h"
#include "support/tables.h"

#include <QRandomGenerator>
#include <QTest>

#include <string>

namespace {

// The frame's length without leading and trailing spaces, computed independently of the
// code under test.
qsizetype referenceCodeCount(const QByteArray &frame)
{
    const std::string s = frame.toStdString();
    const auto first = s.find_first_not_of(' ');
    if (first == std::string::npos)
        return 0;
    return qsizetype(s.find_last_not_of(' ') - first + 1);
}

// Splits a record into its text part and its codes, checking the fixed pieces around
// them; textLength says where the text part ends (it may itself contain ",[").
bool parseRecord(const QByteArray &line, qsizetype textLength, QByteArray &text, QList<int> &codes)
{
    if (!line.endsWith("]\r\n") || line.size() < textLength + 5 || line.mid(textLength, 2) != ",[")
        return false;
    text = line.left(textLength);
    codes.clear();
    const QByteArray list = line.mid(textLength + 2, line.size() - textLength - 5);
    if (list.isEmpty())
        return true;
    for (const QByteArray &c : list.split(':')) {
        bool ok = false;
        const int v = c.toInt(&ok);
        // Decimal without leading zeros.
        if (!ok || c != QByteArray::number(v))
            return false;
        codes.append(v);
    }
    return true;
}

} // namespace

class TestCaptureRecord : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void record_data()
    {
        columns<QByteArray, QByteArray, QByteArray>("prefix", "frame", "expected");

        // The worked examples.
        QTest::newRow("abc CR") << QByteArray("") << QByteArray("abc\r")
                                << QByteArray("abc,[97:98:99:13]\r\n");
        QTest::newRow("LF alone") << QByteArray("") << QByteArray("\n") << QByteArray(",[10]\r\n");
        QTest::newRow("timestamp and source prefix")
            << QByteArray("12/7/2026 2:03:05 PM, S1,") << QByteArray("12.5\n")
            << QByteArray("12/7/2026 2:03:05 PM, S1,12.5,[49:50:46:53:10]\r\n");
        QTest::newRow("leading blank drops end code")
            << QByteArray("") << QByteArray(" 7\r") << QByteArray(" 7,[32:55]\r\n");
        QTest::newRow("null prefix")
            << QByteArray() << QByteArray("OK\r") << QByteArray("OK,[79:75:13]\r\n");
        QTest::newRow("blank prefix")
            << QByteArray("   ") << QByteArray("OK\r") << QByteArray("OK,[79:75:13]\r\n");

        // Edge cases.
        QTest::newRow("two leading blanks")
            << QByteArray() << QByteArray("  7\r") << QByteArray("  7,[32:32]\r\n");
        QTest::newRow("CR kept before LF")
            << QByteArray() << QByteArray("ab\r\n") << QByteArray("ab\r,[97:98:13:10]\r\n");
        QTest::newRow("prefix trailing blank kept")
            << QByteArray("P, ") << QByteArray("x\r") << QByteArray("P, x,[120:13]\r\n");
        QTest::newRow("prefix leading blank kept")
            << QByteArray(" P,") << QByteArray("x\r") << QByteArray(" P,x,[120:13]\r\n");
        QTest::newRow("tab prefix is not blank")
            << QByteArray("\t") << QByteArray("x\n") << QByteArray("\tx,[120:10]\r\n");
        QTest::newRow("tab in frame not trimmed")
            << QByteArray() << QByteArray("\tX\r") << QByteArray("\tX,[9:88:13]\r\n");
        QTest::newRow("trailing blank after end code")
            << QByteArray() << QByteArray("a\r ") << QByteArray("a\r,[97:13]\r\n");
        QTest::newRow("blanks only")
            << QByteArray() << QByteArray("   ") << QByteArray("  ,[]\r\n");
        QTest::newRow("blank end character")
            << QByteArray() << QByteArray(" ") << QByteArray(",[]\r\n");
        QTest::newRow("empty frame") << QByteArray() << QByteArray() << QByteArray(",[]\r\n");
        QTest::newRow("codes of one two three digits")
            << QByteArray() << QByteArray("\x00\x09\x63\x64\xff\x04", 6)
            << QByteArray("\x00\x09\x63\x64\xff", 5) + QByteArray(",[0:9:99:100:255:4]\r\n");
        QTest::newRow("frame text holds comma bracket")
            << QByteArray() << QByteArray(",[1]\r") << QByteArray(",[1],[44:91:49:93:13]\r\n");
    }
    void record()
    {
        QFETCH(QByteArray, prefix);
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, expected);
        QCOMPARE(captureRecord(prefix, frame), expected);
    }

    void appendKeepsWhatIsThere()
    {
        QByteArray out("earlier\r\n");
        appendCaptureRecord(out, QByteArray(), QByteArray("abc\r"));
        appendCaptureRecord(out, QByteArray("S,"), QByteArray("\n"));
        QCOMPARE(out, QByteArray("earlier\r\nabc,[97:98:99:13]\r\nS,,[10]\r\n"));
    }

    void randomFrames()
    {
        QRandomGenerator rng(20260712);
        for (int round = 0; round < 4000; ++round) {
            const int length = rng.bounded(1, 80);
            QByteArray frame(length, Qt::Uninitialized);
            for (char &c : frame)
                c = rng.bounded(4) == 0 ? ' ' : char(rng.bounded(256)); // many blanks at the ends
            QByteArray prefix;
            if (rng.bounded(2))
                prefix = QByteArray(rng.bounded(0, 5), ' ') + QByteArray::number(round) + ", ";

            const QByteArray line = captureRecord(prefix, frame);
            const QByteArray expectedPrefix = prefix.trimmed().isEmpty() ? QByteArray() : prefix;
            QVERIFY2(line.startsWith(expectedPrefix), qPrintable(QString::number(round)));
            QByteArray text;
            QList<int> codes;
            QVERIFY2(parseRecord(line.mid(expectedPrefix.size()), frame.size() - 1, text, codes),
                     line.toHex().constData());
            QCOMPARE(text, frame.chopped(1));
            const qsizetype n = referenceCodeCount(frame);
            QCOMPARE(codes.size(), n);
            for (qsizetype i = 0; i < n; ++i)
                QCOMPARE(codes[i], int(uchar(frame[i])));
        }
    }

    void longFrame_data()
    {
        QTest::addColumn<int>("length");
        QTest::newRow("32767 old limit") << 32767;
        QTest::newRow("32768 past old limit") << 32768;
        QTest::newRow("100000") << 100000;
    }
    void longFrame()
    {
        QFETCH(int, length);
        QByteArray frame(length - 1, Qt::Uninitialized);
        for (int i = 0; i < frame.size(); ++i)
            frame[i] = char(33 + i % 200); // no blanks: every code listed
        frame += '\r';
        const QByteArray line = captureRecord(QByteArray(), frame);
        QByteArray text;
        QList<int> codes;
        QVERIFY(parseRecord(line, frame.size() - 1, text, codes));
        QCOMPARE(text, frame.chopped(1));
        QCOMPARE(codes.size(), qsizetype(length));
        QCOMPARE(codes.last(), 13);
        QCOMPARE(codes[length / 2], 33 + (length / 2) % 200);
    }

    void trimBlanksOnlySpaces_data()
    {
        columns<QString, QString>("text", "expected");
        QTest::newRow("both ends") << QStringLiteral("  S1  ") << QStringLiteral("S1");
        QTest::newRow("inner kept") << QStringLiteral(" a b ") << QStringLiteral("a b");
        QTest::newRow("tab kept") << QStringLiteral("\t S1 \t") << QStringLiteral("\t S1 \t");
        QTest::newRow("blanks only") << QStringLiteral("   ") << QString();
        QTest::newRow("empty") << QString() << QString();
    }
    void trimBlanksOnlySpaces()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(trimBlanks(text), expected);
    }
};

QTEST_APPLESS_MAIN(TestCaptureRecord)
#include "tst_capture_record.moc"
