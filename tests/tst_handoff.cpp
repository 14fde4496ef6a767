// commtest as a program (its command line answered without a display, --port on a pty)
// and lending its port to another program: SIGUSR2 releases the device, SIGUSR1 takes it
// back, and a capture under way goes on into the same file.
#include "app/porthandoff.h"
#include "capture/capturerecord.h"
#include "port/serialcontrol.h"
#include "support/fakedevicediscovery.h"
#include "support/files.h"
#include "support/monitor.h"
#include "support/tables.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// The other program (a flashing tool): the device opened and locked, or -1 while someone
// else holds it.
int takeDevice(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Whether process pid has the device open, read from /proc without touching the device.
bool holds(qint64 pid, const QString &device)
{
    const QString target = QFileInfo(device).canonicalFilePath();
    const QDir fds(u"/proc/%1/fd"_s.arg(pid));
    for (const QFileInfo &fd : fds.entryInfoList(QDir::AllEntries | QDir::System))
        if (fd.symLinkTarget() == target)
            return true;
    return false;
}

// Numbered frames [from, from + count), sent on the pty; their records appended to expected.
bool sendFrames(Pty &pty, int from, int count, QByteArray *expected)
{
    QByteArray wire;
    for (int i = from; i < from + count; ++i) {
        const QByteArray frame = "frame " + QByteArray::number(i) + '\r';
        wire += frame;
        if (expected)
            appendCaptureRecord(*expected, {}, frame);
    }
    return pty.write(wire);
}

} // namespace

class TestHandOff : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // None of these needs a display: they are answered before any window exists.
    void answeredWithoutDisplay_data()
    {
        columns<QStringList, int, QString, QString>("arguments", "status", "out", "err");
        QTest::newRow("--help") << QStringList{u"--help"_s} << 0 << u"usage: commtest"_s
                                << QString();
        QTest::newRow("--version")
            << QStringList{u"--version"_s} << 0 << u"commtest "_s << QString();
        QTest::newRow("unknown option") << QStringList{u"--bogus"_s} << 2 << QString()
                                        << u"commtest: unknown option '--bogus'\nusage:"_s;
        QTest::newRow("bad settings text")
            << QStringList{u"--port"_s, u"5"_s, u"--settings"_s, u"9600,x,8,1"_s} << 2 << QString()
            << u"commtest: --settings: '9600,x,8,1' is not a settings text"_s;
        QTest::newRow("--list") << QStringList{u"--list"_s} << 0 << u"COM 5 → "_s << QString();
        QTest::newRow("--device-for")
            << QStringList{u"--device-for"_s, u"5"_s} << 0 << u"/dev/"_s << QString();
    }
    void answeredWithoutDisplay()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        PtyPort port(5);
        QVERIFY(port.ok());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString &name : {u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s, u"QT_QPA_PLATFORM"_s})
            env.remove(name);
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(COMMTEST_PATH), arguments);
        QVERIFY(p.waitForFinished(30000));
        const QString stdOut = QString::fromLocal8Bit(p.readAllStandardOutput());
        const QString stdErr = QString::fromLocal8Bit(p.readAllStandardError());
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QVERIFY2(p.exitCode() == status, qPrintable(stdErr));
        QVERIFY2(out.isEmpty() ? stdOut.isEmpty() : stdOut.startsWith(out), qPrintable(stdOut));
        QVERIFY2(err.isEmpty() ? stdErr.isEmpty() : stdErr.startsWith(err), qPrintable(stdErr));
    }

    // The program on --port 5 with --settings: it opens COM 5; SIGUSR2 frees the device
    // within 2 s for another program while the window stays up; SIGUSR1 takes it again.
    void programLendsItsPort()
    {
        PtyPort port(5);
        QVERIFY(port.ok());
        const QString device = port.pty->slavePath();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        env.insert(u"COMMTEST_REPORT_PANEL"_s, u"1"_s);
        env.insert(u"COMMTEST_QUIT_AFTER_MS"_s, u"300000"_s); // a backstop only
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(COMMTEST_PATH),
                {u"--port"_s, u"5"_s, u"--settings"_s, u"19200,n,8,1"_s});
        QVERIFY(p.waitForStarted(10000));
        QByteArray out;
        QByteArray err;
        const auto collect = [&] {
            out += p.readAllStandardOutput();
            err += p.readAllStandardError();
        };
        QTRY_VERIFY_WITH_TIMEOUT((collect(), out.contains("\nDevice: ")), 30000);
        QVERIFY2(out.contains("CommPort: 5\n"), out.constData());
        QVERIFY2(out.contains("Settings: 19200,n,8,1\n"), out.constData());
        QVERIFY2(out.contains("PortOpen: True\n"), out.constData());
        QVERIFY(holds(p.processId(), device));
        QCOMPARE(takeDevice(device), -1);

        for (int round = 0; round < 2; ++round) {
            QVERIFY(::kill(pid_t(p.processId()), SIGUSR2) == 0);
            int flasher = -1;
            // Once taken, kept: QTRY evaluates its condition again at the end.
            const auto take = [&] {
                if (flasher < 0)
                    flasher = takeDevice(device);
                return flasher >= 0;
            };
            QTRY_VERIFY_WITH_TIMEOUT(take(), 2000);
            QVERIFY(!holds(p.processId(), device));
            QTRY_VERIFY_WITH_TIMEOUT(
                (collect(), err.count("COM 5 released on request") == round + 1), 10000);
            QCOMPARE(p.state(), QProcess::Running);
            ::close(flasher);

            QVERIFY(::kill(pid_t(p.processId()), SIGUSR1) == 0);
            QTRY_VERIFY_WITH_TIMEOUT(holds(p.processId(), device), 10000);
            QCOMPARE(takeDevice(device), -1);
        }
        collect();
        QCOMPARE(err.count("released on request"), 2); // once per release
        QCOMPARE(p.state(), QProcess::Running);
        p.terminate();
        QVERIFY(p.waitForFinished(30000));
    }

    // Capture on, frames streaming: a release, frames meanwhile taken by the other program,
    // the port back; the capture file holds every frame but those, each whole.
    void captureGoesOnAcrossTheHandOff()
    {
        PtyPort p(4);
        QVERIFY(p.ok());
        CaptureFolder folder;
        const QString path = folder.newPath();
        Monitor w(std::make_unique<SerialControl>());
        w.form->setDeviceDiscovery(std::make_unique<FakeDeviceDiscovery>());
        PortHandOff handOff;
        QCOMPARE(handOff.error(), QString());
        QObject::connect(&handOff, &PortHandOff::releaseRequested, w.form.get(),
                         &Form_Comm::releasePortOnRequest);
        QObject::connect(&handOff, &PortHandOff::retakeRequested, w.form.get(),
                         &Form_Comm::retakePortOnRequest);
        QSignalSpy released(&handOff, &PortHandOff::releaseRequested);
        QCOMPARE(w.val(2), u"True"_s);
        QVERIFY(w.startCapture(path));
        w.monitor(true);
        // Typed but not applied: the port comes back with the settings in force.
        w.child<QLineEdit>("txt_Settings")->setText(u"4800,n,8,1"_s);

        QByteArray expected;
        QVERIFY(sendFrames(*p.pty, 1, 50, &expected));
        QTRY_COMPARE_WITH_TIMEOUT(readFile(path), expected, 20000);

        QVERIFY(::raise(SIGUSR2) == 0);
        QTRY_COMPARE_WITH_TIMEOUT(w.val(2), u"False"_s, 2000);
        QCOMPARE(w.form->shownError(), u"COM 4 released on request"_s);
        const int flasher = takeDevice(p.pty->slavePath());
        QVERIFY(flasher >= 0);
        // What arrives meanwhile is the other program's.
        QVERIFY(sendFrames(*p.pty, 51, 10, nullptr));
        QByteArray taken;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                char buf[512];
                const ssize_t n = ::read(flasher, buf, sizeof buf);
                if (n > 0)
                    taken.append(buf, n);
                return taken.endsWith("frame 60\r");
            }(),
            20000);
        ::close(flasher);
        // A second request while released says nothing more.
        w.child<QMessageBox>("errorBox")->hide();
        QVERIFY(::raise(SIGUSR2) == 0);
        QVERIFY(released.wait(10000));
        QCOMPARE(w.form->shownError(), QString());
        QCOMPARE(w.val(2), u"False"_s);

        QVERIFY(::raise(SIGUSR1) == 0);
        QTRY_COMPARE_WITH_TIMEOUT(w.val(2), u"True"_s, 10000);
        QCOMPARE(w.val(1), u"9600,n,8,1"_s);
        QVERIFY(sendFrames(*p.pty, 61, 50, &expected));
        QTRY_COMPARE_WITH_TIMEOUT(readFile(path), expected, 20000);
        QVERIFY(w.form->captureEnabled());
    }

    // A port lost and then released: its device coming back is not re-opened behind the
    // other program's back; SIGUSR1 opens it.
    void releasedPortIsNotReopenedWhenItsDeviceComesBack()
    {
        PtyPort p(4);
        QVERIFY(p.ok());
        Monitor w(std::make_unique<SerialControl>());
        w.form->setDeviceDiscovery(std::make_unique<FakeDeviceDiscovery>());
        PortHandOff handOff;
        QObject::connect(&handOff, &PortHandOff::releaseRequested, w.form.get(),
                         &Form_Comm::releasePortOnRequest);
        QObject::connect(&handOff, &PortHandOff::retakeRequested, w.form.get(),
                         &Form_Comm::retakePortOnRequest);
        QCOMPARE(w.val(2), u"True"_s);
        p.pty->closeMaster();
        QTRY_VERIFY_WITH_TIMEOUT(w.form->shownError().contains(u"was lost"_s), 20000);

        QVERIFY(::raise(SIGUSR2) == 0);
        QTRY_COMPARE_WITH_TIMEOUT(w.form->shownError(), u"COM 4 released on request"_s, 10000);
        p.replug();
        QVERIFY(p.ok());
        QSignalSpy ticks(w.child<QTimer>("Timer1"), &QTimer::timeout);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 4, 20000);
        QCOMPARE(w.val(2), u"False"_s);
        const int flasher = takeDevice(p.pty->slavePath());
        QVERIFY(flasher >= 0);
        ::close(flasher);

        QVERIFY(::raise(SIGUSR1) == 0);
        QTRY_COMPARE_WITH_TIMEOUT(w.val(2), u"True"_s, 10000);
        QCOMPARE(w.serial->devicePath(), QFileInfo(p.pty->slavePath()).canonicalFilePath());
    }

    // Only one hand-off per process: the signals go to one place.
    void secondHandOffIsRefused()
    {
        PortHandOff first;
        QCOMPARE(first.error(), QString());
        PortHandOff second;
        QVERIFY(!second.error().isEmpty());
        QSignalSpy retake(&first, &PortHandOff::retakeRequested);
        QVERIFY(::raise(SIGUSR1) == 0);
        QVERIFY(retake.wait(10000));
    }
};

QTEST_MAIN(TestHandOff)
#include "tst_handoff.moc"
