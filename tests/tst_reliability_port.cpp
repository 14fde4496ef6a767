// Faults of the port, end to end: the device vanishes mid-stream with capture on, the
// port is held by another process, the device may not be opened. The whole monitor runs
// (window, serial layer over a pty, capture through the window's set-up).
#include "support/helperprocess.h"
#include "support/reliability.h"
#include "support/tables.h"

#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>

using namespace reliability;

namespace {

QString canonical(const QString &path)
{
    return QFileInfo(path).canonicalFilePath();
}

// The complete frames at the start of bytes, ended under the standard or line-feed rule.
QList<QByteArray> completeFrames(const QByteArray &bytes, bool lineFeedOnly, QByteArray *rest)
{
    QList<QByteArray> frames;
    qsizetype start = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\n' || (!lineFeedOnly && (c == '\r' || c == '\x06' || c == '\x04'))) {
            frames.append(bytes.mid(start, i + 1 - start));
            start = i + 1;
        }
    }
    *rest = bytes.mid(start);
    return frames;
}

} // namespace

class TestReliabilityPort : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void unplugMidStream_data() { lineModeRows(); }
    // The adapter is pulled while a burst is arriving and capture is on: everything the
    // monitor received before the hang-up and that formed a whole frame is in the file,
    // the window never stops, the port ends closed, the operator is told once, and "Reset
    // Comm" carries on once the adapter is back.
    void unplugMidStream()
    {
        QFETCH(bool, lineMode);
        Report report(ofRow("unplug mid-stream"),
                      QStringLiteral("received frames all captured; port closed; one report; no "
                                     "hang; Reset Comm re-opens"));
        StderrTap tap;
        RunningMonitor m;
        QVERIFY(m.portOpen());
        const QString path = m.captures.newPath();
        QVERIFY(m.startCapture(path));
        if (lineMode)
            m.setProfile(2);
        TickWatch ticks;

        auto frame = [&](int n) {
            QByteArray f = numberedFrame(n);
            if (lineMode)
                f.back() = '\n';
            return f;
        };
        // First a stretch that is surely through, so the file has a known start.
        QList<QByteArray> first;
        QByteArray wire;
        for (int i = 0; i < 200; ++i)
            first.append(frame(i)), wire += first.back();
        {
            WireWriter writer(*m.pty, wire);
            QTRY_COMPARE_WITH_TIMEOUT(readFile(path), recordsOf(first), 20000);
        }
        // Then a burst cut off by the hang-up, ending in a partial frame.
        QByteArray burst;
        for (int i = 200; i < 2200; ++i)
            burst += frame(i);
        burst += "partial frame";
        qsizetype burstSent = 0;
        bool drained = false;
        {
            // The hang-up comes from the writer between two chunks, while the monitor
            // still has part of the burst to work through.
            WireWriter writer(*m.pty, burst, 1024, burst.size() / 2);
            QTRY_VERIFY_WITH_TIMEOUT(writer.done(), 30000);
            QVERIFY(writer.join());
            burstSent = writer.written();
            drained = writer.drainedBeforeHangUp();
        }
        const QByteArray sent = wire + burst.left(burstSent);
        QTRY_VERIFY_WITH_TIMEOUT(!m.portOpen(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!m.form->shownError().isEmpty(), 5000);
        RunningMonitor::settle();

        QCOMPARE(m.val(2), QStringLiteral("False"));
        const QByteArray received = m.loggedBytes();
        QVERIFY2(sent.startsWith(received), "the monitor logged bytes that were not sent");
        // The device had handed over every byte before it vanished: all of them reach the
        // log, including what the monitor still held unprocessed at the hang-up.
        QVERIFY(drained);
        QCOMPARE(received.size(), sent.size());
        QByteArray rest;
        const QList<QByteArray> complete = completeFrames(received, lineMode, &rest);
        const QByteArray file = readFile(path);
        QByteArray sentRest;
        const qsizetype sentFrames = completeFrames(sent, lineMode, &sentRest).size();
        report.sent = sentFrames;
        report.captured = file.count('\n');
        report.lost = complete.size() - report.captured;
        report.note = QStringLiteral(
                          "hang-up in the middle of frame %1; then %2 more frames after Reset Comm")
                          .arg(sentFrames + 1)
                          .arg(50);
        QCOMPARE(file, recordsOf(complete));
        QCOMPARE(m.form->frameBuffer(), rest);

        const QString device = canonical(m.pty->slavePath());
        QVERIFY2(m.form->shownError().contains(device), qPrintable(m.form->shownError()));
        QCOMPARE(tap.count("commtest:"), 1);
        QVERIFY2(!ticks.stalled(), ticks.describe().constData());

        // The adapter comes back under the same port: Reset Comm opens it, capture goes on.
        m.replug();
        m.reset();
        QVERIFY2(m.portOpen(), qPrintable(m.form->serial()->lastError()));
        QCOMPARE(m.val(2), QStringLiteral("True"));
        QList<QByteArray> after;
        QByteArray more;
        for (int i = 0; i < 50; ++i)
            after.append(frame(5000 + i)), more += after.back();
        QVERIFY(m.pty->write(more));
        QTRY_COMPARE_WITH_TIMEOUT(readFile(path), file + recordsOf(after), 10000);
        report.sent += 50;
        report.captured += 50;
        QVERIFY2(!ticks.stalled(), ticks.describe().constData());
    }

    void portUnavailable_data()
    {
        QTest::addColumn<QString>("holder");
        QTest::newRow("held by another commtest") << QStringLiteral("--child-hold-control");
        QTest::newRow("held by a program with flock") << QStringLiteral("--child-hold-flock");
    }
    // Another program has the port: the monitor starts with the port closed and says why
    // in the panel, a send names the port, and once the other program lets go "Reset Comm"
    // opens it and frames are captured.
    void portUnavailable()
    {
        QFETCH(QString, holder);
        Report report(QStringLiteral("port %1").arg(QString::fromLatin1(QTest::currentDataTag())),
                      QStringLiteral("open refused with the reason; send names the port; Reset "
                                     "Comm opens after release"));
        Pty pty;
        const QString device = canonical(pty.slavePath());
        HelperProcess helper;
        QVERIFY(helper.start({holder, device}));
        QCOMPARE(helper.firstLine, QStringLiteral("open"));

        StderrTap tap;
        RunningMonitor m(pty.slavePath());
        QVERIFY(!m.portOpen());
        QCOMPARE(m.val(2), QStringLiteral("False"));
        QCOMPARE(m.form->serial()->lastError(),
                 QStringLiteral("Port busy: %1 is in use by another program").arg(device));
        QVERIFY2(m.child<QComboBox>("cbo_Port")->toolTip().contains(QStringLiteral("Port busy")),
                 qPrintable(m.child<QComboBox>("cbo_Port")->toolTip()));
        {
            ModalWatcher watcher;
            m.box()->setText(QStringLiteral("abc"));
            m.child<QPushButton>("cmd_Send")->click();
            QCOMPARE(watcher.texts, QStringList{QStringLiteral("Port [4] not opened")});
            QCOMPARE(m.box()->text(), QStringLiteral("abc"));
        }

        helper.stop();
        QCOMPARE(helper.exitCode, 0);
        const QString path = m.captures.newPath();
        QVERIFY(m.startCapture(path));
        m.reset();
        QVERIFY2(m.portOpen(), qPrintable(m.form->serial()->lastError()));
        QList<QByteArray> frames;
        QByteArray wire;
        for (int i = 0; i < 100; ++i)
            frames.append(numberedFrame(i)), wire += frames.back();
        QVERIFY(pty.write(wire));
        QTRY_COMPARE_WITH_TIMEOUT(readFile(path), recordsOf(frames), 10000);
        report.sent = frames.size();
        report.captured = readFile(path).count('\n');
        report.lost = report.sent - report.captured;
    }

    // The device node is root's alone and the monitor runs as nobody: the open is refused
    // with "Permission denied", the panel shows the port closed, and a send names it.
    void permissionDenied()
    {
        Report report(
            QStringLiteral("device not permitted (runs as nobody, device 0600 root)"),
            QStringLiteral(
                "open refused as Permission denied; panel False; send names the port; no hang"));
        if (::geteuid() != 0)
            QSKIP("needs root to run the monitor as nobody");
        const passwd *nobody = ::getpwnam("nobody");
        if (!nobody)
            QSKIP("no user nobody");
        Pty pty;
        const QString device = canonical(pty.slavePath());
        QCOMPARE(::chmod(QFile::encodeName(device).constData(), 0600), 0);
        QCOMPARE(::chown(QFile::encodeName(device).constData(), 0, 0), 0);

        HelperProcess helper;
        QVERIFY(helper.start({QStringLiteral("--child-window"), device}, nobody->pw_uid));
        const QStringList said = QStringList{helper.firstLine} + helper.stop();
        QCOMPARE(helper.exitCode, 0);
        QVERIFY2(said.contains(QStringLiteral("open=false")), qPrintable(said.join(u'|')));
        QVERIFY2(said.contains(QStringLiteral("error=Permission denied: ") + device),
                 qPrintable(said.join(u'|')));
        QVERIFY2(said.contains(QStringLiteral("panel=False")), qPrintable(said.join(u'|')));
        QVERIFY2(said.contains(QStringLiteral("send=Port [4] not opened")),
                 qPrintable(said.join(u'|')));
        QVERIFY2(said.contains(QStringLiteral("stalled=no")), qPrintable(said.join(u'|')));
    }
};

namespace {

// Holds the port through the serial layer, as a second commtest would.
int holdWithControl(const QString &device)
{
    int argc = 1;
    char name[] = "holder";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    PortMap map;
    map.map(1, device);
    SerialControl port;
    port.setCommPort(1);
    if (!port.setPortOpen(true)) {
        std::printf("failed %s\n", qPrintable(port.lastError()));
        return 1;
    }
    std::printf("open\n");
    std::fflush(stdout);
    while (std::fgetc(stdin) != EOF) {
    }
    return 0;
}

// Holds the device the way other serial programs do: open plus an exclusive flock.
int holdWithFlock(const QString &device)
{
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        std::printf("failed %s\n", std::strerror(errno));
        return 1;
    }
    std::printf("open\n");
    std::fflush(stdout);
    while (std::fgetc(stdin) != EOF) {
    }
    ::close(fd);
    return 0;
}

// The whole window on port 4 = device, reporting what the operator would see.
int runWindow(int argc, char **argv, const QString &device)
{
    QApplication app(argc, argv);
    PtyMonitor m(device);
    m.form->show();
    TickWatch ticks;
    std::printf("open=%s\n", m.serial->PortOpen().value_or(true) ? "true" : "false");
    std::printf("error=%s\n", qPrintable(m.serial->lastError()));
    std::printf("panel=%s\n", qPrintable(m.val(2)));
    {
        ModalWatcher watcher;
        m.box()->setText(QStringLiteral("abc"));
        m.child<QPushButton>("cmd_Send")->click();
        std::printf("send=%s\n", qPrintable(watcher.texts.join(u',')));
    }
    RunningMonitor::settle();
    std::printf("stalled=%s\nwatch=%s\n", ticks.stalled() ? "yes" : "no",
                ticks.describe().constData());
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--child-hold-control") == 0)
        return holdWithControl(QString::fromLocal8Bit(argv[2]));
    if (argc == 3 && qstrcmp(argv[1], "--child-hold-flock") == 0)
        return holdWithFlock(QString::fromLocal8Bit(argv[2]));
    if (argc == 3 && qstrcmp(argv[1], "--child-window") == 0) {
        int one = 1;
        return runWindow(one, argv, QString::fromLocal8Bit(argv[2]));
    }
    QApplication app(argc, argv);
    TestReliabilityPort test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_reliability_port.moc"
