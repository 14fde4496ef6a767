// The receive path's rules: frame ends per profile, the line-mode test, the buffer log
// line, the display text, the general date text, the record prefix and whole seconds.
#include "receive/receiverules.h"
#include "support/tables.h"

#include <QDateTime>
#include <QLocale>
#include <QTest>

#include <set>

namespace {
QDateTime at(int h, int m, int s, int ms = 0, QDate d = QDate(2026, 12, 7))
{
    return QDateTime(d, QTime(h, m, s, ms));
}
} // namespace

class TestReceiveRules : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void frameEnd_data()
    {
        columns<QString, QList<int>>("profile", "endCodes");
        const QList<int> standard{4, 6, 10, 13};
        QTest::newRow("select application") << QStringLiteral("<select application>") << standard;
        QTest::newRow("Analex PQM") << QStringLiteral("Analex PQM") << standard;
        QTest::newRow("Houillon") << QStringLiteral("Houillon") << QList<int>{10};
        // The frame-end test is exact: other spellings fall back to the standard rule.
        QTest::newRow("houillon lower case") << QStringLiteral("houillon") << standard;
        QTest::newRow("Houillon with blank") << QStringLiteral(" Houillon") << standard;
        QTest::newRow("empty") << QString() << standard;
    }
    void frameEnd()
    {
        QFETCH(QString, profile);
        QFETCH(QList<int>, endCodes);
        const FrameEndRule rule = frameEndRuleFor(profile);
        const std::set<int> ends(endCodes.begin(), endCodes.end());
        for (int code = 0; code < 256; ++code) {
            if (endsFrame(rule, uchar(code)) != (ends.count(code) == 1))
                QFAIL(qPrintable(QStringLiteral("code %1 wrongly %2 a frame")
                                     .arg(code)
                                     .arg(ends.count(code) ? QStringLiteral("does not end")
                                                           : QStringLiteral("ends"))));
        }
    }

    void lineModeProfile_data()
    {
        columns<QString, bool>("profile", "lineMode");
        QTest::newRow("Houillon") << QStringLiteral("Houillon") << true;
        QTest::newRow("upper case") << QStringLiteral("HOUILLON") << true;
        QTest::newRow("lower case, blanks around") << QStringLiteral("  houillon ") << true;
        QTest::newRow("tab is not a blank") << QStringLiteral("\tHouillon") << false;
        QTest::newRow("longer name") << QStringLiteral("Houillon 2") << false;
        QTest::newRow("Analex PQM") << QStringLiteral("Analex PQM") << false;
        QTest::newRow("select application") << QStringLiteral("<select application>") << false;
        QTest::newRow("empty") << QString() << false;
    }
    void lineModeProfile()
    {
        QFETCH(QString, profile);
        QFETCH(bool, lineMode);
        QCOMPARE(isLineModeProfile(profile), lineMode);
    }

    void bufferLogLine_data()
    {
        columns<qsizetype, char, QByteArray>("length", "character", "line");
        QTest::newRow("C after A, B") << qsizetype(3) << 'C' << QByteArray("Bffr[3] = [C: 67]");
        QTest::newRow("first character") << qsizetype(1) << '1' << QByteArray("Bffr[1] = [1: 49]");
        QTest::newRow("carriage return as such")
            << qsizetype(4) << '\r' << QByteArray("Bffr[4] = [\r: 13]");
        QTest::newRow("line feed as such") << qsizetype(12) << '\n'
                                           << QByteArray("Bffr[12] = [\n: 10]");
        QTest::newRow("NUL kept") << qsizetype(1) << '\0' << QByteArray("Bffr[1] = [\0: 0]", 16);
        QTest::newRow("code 255") << qsizetype(1048576) << '\xff'
                                  << QByteArray("Bffr[1048576] = [\xff: 255]");
        QTest::newRow("code 128") << qsizetype(10) << '\x80'
                                  << QByteArray("Bffr[10] = [\x80: 128]");
    }
    void bufferLogLine()
    {
        QFETCH(qsizetype, length);
        QFETCH(char, character);
        QFETCH(QByteArray, line);
        QByteArray out("left over from an earlier, much longer line");
        formatBufferLogLine(out, length, character);
        QCOMPARE(out, line);
    }
    // The pane keeps a copy of each line: formatting the next one must not change it.
    void bufferLogLineLeavesCopiesAlone()
    {
        QByteArray out;
        formatBufferLogLine(out, 1, 'a');
        const QByteArray kept = out;
        formatBufferLogLine(out, 2, 'b');
        QCOMPARE(kept, QByteArray("Bffr[1] = [a: 97]"));
        QCOMPARE(out, QByteArray("Bffr[2] = [b: 98]"));
    }

    void displayText_data()
    {
        columns<QByteArray, QByteArray>("frame", "display");
        QTest::newRow("abc CR") << QByteArray("abc\r") << QByteArray("bc");
        QTest::newRow("three characters") << QByteArray("ab\r") << QByteArray("b");
        QTest::newRow("two characters") << QByteArray("a\r") << QByteArray();
        QTest::newRow("end character alone") << QByteArray("\n") << QByteArray();
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("blanks only") << QByteArray("    ") << QByteArray();
        QTest::newRow("leading blank, two left") << QByteArray(" 7\r") << QByteArray();
        QTest::newRow("blanks then CR: negative length") << QByteArray("   \r") << QByteArray();
        // Length from the trimmed text, start at the second character of the frame itself.
        QTest::newRow("leading blank shortens") << QByteArray(" abc\r") << QByteArray("ab");
        QTest::newRow("trailing blanks shorten") << QByteArray("abcd  ") << QByteArray("bc");
        QTest::newRow("blank before CR stays") << QByteArray("ab \r") << QByteArray("b ");
        QTest::newRow("tab is not trimmed") << QByteArray("\tab\r") << QByteArray("ab");
        QTest::newRow("CR LF line") << QByteArray("xy\r\n") << QByteArray("y\r");
        QTest::newRow("byte values kept")
            << QByteArray("\x01\xff\x00\x80\x04", 5) << QByteArray("\xff\x00\x80", 3);
    }
    void displayText()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, display);
        QCOMPARE(stripFrame(frame), display);
    }

    void generalDate_data()
    {
        columns<QString, QDateTime, QString>("locale", "when", "text");
        QTest::newRow("en_US afternoon")
            << QStringLiteral("en_US") << at(14, 3, 5) << QStringLiteral("12/7/2026 2:03:05 PM");
        QTest::newRow("en_US morning, one-digit month")
            << QStringLiteral("en_US") << at(9, 4, 5, 0, QDate(2026, 1, 2))
            << QStringLiteral("1/2/2026 9:04:05 AM");
        QTest::newRow("en_US midnight")
            << QStringLiteral("en_US") << at(0, 0, 0) << QStringLiteral("12/7/2026");
        QTest::newRow("en_US midnight, within its second")
            << QStringLiteral("en_US") << at(0, 0, 0, 700) << QStringLiteral("12/7/2026");
        QTest::newRow("en_US one second after midnight")
            << QStringLiteral("en_US") << at(0, 0, 1) << QStringLiteral("12/7/2026 12:00:01 AM");
        QTest::newRow("en_US noon")
            << QStringLiteral("en_US") << at(12, 0, 0) << QStringLiteral("12/7/2026 12:00:00 PM");
        QTest::newRow("de_DE") << QStringLiteral("de_DE") << at(14, 3, 5)
                               << QStringLiteral("07.12.2026 14:03:05");
        QTest::newRow("de_DE midnight")
            << QStringLiteral("de_DE") << at(0, 0, 0) << QStringLiteral("07.12.2026");
        QTest::newRow("en_GB") << QStringLiteral("en_GB") << at(14, 3, 5)
                               << QStringLiteral("07/12/2026 14:03:05");
        // Time zone placed before the time in Qt's format: left out with its blank.
        QTest::newRow("zh_CN") << QStringLiteral("zh_CN") << at(14, 3, 5)
                               << QStringLiteral("2026/12/7 14:03:05");
        QTest::newRow("year before 2000")
            << QStringLiteral("en_US") << at(23, 59, 59, 0, QDate(1999, 12, 31))
            << QStringLiteral("12/31/1999 11:59:59 PM");
    }
    void generalDate()
    {
        QFETCH(QString, locale);
        QFETCH(QDateTime, when);
        QFETCH(QString, text);
        QCOMPARE(generalDateText(when, QLocale(locale)), text);
    }

    void recordPrefix_data()
    {
        columns<bool, QDateTime, QString, QByteArray>("includeTimestamp", "now", "source",
                                                      "prefix");
        const QDateTime t = at(14, 3, 5);
        QTest::newRow("timestamp and source")
            << true << t << QStringLiteral("S1") << QByteArray("12/7/2026 2:03:05 PM, S1,");
        QTest::newRow("timestamp only")
            << true << t << QString() << QByteArray("12/7/2026 2:03:05 PM,");
        QTest::newRow("source only") << false << t << QStringLiteral("S1") << QByteArray("S1,");
        QTest::newRow("neither") << false << t << QString() << QByteArray();
        QTest::newRow("midnight") << true << at(0, 0, 0) << QString() << QByteArray("12/7/2026,");
        QTest::newRow("source with inner blank")
            << false << t << QStringLiteral("bench 2") << QByteArray("bench 2,");
        QTest::newRow("Latin-1 source")
            << false << t << QStringLiteral("M\u00fcller") << QByteArray("M\xfcller,");
    }
    void recordPrefix()
    {
        QFETCH(bool, includeTimestamp);
        QFETCH(QDateTime, now);
        QFETCH(QString, source);
        QFETCH(QByteArray, prefix);
        QCOMPARE(::recordPrefix(includeTimestamp, now, source, QLocale(QStringLiteral("en_US"))),
                 prefix);
    }

    void wholeSeconds_data()
    {
        columns<QDateTime, QDateTime, qint64, bool>("from", "to", "seconds", "active");
        QTest::newRow("across a second boundary")
            << at(12, 0, 0, 900) << at(12, 0, 1, 100) << qint64(1) << false;
        QTest::newRow("within one second")
            << at(12, 0, 0, 100) << at(12, 0, 0, 999) << qint64(0) << true;
        QTest::newRow("same instant")
            << at(12, 0, 0, 500) << at(12, 0, 0, 500) << qint64(0) << true;
        QTest::newRow("two boundaries")
            << at(12, 0, 0, 999) << at(12, 0, 2, 0) << qint64(2) << false;
        QTest::newRow("clock set back")
            << at(12, 0, 1, 100) << at(12, 0, 0, 900) << qint64(-1) << true;
        QTest::newRow("next minute") << at(12, 0, 59, 999) << at(12, 1, 0, 0) << qint64(1) << false;
        // Instants before 1970: seconds still cut at the calendar second, not towards zero.
        QTest::newRow("around 1970 in UTC")
            << QDateTime(QDate(1969, 12, 31), QTime(23, 59, 59, 500), Qt::UTC)
            << QDateTime(QDate(1970, 1, 1), QTime(0, 0, 0, 200), Qt::UTC) << qint64(1) << false;
        QTest::newRow("within a second before 1970")
            << QDateTime(QDate(1969, 12, 31), QTime(23, 59, 58, 100), Qt::UTC)
            << QDateTime(QDate(1969, 12, 31), QTime(23, 59, 58, 900), Qt::UTC) << qint64(0) << true;
        QTest::newRow("from the zero date")
            << QDateTime(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC)
            << QDateTime(QDate(1899, 12, 31), QTime(0, 0), Qt::UTC) << qint64(86400) << false;
        QTest::newRow("UTC and local time agree")
            << at(12, 0, 0, 900).toUTC() << at(12, 0, 1, 100) << qint64(1) << false;
    }
    void wholeSeconds()
    {
        QFETCH(QDateTime, from);
        QFETCH(QDateTime, to);
        QFETCH(qint64, seconds);
        QFETCH(bool, active);
        QCOMPARE(wholeSecondsBetween(from, to), seconds);
        QCOMPARE(showsActivity(wholeSecondsBetween(from, to)), active);
    }
};

QTEST_GUILESS_MAIN(TestReceiveRules)
#include "tst_receiverules.moc"
