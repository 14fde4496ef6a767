// The serial layer over QSerialPort, through real pseudo-terminals.
//
// The test binary doubles as the second program of the exclusive-access and permission
// cases: started with --hold-commtest, --hold-flock or --open-as-nobody it runs a helper
// (see helperMain) instead of the tests.
#include "port/serialcontrol.h"
#include "support/helperprocess.h"
#include "support/pty.h"
#include "support/tables.h"
#include "support/windowport.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>

using namespace Qt::StringLiterals;

namespace {

QString canonical(const QString &path)
{
    return QFileInfo(path).canonicalFilePath();
}

// Port 1 on a pty of its own, opened as the window opens it, with a receiver attached.
struct OpenPort : PtyPort
{
    SerialControl port;
    Receiver rx;

    OpenPort()
        : PtyPort(1)
    {
        rx.attach(port);
    }
    bool open() { return ok() && openLikeTheWindow(port, 1); }
};

} // namespace

class TestSerialPty : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void openAndClose()
    {
        PtyPort p(3);
        QVERIFY(p.ok());
        SerialControl port;
        QCOMPARE(port.CommPort(), std::optional<qint16>(4));
        QVERIFY(port.setCommPort(3));
        QCOMPARE(port.devicePath(), canonical(p.pty->slavePath()));
        QCOMPARE(port.PortOpen(), std::optional<bool>(false));

        QVERIFY(openLikeTheWindow(port, 3));
        QCOMPARE(port.PortOpen(), std::optional<bool>(true));
        QCOMPARE(port.devicePath(), canonical(p.pty->slavePath()));
        QVERIFY2(port.lastError().isEmpty(), qPrintable(port.lastError()));
        QVERIFY(!port.setCommPort(5));
        QCOMPARE(port.CommPort(), std::optional<qint16>(3));
        QVERIFY(!port.setPortOpen(true)); // already open
        QCOMPARE(port.PortOpen(), std::optional<bool>(true));

        QVERIFY(port.setPortOpen(false));
        QCOMPARE(port.PortOpen(), std::optional<bool>(false));
        // Closing released the device: it opens again, also from another control.
        SerialControl other;
        QVERIFY(other.setCommPort(3));
        QVERIFY2(other.setPortOpen(true), qPrintable(other.lastError()));
        QVERIFY(other.setPortOpen(false));
        QVERIFY2(port.setPortOpen(true), qPrintable(port.lastError()));
    }

    void settings_data()
    {
        // inForce: shown while open on a pty; empty: the text itself
        // speed: termios speed expected on the device, 0: not checked
        columns<QString, bool, QString, int>("text", "accepted", "inForce", "speed");

        QTest::newRow("default") << QStringLiteral("9600,n,8,1") << true << QString() << int(B9600);
        QTest::newRow("upper-case parity")
            << QStringLiteral("115200,N,8,1") << true << QString() << int(B115200);
        QTest::newRow("blanks around fields")
            << QStringLiteral(" 19200 , n , 8 , 2 ") << true << QString() << int(B19200);
        QTest::newRow("3 Mbaud") << QStringLiteral("3000000,n,8,1") << true << QString()
                                 << int(B3000000);
        QTest::newRow("custom baud") << QStringLiteral("12345,n,8,1") << true << QString() << 0;
        QTest::newRow("parity a pty drops")
            << QStringLiteral("9600,e,8,1") << true << QStringLiteral("9600,n,8,1") << int(B9600);
        QTest::newRow("7 bits a pty drops")
            << QStringLiteral("4800,n,7,1") << true << QStringLiteral("4800,n,8,1") << int(B4800);
        QTest::newRow("1.5 stop bits")
            << QStringLiteral("9600,n,8,1.5") << true << QStringLiteral("9600,n,8,1") << int(B9600);
        QTest::newRow("bad parity") << QStringLiteral("9600,x,8,1") << false << QString() << 0;
        QTest::newRow("empty") << QString() << false << QString() << 0;
        QTest::newRow("three fields") << QStringLiteral("9600,n,8") << false << QString() << 0;
        QTest::newRow("zero baud") << QStringLiteral("0,n,8,1") << false << QString() << 0;
        QTest::newRow("nine bits") << QStringLiteral("9600,n,9,1") << false << QString() << 0;
    }
    void settings()
    {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        QFETCH(QString, inForce);
        QFETCH(int, speed);
        const QString previous = QStringLiteral("2400,n,8,1");
        const QString shownOpen = accepted ? (inForce.isEmpty() ? text : inForce) : previous;

        PtyPort p(2);
        QVERIFY(p.ok());
        SerialControl port;
        QVERIFY(port.setCommPort(2));

        // Set while closed, applied at the open.
        QVERIFY(port.setSettings(previous));
        QCOMPARE(port.setSettings(text), accepted);
        QCOMPARE(port.Settings(), std::optional<QString>(accepted ? text : previous));
        if (!accepted)
            QCOMPARE(port.lastError(), QStringLiteral("Settings rejected: ") +
                                           (text.isEmpty() ? QStringLiteral("(empty)") : text));
        QVERIFY2(port.setPortOpen(true), qPrintable(port.lastError()));
        QCOMPARE(port.Settings(), std::optional<QString>(shownOpen));
        QCOMPARE(port.lastError().contains(QStringLiteral("partly applied")), !inForce.isEmpty());
        if (speed != 0) {
            // The device itself runs at the rate, not only the control's copy of it.
            QFile slave(p.pty->slavePath());
            QVERIFY(slave.open(QIODevice::ReadWrite | QIODevice::Unbuffered));
            termios t{};
            QCOMPARE(tcgetattr(slave.handle(), &t), 0);
            QCOMPARE(int(cfgetospeed(&t)), speed);
        }

        // Set while open: applied at once; a refused text keeps what is in force.
        QVERIFY(port.setSettings(previous));
        QCOMPARE(port.setSettings(text), accepted);
        QCOMPARE(port.Settings(), std::optional<QString>(shownOpen));
        QCOMPARE(port.PortOpen(), std::optional<bool>(true));
    }

    void receivesEveryByteValueInOrder_data()
    {
        QTest::addColumn<int>("inputLen");
        QTest::newRow("one per event") << 1;
        QTest::newRow("up to 7 per event") << 7;
        QTest::newRow("all waiting") << 0;
    }
    void receivesEveryByteValueInOrder()
    {
        QFETCH(int, inputLen);
        OpenPort p;
        QVERIFY(p.open());
        QVERIFY(p.port.setInputLen(qint16(inputLen)));

        const QByteArray data = allByteValues() + allByteValues();
        QVERIFY(p.pty->write(data));
        QTRY_COMPARE_WITH_TIMEOUT(p.rx.received.size(), data.size(), 5000);
        QCOMPARE(p.rx.received, data);
        QVERIFY(p.rx.otherEvents.isEmpty());
        if (inputLen == 1)
            QCOMPARE(p.rx.events, data.size());
        if (inputLen > 0)
            QVERIFY(p.rx.largestRead <= inputLen);
        QCOMPARE(p.port.InBufferCount(), std::optional<qint16>(0));
    }

    void backlogWaitsUntilMonitoringReads()
    {
        OpenPort p;
        QVERIFY(p.open());

        p.rx.monitoring = false;
        const QByteArray first(1000, 'a');
        QVERIFY(p.pty->write(first));
        QTRY_COMPARE(p.port.InBufferCount(), std::optional<qint16>(1000));
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
        // One event per arrival, not one per waiting character.
        QVERIFY2(p.rx.events >= 1 && p.rx.events <= 5, qPrintable(QString::number(p.rx.events)));
        QVERIFY(p.rx.received.isEmpty());

        p.rx.monitoring = true;
        const int before = p.rx.events;
        QVERIFY(p.pty->write("bc"));
        QTRY_COMPARE(p.rx.received, first + "bc");
        QCOMPARE(p.rx.events - before, 1002);
        QCOMPARE(p.port.InBufferCount(), std::optional<qint16>(0));
    }

    void largeBacklogDrainsInPasses()
    {
        OpenPort p;
        QVERIFY(p.open());

        p.rx.monitoring = false;
        QByteArray data;
        for (int i = 0; data.size() < 3 * SerialControl::kMaxEventsPerPass; ++i)
            data += QByteArray::number(i) + ' ';
        for (qsizetype at = 0; at < data.size(); at += 2048) {
            const int before = p.rx.events;
            QVERIFY(p.pty->write(data.mid(at, 2048)));
            QTRY_VERIFY(p.rx.events > before); // taken off the device before the next chunk
        }
        QTRY_COMPARE(p.port.InBufferCount(), std::optional<qint16>(32767)); // clamped

        // A timer started at the first event of the drain must fire before the drain ends.
        int deliveredWhenTimerFired = -1;
        bool timerStarted = false;
        QObject::connect(&p.port, &SerialControl::OnComm, &p.port, [&] {
            if (p.rx.monitoring && !timerStarted) {
                timerStarted = true;
                QTimer::singleShot(0, &p.port,
                                   [&] { deliveredWhenTimerFired = int(p.rx.received.size()); });
            }
        });
        p.rx.monitoring = true;
        QVERIFY(p.pty->write("!"));
        QTRY_COMPARE_WITH_TIMEOUT(p.rx.received.size(), data.size() + 1, 10000);
        QCOMPARE(p.rx.received, data + "!");
        QVERIFY(deliveredWhenTimerFired > 0);
        QVERIFY2(deliveredWhenTimerFired < p.rx.received.size(),
                 qPrintable(QString::number(deliveredWhenTimerFired)));
    }

    // A trickle's reads wait in the device until the pace's work runs, which takes them in
    // at once; every character still comes, in order.
    void heldReadsComeAtTheResume_data()
    {
        QTest::addColumn<QString>("release"); // how the held "c" is let in
        QTest::newRow("the pace's work") << u"resume"_s;
        QTest::newRow("the pace switched off") << u"off"_s;
        QTest::newRow("close and open again") << u"reopen"_s;
        QTest::newRow("the pace will not run it soon: no hold") << u"busy"_s;
    }
    void heldReadsComeAtTheResume()
    {
        QFETCH(QString, release);
        OpenPort p;
        QVERIFY(p.open());
        auto *serial = p.port.findChild<QSerialPort *>();
        QVERIFY(serial);
        std::function<void()> resume;
        int asked = 0;
        // Every read counts as soon after the last one.
        p.port.setReadPace(3600000, [&](std::function<void()> work) {
            ++asked;
            resume = std::move(work);
            return release != u"busy"_s;
        });
        const auto waitsInDevice = [&] {
            pollfd pfd{serial->handle(), POLLIN, 0};
            return ::poll(&pfd, 1, 0) == 1;
        };

        for (const char *in : {"a", "b"}) {
            QVERIFY(p.pty->write(in));
            QTRY_VERIFY(p.rx.received.endsWith(in));
        }
        QCOMPARE(asked, 1); // the first read had none before it
        QVERIFY(p.pty->write("c"));
        if (release == u"busy"_s) {
            QTRY_COMPARE(p.rx.received, "abc");
            return;
        }
        QTRY_VERIFY(waitsInDevice());
        QTest::qWait(20);
        QCOMPARE(p.rx.received, "ab");

        if (release == u"resume"_s) {
            resume();
            QCOMPARE(p.rx.received, "abc"); // within the work, so the same update shows it
            QCOMPARE(asked, 2);             // a read at the resume holds the next
            QVERIFY(p.pty->write("d"));
            QTRY_VERIFY(waitsInDevice());
            resume();
            QCOMPARE(p.rx.received, "abcd");
            resume(); // nothing came: reads are on again
            QVERIFY(p.pty->write("e"));
            QTRY_COMPARE(p.rx.received, "abcde");
        } else if (release == u"off"_s) {
            p.port.setReadPace(0, {});
            QCOMPARE(p.rx.received, "abc");
            QVERIFY(p.pty->write("d"));
            QTRY_COMPARE(p.rx.received, "abcd");
        } else {
            // The port opened again reads at once, what the device kept first.
            QVERIFY(openLikeTheWindow(p.port, 1));
            QTRY_COMPARE(p.rx.received, "abc");
            QCOMPARE(asked, 2);
        }
        QVERIFY(p.rx.otherEvents.isEmpty());
    }

    void vanishedDevice_data()
    {
        QTest::addColumn<bool>("backlog"); // characters still waiting when the device goes
        QTest::newRow("all read before") << false;
        QTest::newRow("backlog waiting") << true;
    }
    void vanishedDevice()
    {
        QFETCH(bool, backlog);
        OpenPort p;
        QVERIFY(p.open());
        const QString device = canonical(p.pty->slavePath());
        auto *serial = p.port.findChild<QSerialPort *>();
        QVERIFY(serial);
        QSignalSpy errors(serial, &QSerialPort::errorOccurred);
        QSignalSpy lost(&p.port, &SerialControl::portLost);

        const QByteArray data = allByteValues();
        p.rx.monitoring = !backlog;
        QVERIFY(p.pty->write(data));
        if (backlog)
            QTRY_COMPARE(p.port.InBufferCount(), std::optional<qint16>(data.size()));
        else
            QTRY_COMPARE(p.rx.received, data);
        p.rx.monitoring = true;

        p.pty->closeMaster();
        QTRY_COMPARE_WITH_TIMEOUT(p.port.PortOpen(), std::optional<bool>(false), 1000);
        QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 1000);
        for (int i = 0; i < 50; ++i)
            QCoreApplication::processEvents();
        QCOMPARE(lost.size(), 1);
        int realErrors = 0;
        for (const QList<QVariant> &e : std::as_const(errors))
            realErrors += e.at(0).value<QSerialPort::SerialPortError>() != QSerialPort::NoError;
        QVERIFY2(realErrors < 10, qPrintable(QString::number(realErrors)));
        QCOMPARE(p.rx.received, data);
        QVERIFY2(p.port.lastError().startsWith(QStringLiteral("Device vanished: ") + device),
                 qPrintable(p.port.lastError()));
        QCOMPARE(lost.at(0).at(0).toString(), p.port.lastError());
        QCOMPARE(p.port.InBufferCount(), std::optional<qint16>(0));
        QVERIFY(!p.port.setOutput("x"));
        QCOMPARE(p.port.lastError(), QStringLiteral("The port is not open"));
    }

    void secondOpenRefused_data()
    {
        QTest::addColumn<QString>("holder");
        QTest::newRow("same program, same name") << QStringLiteral("control");
        QTest::newRow("same program, other link") << QStringLiteral("alias");
        QTest::newRow("other commtest") << QStringLiteral("--hold-commtest");
        QTest::newRow("other program with flock") << QStringLiteral("--hold-flock");
    }
    void secondOpenRefused()
    {
        QFETCH(QString, holder);
        Pty pty;
        PortMap map;
        const QString device = canonical(pty.slavePath());
        QVERIFY(map.map(1, pty.slavePath()));
        const QString alias = map.path() + QStringLiteral("/alias");
        QVERIFY(QFile::link(pty.slavePath(), alias));
        QVERIFY(map.map(2, alias));

        SerialControl first;
        HelperProcess helper;
        if (holder.startsWith(u'-')) {
            QVERIFY(helper.start({holder, device}));
            QCOMPARE(helper.firstLine, QStringLiteral("open"));
        } else {
            QVERIFY(first.setCommPort(1));
            QVERIFY2(first.setPortOpen(true), qPrintable(first.lastError()));
        }

        SerialControl second;
        QVERIFY(second.setSettings(QStringLiteral("4800,n,8,1")));
        QVERIFY(second.setCommPort(holder == u"alias" ? 2 : 1));
        QVERIFY(!second.setPortOpen(true));
        QCOMPARE(second.PortOpen(), std::optional<bool>(false));
        QCOMPARE(second.lastError(),
                 QStringLiteral("Port busy: %1 is in use by another program").arg(device));
        QCOMPARE(second.Settings(), std::optional<QString>(QStringLiteral("4800,n,8,1")));

        // The holder still has the port and gets what arrives.
        if (!holder.startsWith(u'-')) {
            QCOMPARE(first.PortOpen(), std::optional<bool>(true));
            first.setPortOpen(false);
        } else {
            helper.stop();
        }
        QVERIFY2(second.setPortOpen(true), qPrintable(second.lastError()));
    }

    void openFailsWithReason_data()
    {
        // target: what comN points at; empty: no entry
        columns<QString, int, QString>("target", "portNumber", "reason");
        QTest::newRow("dangling link")
            << QStringLiteral("/nonexistent/ttyX") << 7
            << QStringLiteral("No such device: /nonexistent/ttyX (port 7)");
        QTest::newRow("no entry, no ttyS")
            << QString() << 3000 << QStringLiteral("No such device: /dev/ttyS2999 (port 3000)");
        QTest::newRow("regular file")
            << QStringLiteral("FILE") << 8 << QStringLiteral("Not a serial device: FILE");
    }
    void openFailsWithReason()
    {
        QFETCH(QString, target);
        QFETCH(int, portNumber);
        QFETCH(QString, reason);
        PortMap map;
        if (target == u"FILE") {
            target = map.path() + QStringLiteral("/plain");
            QFile f(target);
            QVERIFY(f.open(QIODevice::WriteOnly));
            reason.replace(QStringLiteral("FILE"), canonical(target));
        }
        if (!target.isEmpty())
            QVERIFY(map.map(portNumber, target));
        SerialControl port;
        QVERIFY(port.setSettings(QStringLiteral("19200,n,8,1")));
        QVERIFY(port.setCommPort(qint16(portNumber)));
        QVERIFY(!port.setPortOpen(true));
        QCOMPARE(port.lastError(), reason);
        QCOMPARE(port.PortOpen(), std::optional<bool>(false));
        QCOMPARE(port.CommPort(), std::optional<qint16>(qint16(portNumber)));
        QCOMPARE(port.Settings(), std::optional<QString>(QStringLiteral("19200,n,8,1")));
    }

    void invalidPortNumberKeepsThePrevious_data()
    {
        QTest::addColumn<int>("number");
        QTest::newRow("zero") << 0;
        QTest::newRow("negative") << -1;
        QTest::newRow("most negative") << -32768;
    }
    void invalidPortNumberKeepsThePrevious()
    {
        QFETCH(int, number);
        SerialControl port;
        QVERIFY(port.setCommPort(6));
        QVERIFY(!port.setCommPort(qint16(number)));
        QCOMPARE(port.CommPort(), std::optional<qint16>(6));
        QCOMPARE(port.lastError(),
                 QStringLiteral("Invalid port number: ") + QString::number(number));
    }

    void permissionDenied()
    {
        if (geteuid() != 0)
            QSKIP("needs root to run the helper as nobody");
        if (!getpwnam("nobody"))
            QSKIP("no user nobody");
        Pty pty; // root's pty: mode 620, so nobody may not open it
        const QString device = canonical(pty.slavePath());
        HelperProcess helper;
        QVERIFY(helper.start({QStringLiteral("--open-as-nobody"), device}));
        helper.stop();
        QCOMPARE(helper.firstLine, QStringLiteral("Permission denied: ") + device);
    }

    void closedPortReadsFalseAndZero()
    {
        SerialControl port;
        QCOMPARE(port.CDHolding(), std::optional<bool>(false));
        QCOMPARE(port.CTSHolding(), std::optional<bool>(false));
        QCOMPARE(port.DSRHolding(), std::optional<bool>(false));
        QCOMPARE(port.DTREnable(), std::optional<bool>(false));
        QCOMPARE(port.RTSEnable(), std::optional<bool>(false));
        QCOMPARE(port.InBufferCount(), std::optional<qint16>(0));
        QCOMPARE(port.OutBufferCount(), std::optional<qint16>(0));
        QCOMPARE(port.Input(), std::optional<QByteArray>(QByteArray()));
        QVERIFY(!port.setBreak(true));
        QCOMPARE(port.lastError(), QStringLiteral("The port is not open"));
        QCOMPARE(port.Break(), std::optional<bool>(false));
        QVERIFY(!port.setOutput("x"));
        QCOMPARE(port.lastError(), QStringLiteral("The port is not open"));
    }

    void openPtyControls()
    {
        PtyPort p(1);
        QVERIFY(p.ok());
        SerialControl port;
        QVERIFY(port.setHandshaking(2)); // held while closed
        QVERIFY(openLikeTheWindow(port, 1));
        QCOMPARE(port.Handshaking(), std::optional<qint32>(2));
        auto *serial = port.findChild<QSerialPort *>();
        QVERIFY(serial); // a failure to report, not a crash of the whole test program
        QCOMPARE(serial->flowControl(), QSerialPort::HardwareControl);

        // A pty has no modem lines: they read False, not an error.
        QCOMPARE(port.CTSHolding(), std::optional<bool>(false));
        QCOMPARE(port.DTREnable(), std::optional<bool>(false));

        for (qint32 mode : {0, 1, 2, 3}) {
            QVERIFY(port.setHandshaking(mode));
            QCOMPARE(port.Handshaking(), std::optional<qint32>(mode));
        }
        QCOMPARE(serial->flowControl(), QSerialPort::HardwareControl);
        QVERIFY(!port.setHandshaking(4));
        QCOMPARE(port.lastError(), QStringLiteral("Invalid handshaking mode 4"));
        QCOMPARE(port.Handshaking(), std::optional<qint32>(3));

        // Break either works or fails with a reason; a failed write changes nothing.
        const bool taken = port.setBreak(true);
        QCOMPARE(port.Break(), std::optional<bool>(taken));
        if (!taken)
            QVERIFY(port.lastError().startsWith(QStringLiteral("Break not supported by")));
        else
            QVERIFY(port.setBreak(false));

        const QByteArray out = allByteValues();
        QVERIFY(port.setOutput(out));
        QByteArray sent; // QSerialPort writes from the event loop
        QTRY_COMPARE((sent += p.pty->readAvailable(0), sent), out);
        QVERIFY(port.setOutput(QByteArray()));
    }
};

// --- Helpers run as a second program

namespace {

// Waits until the test closes our input.
void waitForEndOfInput()
{
    while (std::getchar() != EOF) {
    }
}

int helperMain(int argc, char **argv)
{
    const QByteArray mode = argv[1];
    const QString device = QString::fromLocal8Bit(argv[2]);
    if (mode == "--hold-flock") {
        // A program that knows no lock files but locks the device it opened.
        const int fd = ::open(argv[2], O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            std::printf("failed\n");
            return 1;
        }
        std::printf("open\n");
        std::fflush(stdout);
        waitForEndOfInput();
        return 0;
    }
    if (mode == "--open-as-nobody") {
        const passwd *nobody = getpwnam("nobody");
        if (!nobody || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) {
            std::printf("cannot become nobody\n");
            return 1;
        }
    }
    QCoreApplication app(argc, argv);
    PortMap map;
    map.map(1, device);
    SerialControl port;
    port.setCommPort(1);
    const bool opened = port.setPortOpen(true);
    std::printf("%s\n", opened ? "open" : qPrintable(port.lastError()));
    std::fflush(stdout);
    if (mode == "--hold-commtest")
        waitForEndOfInput();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::strncmp(argv[1], "--", 2) == 0 &&
        (!std::strcmp(argv[1], "--hold-commtest") || !std::strcmp(argv[1], "--hold-flock") ||
         !std::strcmp(argv[1], "--open-as-nobody")))
        return helperMain(argc, argv);
    QCoreApplication app(argc, argv);
    TestSerialPty test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_serial_pty.moc"
