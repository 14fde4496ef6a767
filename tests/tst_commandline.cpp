// The command line as a value, and the port queries it answers (--list, --device-for)
// against a private ports folder: local devices on a pty, network entries on a local server.
#include "app/commandline.h"
#include "app/portqueries.h"
#include "support/fakedevicediscovery.h"
#include "support/pty.h"
#include "support/tables.h"

#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpServer>
#include <QTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(CommandLine::Action)

namespace {

const QString kUsage = usageText();

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void acceptedArguments_data()
    {
        columns<QStringList, CommandLine::Action, int, QString>("arguments", "action", "port",
                                                                "settings");
        using A = CommandLine::Action;
        QTest::newRow("none: the window as always") << QStringList{} << A::Window << 0 << QString();
        QTest::newRow("--port N") << QStringList{u"--port"_s, u"5"_s} << A::Window << 5
                                  << QString();
        QTest::newRow("--port=N") << QStringList{u"--port=12"_s} << A::Window << 12 << QString();
        QTest::newRow("--port highest")
            << QStringList{u"--port"_s, u"32767"_s} << A::Window << 32767 << QString();
        QTest::newRow("--port twice: the last")
            << QStringList{u"--port"_s, u"2"_s, u"--port=3"_s} << A::Window << 3 << QString();
        QTest::newRow("--settings")
            << QStringList{u"--settings"_s, u"19200,E,7,2"_s} << A::Window << 0 << u"19200,E,7,2"_s;
        QTest::newRow("--settings= with blanks kept")
            << QStringList{u"--settings= 4800, n, 8, 1.5"_s} << A::Window << 0
            << u" 4800, n, 8, 1.5"_s;
        QTest::newRow("both") << QStringList{u"--settings"_s, u"9600,n,8,1"_s, u"--port"_s, u"7"_s}
                              << A::Window << 7 << u"9600,n,8,1"_s;
        QTest::newRow("--list") << QStringList{u"--list"_s} << A::List << 0 << QString();
        QTest::newRow("--device-for N")
            << QStringList{u"--device-for"_s, u"4"_s} << A::DeviceFor << 4 << QString();
        QTest::newRow("--device-for=N")
            << QStringList{u"--device-for=9"_s} << A::DeviceFor << 9 << QString();
        QTest::newRow("Qt's options pass")
            << QStringList{u"-platform"_s, u"offscreen"_s, u"-style=Fusion"_s,
                           u"-reverse"_s,  u"--port"_s,    u"6"_s}
            << A::Window << 6 << QString();
    }
    void acceptedArguments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(CommandLine::Action, action);
        QFETCH(int, port);
        QFETCH(QString, settings);
        const auto parsed = parseCommandLine(arguments);
        const auto *line = std::get_if<CommandLine>(&parsed);
        QVERIFY2(line, line ? "" : qPrintable(std::get<CommandLineExit>(parsed).text));
        CommandLine expected{action, std::nullopt, std::nullopt};
        if (port)
            expected.port = qint16(port);
        if (!settings.isNull())
            expected.settings = settings;
        QVERIFY(*line == expected);
    }

    void answeredArguments_data()
    {
        // message: what the first line says after "commtest: " (errors), or the whole text.
        columns<QStringList, int, QString>("arguments", "status", "message");
        QTest::newRow("--help") << QStringList{u"--help"_s} << 0 << helpText();
        QTest::newRow("-h") << QStringList{u"-h"_s} << 0 << helpText();
        QTest::newRow("--help after options")
            << QStringList{u"--port"_s, u"5"_s, u"--help"_s} << 0 << helpText();
        QTest::newRow("--version")
            << QStringList{u"--version"_s} << 0 << u"commtest " COMMTEST_PROJECT_VERSION "\n"_s;
        QTest::newRow("unknown option")
            << QStringList{u"--bogus"_s} << 2 << u"unknown option '--bogus'"_s;
        QTest::newRow("unknown option with value")
            << QStringList{u"--bogus=1"_s} << 2 << u"unknown option '--bogus'"_s;
        QTest::newRow("unknown short option")
            << QStringList{u"-x"_s} << 2 << u"unknown option '-x'"_s;
        QTest::newRow("a bare argument")
            << QStringList{u"COM 4"_s} << 2 << u"unexpected argument 'COM 4'"_s;
        QTest::newRow("--port without value")
            << QStringList{u"--port"_s} << 2 << u"option '--port' needs a value"_s;
        QTest::newRow("--settings without value")
            << QStringList{u"--port"_s, u"5"_s, u"--settings"_s} << 2
            << u"option '--settings' needs a value"_s;
        QTest::newRow("--device-for without value")
            << QStringList{u"--device-for"_s} << 2 << u"option '--device-for' needs a value"_s;
        QTest::newRow("Qt option without value")
            << QStringList{u"-platform"_s} << 2 << u"option '-platform' needs a value"_s;
        QTest::newRow("--port 0") << QStringList{u"--port"_s, u"0"_s} << 2
                                  << u"--port needs a port number from 1 to 32767, not '0'"_s;
        QTest::newRow("--port -1") << QStringList{u"--port"_s, u"-1"_s} << 2
                                   << u"--port needs a port number from 1 to 32767, not '-1'"_s;
        QTest::newRow("--port 32768")
            << QStringList{u"--port=32768"_s} << 2
            << u"--port needs a port number from 1 to 32767, not '32768'"_s;
        QTest::newRow("--port COM5") << QStringList{u"--port"_s, u"COM5"_s} << 2
                                     << u"--port needs a port number from 1 to 32767, not 'COM5'"_s;
        QTest::newRow("--port empty") << QStringList{u"--port="_s} << 2
                                      << u"--port needs a port number from 1 to 32767, not ''"_s;
        QTest::newRow("--device-for x")
            << QStringList{u"--device-for"_s, u"x"_s} << 2
            << u"--device-for needs a port number from 1 to 32767, not 'x'"_s;
        for (const QString &bad :
             {u"9600,q,8,1"_s, u"9600,n,9,1"_s, u"0,n,8,1"_s, u""_s, u"9600,n,8"_s}) {
            QTest::addRow("--settings '%s'", qPrintable(bad))
                << QStringList{u"--settings"_s, bad} << 2
                << u"--settings: '"_s + bad +
                       u"' is not a settings text (baud,parity,data,stop, e.g. 9600,n,8,1)"_s;
        }
        QTest::newRow("--list with a value")
            << QStringList{u"--list=all"_s} << 2 << u"option '--list' takes no value"_s;
        QTest::newRow("--list and --device-for")
            << QStringList{u"--list"_s, u"--device-for"_s, u"2"_s} << 2
            << u"only one of --list and --device-for"_s;
        QTest::newRow("--list with --port")
            << QStringList{u"--port"_s, u"4"_s, u"--list"_s} << 2
            << u"--port and --settings are for the window, not for --list or --device-for"_s;
        QTest::newRow("--device-for with --settings")
            << QStringList{u"--device-for"_s, u"4"_s, u"--settings"_s, u"9600,n,8,1"_s} << 2
            << u"--port and --settings are for the window, not for --list or --device-for"_s;
    }
    void answeredArguments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, message);
        const auto parsed = parseCommandLine(arguments);
        const auto *exit = std::get_if<CommandLineExit>(&parsed);
        QVERIFY(exit);
        QCOMPARE(exit->status, status);
        if (status == 0)
            QCOMPARE(exit->text, message);
        else // the reason, then the usage
            QCOMPARE(exit->text, u"commtest: "_s + message + u'\n' + kUsage);
    }

    // The help names every option the parser takes.
    void helpNamesEveryOption()
    {
        for (const char *option : {"--port N", "--settings TEXT", "--list", "--device-for N",
                                   "--help", "--version", "SIGUSR2", "SIGUSR1"})
            QVERIFY2(helpText().contains(QLatin1String(option)), option);
    }

    // Entries by port number, each with what it maps to or why it does not open; entries
    // no port is looked up by are left out; then the devices attached now.
    void listShowsEntriesThenDevices()
    {
        PortMap map;
        Pty pty;
        QVERIFY(pty.isValid());
        const QString ports = map.path() + u"/commtest/ports/"_s;
        QVERIFY(map.map(10, pty.slavePath()));
        QVERIFY(map.map(2, pty.slavePath()));
        QVERIFY(map.map(3, map.path() + u"/gone"_s));
        QVERIFY(writeFile(ports + u"com6"_s, "tcp://127.0.0.1:2002\n"));
        QVERIFY(QDir().mkdir(ports + u"com7"_s));
        QVERIFY(writeFile(ports + u"com04"_s, "tcp://127.0.0.1:1\n"));
        QVERIFY(writeFile(ports + u"notes"_s, "not an entry\n"));
        QVERIFY(writeFile(ports + u"com0"_s, "tcp://127.0.0.1:1\n"));

        const QueryAnswer answer = listPorts(map.path(), {kFtdiAdapter});
        QCOMPARE(answer.status, 0);
        QCOMPARE(answer.err, QString());
        const QStringList lines = answer.out.split(u'\n');
        QCOMPARE(lines.size(), 7); // six lines and the empty rest after the last newline
        QCOMPARE(lines[0], u"COM 2 → "_s + pty.slavePath());
        QVERIFY2(lines[1].startsWith(u"COM 3 → "_s + map.path() + u"/gone: "_s),
                 qPrintable(lines[1]));
        QCOMPARE(lines[2], u"COM 6 → network port tcp://127.0.0.1:2002"_s);
        QVERIFY2(lines[3].startsWith(u"COM 7 → "_s) && lines[3].contains(u": "_s),
                 qPrintable(lines[3]));
        QCOMPARE(lines[4], u"COM 10 → "_s + pty.slavePath());
        QCOMPARE(lines[5], u"/dev/ttyUSB0: /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-"
                           u"port0, FT232R USB UART, FTDI, serial A1B2C3, USB 0403:6001"_s);
        QCOMPARE(lines[6], QString());
    }

    void listWithNothingSaysSo()
    {
        PortMap map;
        const QueryAnswer answer = listPorts(map.path(), {});
        QCOMPARE(answer.status, 0);
        QCOMPARE(answer.out, QString());
        QVERIFY2(answer.err.contains(map.path() + u"/commtest/ports"_s), qPrintable(answer.err));
    }

    // As the window opens it: a device entry as a device, a network entry over the network.
    void deviceForOpensAsTheWindowDoes_data()
    {
        columns<QString, int>("entry", "status");
        QTest::newRow("link to a pty") << u"pty"_s << 0;
        QTest::newRow("link to nothing") << u"missing"_s << 1;
        QTest::newRow("tcp:// to a listening server") << u"server"_s << 0;
        QTest::newRow("tcp:// where no server listens") << u"no server"_s << 1;
    }
    void deviceForOpensAsTheWindowDoes()
    {
        QFETCH(QString, entry);
        QFETCH(int, status);
        PortMap map;
        Pty pty;
        QTcpServer server;
        QVERIFY(pty.isValid());
        QVERIFY(server.listen(QHostAddress::LocalHost));
        const QString path = map.path() + u"/commtest/ports/com6"_s;
        const QString url = u"tcp://127.0.0.1:"_s + QString::number(server.serverPort());
        QString device;
        if (entry == u"pty") {
            QVERIFY(map.map(6, pty.slavePath()));
            device = QFileInfo(pty.slavePath()).canonicalFilePath();
        } else if (entry == u"missing") {
            QVERIFY(map.map(6, map.path() + u"/gone"_s));
            device = map.path() + u"/gone"_s;
        } else {
            if (entry == u"no server")
                server.close(); // the port number is now one nobody listens on
            QVERIFY(writeFile(path, url.toUtf8() + '\n'));
            device = url;
        }

        const QueryAnswer answer = deviceFor(6);
        QCOMPARE(answer.status, status);
        QCOMPARE(answer.out, device + u"\nmapped in "_s + path + u'\n');
        QCOMPARE(answer.err.isEmpty(), status == 0);
        if (entry == u"server")
            QVERIFY(server.hasPendingConnections() || server.waitForNewConnection(5000));
        if (entry == u"missing")
            QVERIFY2(answer.err.startsWith(u"No such device"_s), qPrintable(answer.err));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
