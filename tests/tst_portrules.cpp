#include "port/portmapping.h"
#include "port/portrules.h"
#include "support/tables.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestPortRules : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void portNumberText_data()
    {
        columns<QString, QString>("listText", "expected");
        QTest::newRow("COM 3") << QStringLiteral("COM 3") << QStringLiteral("3");
        QTest::newRow("COM 7 typed") << QStringLiteral("COM 7") << QStringLiteral("7");
        QTest::newRow("COM 12 keeps fifth only") << QStringLiteral("COM 12") << QStringLiteral("1");
        QTest::newRow("COM7 too short") << QStringLiteral("COM7") << QString();
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("five blanks") << QStringLiteral("     ") << QStringLiteral(" ");
    }
    void portNumberText()
    {
        QFETCH(QString, listText);
        QFETCH(QString, expected);
        QCOMPARE(::portNumberText(listText), expected);
    }

    void portNumberFromText_data()
    {
        // expected: -1: no number
        columns<QString, int>("text", "expected");
        QTest::newRow("digit") << QStringLiteral("7") << 7;
        QTest::newRow("zero") << QStringLiteral("0") << 0;
        QTest::newRow("largest") << QStringLiteral("32767") << 32767;
        QTest::newRow("overflow") << QStringLiteral("32768") << -1;
        QTest::newRow("empty") << QString() << -1;
        QTest::newRow("blank") << QStringLiteral(" ") << -1;
        QTest::newRow("letter") << QStringLiteral("x") << -1;
        QTest::newRow("minus") << QStringLiteral("-1") << -1;
        QTest::newRow("plus") << QStringLiteral("+1") << -1;
        QTest::newRow("arabic-indic digit") << QStringLiteral("\u0663") << -1;
    }
    void portNumberFromText()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        const std::optional<qint16> n = ::portNumberFromText(text);
        QCOMPARE(n ? int(*n) : -1, expected);
    }

    void settings_data()
    {
        columns<QString, bool, int, int, int, int>("text", "valid", "baud", "parity", "dataBits",
                                                   "stopBits");
        const int N = int(Parity::None), E = int(Parity::Even), O = int(Parity::Odd),
                  M = int(Parity::Mark), S = int(Parity::Space);
        const int one = int(StopBits::One), half = int(StopBits::OneAndHalf),
                  two = int(StopBits::Two);
        QTest::newRow("default") << QStringLiteral("9600,n,8,1") << true << 9600 << N << 8 << one;
        QTest::newRow("upper parity")
            << QStringLiteral("19200,E,7,2") << true << 19200 << E << 7 << two;
        QTest::newRow("odd 1.5") << QStringLiteral("300,o,5,1.5") << true << 300 << O << 5 << half;
        QTest::newRow("mark") << QStringLiteral("3000000,m,8,1") << true << 3000000 << M << 8
                              << one;
        QTest::newRow("space custom baud")
            << QStringLiteral("12345,s,6,1") << true << 12345 << S << 6 << one;
        QTest::newRow("blanks in fields")
            << QStringLiteral(" 9600 , n , 8 , 1 ") << true << 9600 << N << 8 << one;
        QTest::newRow("empty") << QString() << false << 0 << 0 << 0 << 0;
        QTest::newRow("blanks only") << QStringLiteral("   ") << false << 0 << 0 << 0 << 0;
        QTest::newRow("three fields") << QStringLiteral("9600,n,8") << false << 0 << 0 << 0 << 0;
        QTest::newRow("five fields") << QStringLiteral("9600,n,8,1,1") << false << 0 << 0 << 0 << 0;
        QTest::newRow("zero baud") << QStringLiteral("0,n,8,1") << false << 0 << 0 << 0 << 0;
        QTest::newRow("negative baud")
            << QStringLiteral("-9600,n,8,1") << false << 0 << 0 << 0 << 0;
        QTest::newRow("baud overflow")
            << QStringLiteral("99999999999,n,8,1") << false << 0 << 0 << 0 << 0;
        QTest::newRow("baud with letters")
            << QStringLiteral("96k,n,8,1") << false << 0 << 0 << 0 << 0;
        QTest::newRow("parity x") << QStringLiteral("9600,x,8,1") << false << 0 << 0 << 0 << 0;
        QTest::newRow("parity word")
            << QStringLiteral("9600,none,8,1") << false << 0 << 0 << 0 << 0;
        QTest::newRow("data 4") << QStringLiteral("9600,n,4,1") << false << 0 << 0 << 0 << 0;
        QTest::newRow("data 9") << QStringLiteral("9600,n,9,1") << false << 0 << 0 << 0 << 0;
        QTest::newRow("stop 3") << QStringLiteral("9600,n,8,3") << false << 0 << 0 << 0 << 0;
        QTest::newRow("stop 1.0") << QStringLiteral("9600,n,8,1.0") << false << 0 << 0 << 0 << 0;
        QTest::newRow("semicolons") << QStringLiteral("9600;n;8;1") << false << 0 << 0 << 0 << 0;
        QTest::newRow("garbage bytes")
            << QString::fromLatin1("\x01\xff,\x00,8,1", 9) << false << 0 << 0 << 0 << 0;
    }
    void settings()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        const std::optional<LineSettings> s = parseSettings(text);
        QCOMPARE(s.has_value(), valid);
        if (!valid)
            return;
        QFETCH(int, baud);
        QFETCH(int, parity);
        QFETCH(int, dataBits);
        QFETCH(int, stopBits);
        QCOMPARE(s->baudRate, baud);
        QCOMPARE(int(s->parity), parity);
        QCOMPARE(s->dataBits, dataBits);
        QCOMPARE(int(s->stopBits), stopBits);
    }

    void deviceForPort()
    {
        QTemporaryDir config;
        QVERIFY(config.isValid());
        QVERIFY(QDir(config.path()).mkpath(QStringLiteral("commtest/ports")));
        const QString ports = config.path() + QStringLiteral("/commtest/ports/");
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), ports + QStringLiteral("com4")));
        QVERIFY(QFile::link(ports + QStringLiteral("nowhere"), ports + QStringLiteral("com9")));

        QCOMPARE(::deviceForPort(4, config.path()), ports + QStringLiteral("com4"));
        // A dangling entry is still the operator's mapping; its open will fail.
        QCOMPARE(::deviceForPort(9, config.path()), ports + QStringLiteral("com9"));
        QCOMPARE(::deviceForPort(3, config.path()), QStringLiteral("/dev/ttyS2"));
        QCOMPARE(::deviceForPort(1, config.path()), QStringLiteral("/dev/ttyS0"));
        QVERIFY(::deviceForPort(0, config.path()).isEmpty());
        QVERIFY(::deviceForPort(-3, config.path()).isEmpty());
    }

    void configHomeFromEnvironment()
    {
        const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", "/tmp/somewhere");
        QCOMPARE(userConfigHome(), QStringLiteral("/tmp/somewhere"));
        qputenv("XDG_CONFIG_HOME", "");
        QCOMPARE(userConfigHome(), QDir::homePath() + QStringLiteral("/.config"));
        qputenv("XDG_CONFIG_HOME", saved);
    }
};

QTEST_GUILESS_MAIN(TestPortRules)
#include "tst_portrules.moc"
