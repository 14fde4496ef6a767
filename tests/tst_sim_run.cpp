// The README's run command as a newcomer meets it: tools/run-monitor on a machine without
// serial hardware starts the simulated instrument as COM 4 and the monitor opens it; with
// a device mapped as COM 4 it starts the monitor on that device and simulates nothing.
#include "support/pty.h"
#include "support/tables.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool comFourOpensHere()
{
    const int fd = ::open("/dev/ttyS3", O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

} // namespace

class TestSimRun : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void runCommand_data()
    {
        QTest::addColumn<bool>("deviceMapped");
        QTest::newRow("no serial hardware: simulated instrument") << false;
        QTest::newRow("a device mapped as COM 4 is left alone") << true;
    }
    void runCommand()
    {
        QFETCH(bool, deviceMapped);
        if (comFourOpensHere())
            QSKIP("this machine has a working /dev/ttyS3 (COM 4)");

        QTemporaryDir home; // a fresh user: nothing mapped, no configuration folder
        QVERIFY(home.isValid());
        Pty device;
        if (deviceMapped) {
            QVERIFY(device.isValid());
            QVERIFY(QDir(home.path()).mkpath(QStringLiteral(".config/commtest/ports")));
            QVERIFY(QFile::link(device.slavePath(),
                                home.path() + QStringLiteral("/.config/commtest/ports/com4")));
        }

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.remove(QStringLiteral("XDG_CONFIG_HOME"));
        env.remove(QStringLiteral("COMMTEST_BUILD_DIR"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("COMMTEST_REPORT_PANEL"), QStringLiteral("1"));
        QProcess run;
        run.setProcessEnvironment(env);
        run.start(QStringLiteral(COMMTEST_RUN_MONITOR),
                  {QStringLiteral("--build"), QStringLiteral(COMMTEST_BUILD_DIR),
                   QStringLiteral("--timeout"), QStringLiteral("2")});
        QVERIFY(run.waitForFinished(60000));
        const QString out = QString::fromLocal8Bit(run.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(run.readAllStandardError());
        const QString both = out + QStringLiteral("\n--- stderr\n") + err;
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
        QVERIFY2(run.exitCode() == 0, qPrintable(both));
        QVERIFY2(out.contains(QStringLiteral("\nPortOpen: True\n")), qPrintable(both));

        const QRegularExpression started(
            QStringLiteral("No device for COM 4: started a simulated instrument on (/dev/pts/\\d+) "
                           "as COM 4 \\(process (\\d+);"));
        const QRegularExpressionMatch m = started.match(out);
        if (deviceMapped) {
            QVERIFY2(!m.hasMatch(), qPrintable(both));
            QVERIFY2(out.contains(QStringLiteral("COM 4 is ") + device.slavePath()),
                     qPrintable(both));
            QVERIFY2(out.contains(QStringLiteral("\nDevice: ")), qPrintable(both));
            return;
        }
        QVERIFY2(m.hasMatch(), qPrintable(both));
        const QString slave = m.captured(1);
        // The monitor opened the simulator's device through the private COM 4 entry.
        const QRegularExpression deviceLine(QStringLiteral("\nDevice: (\\S+)\n"));
        const QString shown = deviceLine.match(out).captured(1);
        QVERIFY2(shown == slave || shown.endsWith(QStringLiteral("/commtest/ports/com4")),
                 qPrintable(both));
        // The simulator ended with the monitor, and nothing was placed in the user's folder.
        QVERIFY2(out.contains(QStringLiteral("Stopped the simulated instrument.")),
                 qPrintable(both));
        QVERIFY(::kill(pid_t(m.captured(2).toInt()), 0) != 0);
        QVERIFY(!QFileInfo::exists(home.path() + QStringLiteral("/.config/commtest")));
    }

    // run-monitor's question, asked where there is no display at all.
    void deviceQuery_data()
    {
        // target: what com4 links to; "pty" for a live one
        columns<QString, QString, int, QString>("port", "target", "status", "reason");
        QTest::newRow("mapped pty opens")
            << QStringLiteral("4") << QStringLiteral("pty") << 0 << QString();
        QTest::newRow("dangling mapping")
            << QStringLiteral("4") << QStringLiteral("/nonexistent/tty") << 1
            << QStringLiteral("No such device: /nonexistent/tty (port 4)\n");
        QTest::newRow("port 0") << QStringLiteral("0") << QString() << 2
                                << QStringLiteral("from 1 to 32767");
        QTest::newRow("not a number")
            << QStringLiteral("4x") << QString() << 2 << QStringLiteral("from 1 to 32767");
    }
    void deviceQuery()
    {
        QFETCH(QString, port);
        QFETCH(QString, target);
        QFETCH(int, status);
        QFETCH(QString, reason);
        QTemporaryDir config;
        Pty device;
        QVERIFY(device.isValid());
        const QString entry = config.path() + QStringLiteral("/commtest/ports/com4");
        if (target == u"pty")
            target = device.slavePath();
        QVERIFY(QDir(config.path()).mkpath(QStringLiteral("commtest/ports")));
        QVERIFY(target.isEmpty() || QFile::link(target, entry));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        QProcess query;
        query.setProcessEnvironment(env);
        query.start(QStringLiteral(COMMTEST_BUILD_DIR "/app/commtest"),
                    {QStringLiteral("--device-for"), port});
        QVERIFY(query.waitForFinished(30000));
        const QString out = QString::fromLocal8Bit(query.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(query.readAllStandardError());
        QCOMPARE(query.exitStatus(), QProcess::NormalExit);
        QVERIFY2(query.exitCode() == status, qPrintable(out + err));
        QVERIFY2(status == 2 ? err.contains(reason) : err == reason, qPrintable(err));
        if (status != 2)
            QCOMPARE(out, target + QStringLiteral("\nmapped in ") + entry + u'\n');
    }
};

QTEST_GUILESS_MAIN(TestSimRun)
#include "tst_sim_run.moc"
