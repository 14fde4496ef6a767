// The bytes a typed command becomes: the suffix rule and the character check.
#include "support/tables.h"
#include "transmit/commandframing.h"

#include <QTest>

namespace {

QByteArray hex(const char *h)
{
    return QByteArray::fromHex(h);
}

const QString kSuffixes[] = {
    QStringLiteral("<select suffix>"), QStringLiteral("CrLf"),  QStringLiteral("EOL"),
    QStringLiteral("<STX>/<EOT>"),     QStringLiteral("<SYN>"), QStringLiteral("<CR><LF>")};

} // namespace

class TestTransmitFraming : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void frameCommand_data()
    {
        columns<QByteArray, QString, QByteArray>("command", "suffix", "wire");

        const QByteArray abc("abc");
        QTest::newRow("abc, none") << abc << kSuffixes[0] << hex("616263");
        QTest::newRow("abc, CrLf") << abc << kSuffixes[1] << hex("6162630d0a");
        QTest::newRow("abc, EOL") << abc << kSuffixes[2] << hex("6162630a");
        QTest::newRow("abc, STX/EOT") << abc << kSuffixes[3] << hex("0261626304");
        QTest::newRow("abc, SYN") << abc << kSuffixes[4] << hex("021004");
        QTest::newRow("abc, CR LF entry") << abc << kSuffixes[5] << hex("6162630d0a");

        const QByteArray spaced(" abc ");
        QTest::newRow("spaced, STX/EOT trims") << spaced << kSuffixes[3] << hex("0261626304");
        QTest::newRow("spaced, CrLf keeps") << spaced << kSuffixes[1] << hex("20616263200d0a");
        QTest::newRow("spaced, none keeps") << spaced << kSuffixes[0] << hex("2061626320");
        QTest::newRow("many spaces, STX/EOT trims all")
            << QByteArray("   a b   ") << kSuffixes[3] << hex("0261206204");

        QTest::newRow("empty, none") << QByteArray() << kSuffixes[0] << QByteArray();
        QTest::newRow("empty, CrLf") << QByteArray() << kSuffixes[1] << hex("0d0a");
        QTest::newRow("empty, EOL") << QByteArray() << kSuffixes[2] << hex("0a");
        QTest::newRow("empty, STX/EOT") << QByteArray() << kSuffixes[3] << hex("0204");
        QTest::newRow("empty, SYN") << QByteArray() << kSuffixes[4] << hex("021004");
        QTest::newRow("empty, CR LF entry") << QByteArray() << kSuffixes[5] << hex("0d0a");

        QTest::newRow("spaces only, STX/EOT") << QByteArray("    ") << kSuffixes[3] << hex("0204");
        QTest::newRow("spaces only, none") << QByteArray("  ") << kSuffixes[0] << hex("2020");

        // Only code 32 is a blank.
        QTest::newRow("tabs, STX/EOT keeps")
            << QByteArray("\tabc\t") << kSuffixes[3] << hex("02096162630904");
        QTest::newRow("CR LF at the ends, STX/EOT keeps")
            << QByteArray("\rabc\n") << kSuffixes[3] << hex("020d6162630a04");
        QTest::newRow("no-break space, STX/EOT keeps") << QByteArray("\xa0"
                                                                     "abc")
                                                       << kSuffixes[3] << hex("02a061626304");

        QTest::newRow("SYN drops any command")
            << QByteArray("\x02\x10\x04 long command") << kSuffixes[4] << hex("021004");

        // Entry texts are compared exactly.
        QTest::newRow("crlf in lower case") << abc << QStringLiteral("crlf") << abc;
        QTest::newRow("CrLf with a trailing blank") << abc << QStringLiteral("CrLf ") << abc;
        QTest::newRow("no selection") << abc << QString() << abc;

        const QByteArray all = allByteValues();
        QTest::newRow("all bytes, none") << all << kSuffixes[0] << all;
        QTest::newRow("all bytes, CrLf") << all << kSuffixes[1] << all + "\r\n";
        QTest::newRow("all bytes, EOL") << all << kSuffixes[2] << all + '\n';
        // Byte 32 is not at either end, so nothing is trimmed.
        QTest::newRow("all bytes, STX/EOT") << all << kSuffixes[3] << '\x02' + all + '\x04';
        QTest::newRow("all bytes, SYN") << all << kSuffixes[4] << hex("021004");
        QTest::newRow("all bytes, CR LF entry") << all << kSuffixes[5] << all + "\r\n";
    }
    void frameCommand()
    {
        QFETCH(QByteArray, command);
        QFETCH(QString, suffix);
        QFETCH(QByteArray, wire);
        QCOMPARE(::frameCommand(command, suffix).toHex(' '), wire.toHex(' '));
    }

    void commandBytes_data()
    {
        // named: part of the error text when refused
        columns<QString, bool, QByteArray, QString>("text", "sendable", "bytes", "named");

        QTest::newRow("empty") << QString() << true << QByteArray() << QString();
        QTest::newRow("ascii") << QStringLiteral("abc") << true << QByteArray("abc") << QString();
        QTest::newRow("all 256 codes")
            << QString::fromLatin1(allByteValues()) << true << allByteValues() << QString();
        QTest::newRow("latin-1 letters")
            << QString::fromUtf8("\xc3\xa9\xc3\xbf") << true << QByteArray("\xe9\xff") << QString();
        QTest::newRow("euro sign") << QString::fromUtf8("ab\xe2\x82\xac") << false << QByteArray()
                                   << QStringLiteral("character 3 (U+20AC)");
        QTest::newRow("code 256") << QString(QChar(0x100)) << false << QByteArray()
                                  << QStringLiteral("character 1 (U+0100)");
        QTest::newRow("outside the BMP") << QString::fromUtf8("a\xf0\x9f\x98\x80z") << false
                                         << QByteArray() << QStringLiteral("character 2 (U+1F600)");
        QTest::newRow("after a pair, counted once")
            << QString::fromUtf8("\xf0\x9f\x98\x80\xe2\x82\xac") << false << QByteArray()
            << QStringLiteral("character 1 (U+1F600)");
        QTest::newRow("lone surrogate") << QString(QChar(0xD800)) << false << QByteArray()
                                        << QStringLiteral("character 1 (U+D800)");
    }
    void commandBytes()
    {
        QFETCH(QString, text);
        QFETCH(bool, sendable);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, named);

        QString error;
        const std::optional<QByteArray> got = ::commandBytes(text, &error);
        QCOMPARE(got.has_value(), sendable);
        if (sendable) {
            QCOMPARE(got->toHex(' '), bytes.toHex(' '));
            QVERIFY(error.isEmpty());
        } else {
            QVERIFY2(error.contains(named), qPrintable(error));
            QVERIFY2(error.contains(QStringLiteral("not sent")), qPrintable(error));
        }
        QCOMPARE(::commandBytes(text).has_value(), sendable); // no error text wanted
    }

    void decodeAngleCodes_data()
    {
        // bytes: empty with a position: refused
        columns<QByteArray, QByteArray, int>("typed", "bytes", "position");

        const char *names[] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                               "BS",  "HT",  "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                               "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                               "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
        for (int code = 0; code < 32; ++code) {
            const QByteArray name = QByteArray("<") + names[code] + '>';
            QTest::newRow(name.constData()) << "a" + name + "b"
                                            << "a" + QByteArray(1, char(code)) + "b" << 0;
        }
        QTest::newRow("<DEL>") << QByteArray("<DEL>") << QByteArray("\x7f") << 0;
        QTest::newRow("lower case name") << QByteArray("<stx>x<eot>") << hex("027804") << 0;
        QTest::newRow("<0>") << QByteArray("<0>") << QByteArray(1, '\0') << 0;
        QTest::newRow("<255>") << QByteArray("<255>") << hex("ff") << 0;
        QTest::newRow("hex <0x1B>") << QByteArray("<0x1B>[<0xf>") << hex("1b5b0f") << 0;
        QTest::newRow("hex <0XFF>, <0x00>") << QByteArray("<0XFF><0x00>") << hex("ff00") << 0;
        QTest::newRow("hex 3 digits") << QByteArray("<0x100>") << QByteArray() << 1;
        QTest::newRow("hex no digits") << QByteArray("a<0x>") << QByteArray() << 2;
        QTest::newRow("hex bad digit") << QByteArray("<0x1G>") << QByteArray() << 1;
        QTest::newRow("hex sign") << QByteArray("<0x+1>") << QByteArray() << 1;
        QTest::newRow("leading zeros") << QByteArray("<007>") << hex("07") << 0;
        QTest::newRow("<<") << QByteArray("a<<b") << QByteArray("a<b") << 0;
        QTest::newRow("<< then a name is text") << QByteArray("<<STX>") << QByteArray("<STX>") << 0;
        QTest::newRow("lone >") << QByteArray("a>b") << QByteArray("a>b") << 0;
        QTest::newRow("no codes") << QByteArray("READ 1") << QByteArray("READ 1") << 0;
        QTest::newRow("every byte but <")
            << QByteArray(allByteValues()).replace('<', "<<") << allByteValues() << 0;

        QTest::newRow("256") << QByteArray("ab<256>") << QByteArray() << 3;
        QTest::newRow("empty code") << QByteArray("<>") << QByteArray() << 1;
        QTest::newRow("unknown name") << QByteArray("xy<FOO>") << QByteArray() << 3;
        QTest::newRow("negative") << QByteArray("<-1>") << QByteArray() << 1;
        QTest::newRow("blank inside") << QByteArray("<STX ><CR>") << QByteArray() << 1;
        QTest::newRow("unclosed at the end") << QByteArray("abc<") << QByteArray() << 4;
        QTest::newRow("unclosed name") << QByteArray("<CR><LF") << QByteArray() << 5;
        QTest::newRow("> far away") << QByteArray("<12 and then>") << QByteArray() << 1;
        QTest::newRow("second code bad") << QByteArray("<STX>ok<ETY>") << QByteArray() << 8;
    }
    void decodeAngleCodes()
    {
        QFETCH(QByteArray, typed);
        QFETCH(QByteArray, bytes);
        QFETCH(int, position);

        QString error;
        const std::optional<QByteArray> got = ::decodeAngleCodes(typed, &error);
        QCOMPARE(got.has_value(), position == 0);
        if (got) {
            QCOMPARE(got->toHex(' '), bytes.toHex(' '));
        } else {
            const QString where = QStringLiteral("at character %1,").arg(position);
            QVERIFY2(error.contains(where), qPrintable(error));
        }
    }
};

QTEST_APPLESS_MAIN(TestTransmitFraming)
#include "tst_transmit_framing.moc"
