// COM-PORT-OPTION commands and replies, and the port URL of a network port.
#include "port/rfc2217.h"
#include "support/tables.h"

#include <QTest>

using namespace Rfc2217;

Q_DECLARE_METATYPE(PortUrl)

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

} // namespace

class TestRfc2217 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void encode_data()
    {
        columns<QByteArray, QByteArray>("payload", "expected");
        QTest::newRow("baud 115200") << setBaudRate(115200) << bytes({1, 0, 1, 0xc2, 0});
        QTest::newRow("baud with 255 byte")
            << setBaudRate(0x00ff00ff) << bytes({1, 0, 255, 0, 255});
        QTest::newRow("7 data bits") << setDataSize(7) << bytes({2, 7});
        QTest::newRow("parity none") << setParity(Parity::None) << bytes({3, 1});
        QTest::newRow("parity odd") << setParity(Parity::Odd) << bytes({3, 2});
        QTest::newRow("parity even") << setParity(Parity::Even) << bytes({3, 3});
        QTest::newRow("parity mark") << setParity(Parity::Mark) << bytes({3, 4});
        QTest::newRow("parity space") << setParity(Parity::Space) << bytes({3, 5});
        QTest::newRow("1 stop") << setStopSize(StopBits::One) << bytes({4, 1});
        QTest::newRow("2 stop") << setStopSize(StopBits::Two) << bytes({4, 2});
        QTest::newRow("1.5 stop") << setStopSize(StopBits::OneAndHalf) << bytes({4, 3});
        QTest::newRow("break on") << setControl(Control::BreakOn) << bytes({5, 5});
        QTest::newRow("handshaking 0") << setControl(flowControlFor(0)) << bytes({5, 1});
        QTest::newRow("handshaking 1") << setControl(flowControlFor(1)) << bytes({5, 2});
        QTest::newRow("handshaking 2") << setControl(flowControlFor(2)) << bytes({5, 3});
        QTest::newRow("handshaking 3") << setControl(flowControlFor(3)) << bytes({5, 3});
        QTest::newRow("modem mask") << setModemStateMask(0xb0) << bytes({11, 0xb0});
        QTest::newRow("purge both") << purgeData(Purge::Both) << bytes({12, 3});
    }
    void encode()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QByteArray, expected);
        QCOMPARE(payload, expected);
    }

    void decodeReply_data()
    {
        // command: -1: not a reply
        // reason: start of the reason when not a reply
        columns<QByteArray, int, uint, QString>("payload", "command", "value", "reason");

        QTest::newRow("baud") << bytes({101, 0, 1, 0xc2, 0}) << 1 << 115200u << QString();
        QTest::newRow("baud short") << bytes({101, 0, 1}) << -1 << 0u
                                    << QStringLiteral("COM-PORT-OPTION reply 101 has 2 value");
        QTest::newRow("baud zero")
            << bytes({101, 0, 0, 0, 0}) << -1 << 0u << QStringLiteral("Baud rate 0 out of range");
        QTest::newRow("baud over 31 bits")
            << bytes({101, 0x80, 0, 0, 0}) << -1 << 0u << QStringLiteral("Baud rate");
        QTest::newRow("data size 7") << bytes({102, 7}) << 2 << 7u << QString();
        QTest::newRow("data size 9")
            << bytes({102, 9}) << -1 << 0u << QStringLiteral("Data size 9");
        QTest::newRow("parity even") << bytes({103, 3}) << 3 << 3u << QString();
        QTest::newRow("parity 0") << bytes({103, 0}) << -1 << 0u << QStringLiteral("Parity 0");
        QTest::newRow("stop 1.5") << bytes({104, 3}) << 4 << 3u << QString();
        QTest::newRow("stop 4") << bytes({104, 4}) << -1 << 0u << QStringLiteral("Stop size 4");
        QTest::newRow("control") << bytes({105, 5}) << 5 << 5u << QString();
        QTest::newRow("control 20") << bytes({105, 20}) << -1 << 0u << QStringLiteral("Control 20");
        QTest::newRow("control two bytes")
            << bytes({105, 5, 6}) << -1 << 0u << QStringLiteral("COM-PORT-OPTION reply 105 has 2");
        QTest::newRow("modem state") << bytes({107, 0xb3}) << 7 << 0xb3u << QString();
        QTest::newRow("line state") << bytes({106, 0x10}) << 6 << 0x10u << QString();
        QTest::newRow("purge") << bytes({112, 3}) << 12 << 3u << QString();
        QTest::newRow("signature") << QByteArray("\x64ser2net") << 0 << 0u << QString();
        QTest::newRow("client command") << bytes({1, 0, 0, 37, 128}) << -1 << 0u
                                        << QStringLiteral("Unknown COM-PORT-OPTION reply 1");
        QTest::newRow("past the last")
            << bytes({113, 0}) << -1 << 0u << QStringLiteral("Unknown COM-PORT-OPTION reply 113");
        QTest::newRow("empty") << QByteArray() << -1 << 0u << QStringLiteral("Empty");
        QTest::newRow("no value") << bytes({107}) << -1 << 0u
                                  << QStringLiteral("COM-PORT-OPTION reply 107 has 0");
    }
    void decodeReply()
    {
        QFETCH(QByteArray, payload);
        QFETCH(int, command);
        QFETCH(uint, value);
        QFETCH(QString, reason);
        const auto decoded = Rfc2217::decodeReply(payload);
        if (command < 0) {
            QVERIFY(std::holds_alternative<QString>(decoded));
            QVERIFY2(std::get<QString>(decoded).startsWith(reason),
                     qPrintable(std::get<QString>(decoded)));
            return;
        }
        QVERIFY(std::holds_alternative<Reply>(decoded));
        const Reply &r = std::get<Reply>(decoded);
        QCOMPARE(int(r.command), command);
        QCOMPARE(r.value, value);
        if (r.command == Command::SetParity)
            QCOMPARE(r.parity, std::optional<Parity>(Parity::Even));
        if (r.command == Command::SetStopSize)
            QCOMPARE(r.stopBits, std::optional<StopBits>(StopBits::OneAndHalf));
        if (r.command == Command::Signature)
            QCOMPARE(r.text, QByteArray("ser2net"));
    }

    void parsePortUrl_data()
    {
        // expected: the URL written back, or the reason
        columns<QString, QString>("line", "expected");
        QTest::newRow("rfc2217") << QStringLiteral("rfc2217://lab-pi:2001")
                                 << QStringLiteral("rfc2217://lab-pi:2001");
        QTest::newRow("tcp, upper-case scheme, blanks")
            << QStringLiteral("  TCP://10.0.0.7:2002/ \r") << QStringLiteral("tcp://10.0.0.7:2002");
        QTest::newRow("IPv6") << QStringLiteral("rfc2217://[::1]:65535")
                              << QStringLiteral("rfc2217://[::1]:65535");
        QTest::newRow("empty") << QString()
                               << QStringLiteral("No port URL: expected rfc2217://host:port or "
                                                 "tcp://host:port (+tls after rfc2217 or tcp "
                                                 "for TLS)");
        QTest::newRow("garbage") << QStringLiteral("hello")
                                 << QStringLiteral("Not a port URL: \"hello\"; expected "
                                                   "rfc2217://host:port or tcp://host:port (+tls "
                                                   "after rfc2217 or tcp for TLS)");
        QTest::newRow("other scheme") << QStringLiteral("telnet://a:1")
                                      << QStringLiteral("Not a port URL: \"telnet://a:1\"; "
                                                        "expected rfc2217://host:port or "
                                                        "tcp://host:port (+tls after rfc2217 "
                                                        "or tcp for TLS)");
        QTest::newRow("missing port") << QStringLiteral("tcp://lab-pi")
                                      << QStringLiteral("No port number in \"tcp://lab-pi\"");
        QTest::newRow("empty port") << QStringLiteral("tcp://lab-pi:")
                                    << QStringLiteral("No port number in \"tcp://lab-pi:\"");
        QTest::newRow("port 0") << QStringLiteral("tcp://h:0")
                                << QStringLiteral("Port number out of range (1 to 65535) in "
                                                  "\"tcp://h:0\"");
        QTest::newRow("port 65536") << QStringLiteral("tcp://h:65536")
                                    << QStringLiteral("Port number out of range (1 to 65535) in "
                                                      "\"tcp://h:65536\"");
        QTest::newRow("huge port") << QStringLiteral("tcp://h:99999999999999999999")
                                   << QStringLiteral("Port number out of range (1 to 65535) in "
                                                     "\"tcp://h:99999999999999999999\"");
        QTest::newRow("letters in port")
            << QStringLiteral("tcp://h:20a1")
            << QStringLiteral("Invalid port number in \"tcp://h:20a1\"");
        QTest::newRow("no host") << QStringLiteral("tcp://:2001")
                                 << QStringLiteral("Invalid host in \"tcp://:2001\"");
        QTest::newRow("path after port") << QStringLiteral("tcp://h:2001/x")
                                         << QStringLiteral("Invalid port number in "
                                                           "\"tcp://h:2001/x\"");
        QTest::newRow("space in host")
            << QStringLiteral("tcp://a b:1") << QStringLiteral("Invalid host in \"tcp://a b:1\"");
        QTest::newRow("unclosed IPv6") << QStringLiteral("tcp://[::1:20")
                                       << QStringLiteral("Invalid host in \"tcp://[::1:20\": no "
                                                         "closing ]");
    }
    void parsePortUrl()
    {
        QFETCH(QString, line);
        QFETCH(QString, expected);
        const auto parsed = ::parsePortUrl(line);
        if (const auto *url = std::get_if<PortUrl>(&parsed))
            QCOMPARE(portUrlText(*url), expected);
        else
            QCOMPARE(std::get<QString>(parsed), expected);
    }
};

QTEST_APPLESS_MAIN(TestRfc2217)
#include "tst_rfc2217.moc"
