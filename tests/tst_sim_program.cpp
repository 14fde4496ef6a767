// commtest-sim as a program: what a reader of its pseudo-terminal receives.
#include "port/portmapping.h"
#include "port/portrules.h"
#include "support/tables.h"
#include "tools/commandresponder.h"
#include "tools/framegenerator.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

Q_DECLARE_METATYPE(SimProfile)

namespace {

// The simulator, started with some options, and the monitor's end of its device.
class SimProcess
{
public:
    ~SimProcess()
    {
        closeDevice();
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000))
                m_process.kill();
            m_process.waitForFinished(2000);
        }
    }

    // Starts it and waits for the device path on its first line; opens the device too.
    bool start(const QStringList &args,
               const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
    {
        m_process.setProcessEnvironment(env);
        m_process.start(QStringLiteral(COMMTEST_SIM_PATH), args);
        if (!m_process.waitForStarted(5000))
            return false;
        QDeadlineTimer deadline(10000);
        while (!m_process.canReadLine() && !deadline.hasExpired() &&
               m_process.state() == QProcess::Running)
            m_process.waitForReadyRead(100);
        if (!m_process.canReadLine())
            return false;
        m_path = QString::fromLocal8Bit(m_process.readLine().trimmed());
        return openDevice();
    }

    bool openDevice()
    {
        m_fd = ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        return m_fd >= 0;
    }
    void closeDevice()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    // Reads until `count` bytes arrived, the device hung up or the time is up.
    QByteArray read(qsizetype count, int timeoutMs = 10000)
    {
        QByteArray out;
        QDeadlineTimer deadline(timeoutMs);
        while (out.size() < count && !deadline.hasExpired() && !m_hungUp) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            char buf[4096];
            const ssize_t n =
                ::read(m_fd, buf, size_t(std::min<qsizetype>(sizeof buf, count - out.size())));
            if (n > 0)
                out.append(buf, n);
            else if (n == 0 || errno == EIO)
                m_hungUp = true;
        }
        return out;
    }
    // Whatever else arrives within a short time.
    QByteArray readMore(int quietMs = 300) { return read(1 << 20, quietMs); }
    bool hungUp() const { return m_hungUp; }

    bool write(const QByteArray &data)
    {
        return ::write(m_fd, data.constData(), size_t(data.size())) == data.size();
    }

    QString path() const { return m_path; }
    QProcess &process() { return m_process; }

private:
    QProcess m_process;
    QString m_path;
    int m_fd = -1;
    bool m_hungUp = false;
};

QByteArray framesOf(SimProfile profile, quint64 seed, bool binary, int count)
{
    FrameGenerator g(profile, seed, binary);
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += g.next();
    return out;
}

QString profileName(SimProfile p)
{
    return p == SimProfile::Frame ? QStringLiteral("frame") : QStringLiteral("line");
}

QProcessEnvironment withConfigHome(const QString &dir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir);
    return env;
}

} // namespace

class TestSimProgram : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void sendsTheGeneratedFrames_data()
    {
        columns<SimProfile, bool, quint64>("profile", "binary", "seed");
        QTest::newRow("frame readings") << SimProfile::Frame << false << quint64(7);
        QTest::newRow("frame binary") << SimProfile::Frame << true << quint64(11);
        QTest::newRow("line readings") << SimProfile::Line << false << quint64(3);
        QTest::newRow("line binary") << SimProfile::Line << true << quint64(5);
    }
    // Exactly the generator's frames, in order, then nothing more; the log holds the same.
    void sendsTheGeneratedFrames()
    {
        QFETCH(SimProfile, profile);
        QFETCH(bool, binary);
        QFETCH(quint64, seed);
        QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("sent.bin"));
        QStringList args{QStringLiteral("--profile"),     profileName(profile),
                         QStringLiteral("--seed"),        QString::number(seed),
                         QStringLiteral("--rate"),        QStringLiteral("0"),
                         QStringLiteral("--interval-ms"), QStringLiteral("0"),
                         QStringLiteral("--count"),       QStringLiteral("60"),
                         QStringLiteral("--log"),         log};
        if (binary)
            args << QStringLiteral("--binary");
        SimProcess sim;
        QVERIFY(sim.start(args));
        const QByteArray expected = framesOf(profile, seed, binary, 60);
        QCOMPARE(sim.read(expected.size()), expected);
        QCOMPARE(sim.readMore(), QByteArray());
        QFile f(log);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), expected);
        QCOMPARE(sim.process().state(), QProcess::Running); // the line stays open after --count
    }

    void answersCommands_data()
    {
        columns<SimProfile, QByteArray>("profile", "command");
        QTest::newRow("frame STX READ EOT") << SimProfile::Frame << QByteArray("\x02READ\x04");
        QTest::newRow("frame SYN message") << SimProfile::Frame << QByteArray("\x02\x10\x04");
        QTest::newRow("frame bare unknown, CR LF") << SimProfile::Frame << QByteArray("hello\r\n");
        QTest::newRow("frame bare unknown, no end") << SimProfile::Frame << QByteArray("hello");
        QTest::newRow("line READ, no end") << SimProfile::Line << QByteArray("READ");
        QTest::newRow("line ID CR LF") << SimProfile::Line << QByteArray("ID\r\n");
    }
    void answersCommands()
    {
        QFETCH(SimProfile, profile);
        QFETCH(QByteArray, command);
        SimProcess sim;
        QVERIFY(
            sim.start({QStringLiteral("--profile"), profileName(profile), QStringLiteral("--count"),
                       QStringLiteral("0"), QStringLiteral("--seed"), QStringLiteral("21")}));
        QVERIFY(sim.write(command));
        CommandResponder expected(profile, 21);
        QByteArray answer = expected.feed(command).join();
        answer += expected.quiet().join();
        QVERIFY(!answer.isEmpty());
        QCOMPARE(sim.read(answer.size()), answer);
        QCOMPARE(sim.readMore(), QByteArray());
    }

    // Commands sent while readings stream: every frame and every answer arrives whole.
    void answersBetweenFrames()
    {
        SimProcess sim;
        QVERIFY(sim.start({QStringLiteral("--rate"), QStringLiteral("4000"),
                           QStringLiteral("--interval-ms"), QStringLiteral("0"),
                           QStringLiteral("--count"), QStringLiteral("100"),
                           QStringLiteral("--seed"), QStringLiteral("4")}));
        const QByteArray frames = framesOf(SimProfile::Frame, 4, false, 100);
        CommandResponder responder(SimProfile::Frame, 4);
        QList<QByteArray> answers;
        QByteArray got;
        for (int i = 0; i < 5; ++i) {
            got += sim.read(150, 5000);
            QVERIFY(sim.write("\x02READ\x04"));
            answers += responder.feed("\x02READ\x04");
        }
        qsizetype total = frames.size();
        for (const QByteArray &a : std::as_const(answers))
            total += a.size();
        got += sim.read(total - got.size());
        QCOMPARE(got.size(), total);
        // Take each answer out where it stands; what remains must be the frames exactly.
        for (const QByteArray &a : std::as_const(answers)) {
            const qsizetype at = got.indexOf(a);
            QVERIFY2(at >= 0, "an answer did not arrive whole");
            QVERIFY2(at == 0 || got.at(at - 1) == SimCodes::CR, "an answer cut into a frame");
            got.remove(at, a.size());
        }
        QCOMPARE(got, frames);
    }

    // The monitor closing and re-opening its port (Reset Comm) loses nothing.
    void reopeningTheDeviceLosesNothing()
    {
        SimProcess sim;
        QVERIFY(sim.start({QStringLiteral("--rate"), QStringLiteral("3000"),
                           QStringLiteral("--interval-ms"), QStringLiteral("0"),
                           QStringLiteral("--count"), QStringLiteral("60")}));
        const QByteArray expected = framesOf(SimProfile::Frame, 1, false, 60);
        QByteArray got = sim.read(200);
        for (int i = 0; i < 3; ++i) {
            sim.closeDevice();
            QVERIFY(sim.openDevice());
            got += sim.read(200);
        }
        got += sim.read(expected.size() - got.size());
        QCOMPARE(got, expected);
    }

    void hangsUpAfterFrames_data()
    {
        QTest::addColumn<int>("frames");
        QTest::newRow("after 3") << 3;
        QTest::newRow("at once") << 0;
    }
    // The frames before the hang-up all arrive, then the device is gone, as when an adapter
    // is unplugged, and the link to it is removed.
    void hangsUpAfterFrames()
    {
        QFETCH(int, frames);
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("com4"));
        SimProcess sim;
        QVERIFY(sim.start({QStringLiteral("--rate"), QStringLiteral("0"),
                           QStringLiteral("--interval-ms"), QStringLiteral("0"),
                           QStringLiteral("--hangup-after"), QString::number(frames),
                           QStringLiteral("--link"), link}));
        const QByteArray expected = framesOf(SimProfile::Frame, 1, false, frames);
        QCOMPARE(sim.read(expected.size()), expected);
        QCOMPARE(sim.readMore(5000), QByteArray());
        QVERIFY(sim.hungUp());
        QVERIFY(sim.process().waitForFinished(5000));
        QCOMPARE(sim.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.process().exitCode(), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    void exitsAfterCount()
    {
        SimProcess sim;
        QVERIFY(sim.start({QStringLiteral("--profile"), QStringLiteral("line"),
                           QStringLiteral("--rate"), QStringLiteral("0"),
                           QStringLiteral("--interval-ms"), QStringLiteral("0"),
                           QStringLiteral("--count"), QStringLiteral("5"),
                           QStringLiteral("--exit-after-count")}));
        const QByteArray expected = framesOf(SimProfile::Line, 1, false, 5);
        QCOMPARE(sim.read(expected.size()), expected);
        QVERIFY(sim.process().waitForFinished(5000));
        QCOMPARE(sim.process().exitCode(), 0);
    }

    // Pacing: never faster than the rate (a lower bound only; a busy machine is slower).
    void rateLimitsTheFlow()
    {
        SimProcess sim;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(sim.start({QStringLiteral("--rate"), QStringLiteral("1000"),
                           QStringLiteral("--interval-ms"), QStringLiteral("0"),
                           QStringLiteral("--count"), QStringLiteral("20")}));
        const QByteArray expected = framesOf(SimProfile::Frame, 1, false, 20);
        QCOMPARE(sim.read(expected.size()), expected);
        const qint64 fastest = expected.size() * 1000 / 1000;
        QVERIFY2(
            clock.elapsed() >= fastest * 8 / 10,
            qPrintable(
                QStringLiteral("%1 bytes in %2 ms").arg(expected.size()).arg(clock.elapsed())));
    }

    // --port N is the entry the monitor looks up for COM N, and goes away with the instrument.
    void mapsPortInConfigHome()
    {
        QTemporaryDir config;
        SimProcess sim;
        QVERIFY(sim.start({QStringLiteral("--port"), QStringLiteral("4"), QStringLiteral("--count"),
                           QStringLiteral("0")},
                          withConfigHome(config.path())));
        const QString entry = deviceForPort(4, config.path());
        QCOMPARE(entry, config.path() + QStringLiteral("/commtest/ports/com4"));
        QCOMPARE(QFileInfo(entry).symLinkTarget(), sim.path());
        sim.process().terminate();
        QVERIFY(sim.process().waitForFinished(5000));
        QCOMPARE(sim.process().exitCode(), 0);
        QVERIFY(!QFileInfo(entry).isSymLink());
        QCOMPARE(deviceForPort(4, config.path()), QStringLiteral("/dev/ttyS3"));
    }

    void existingMapping_data()
    {
        columns<QString, bool>("target", "replaced");
        QTest::newRow("a device that is there is kept") << QStringLiteral("/dev/null") << false;
        QTest::newRow("a dangling link is replaced")
            << QStringLiteral("/dev/pts/does-not-exist") << true;
    }
    void existingMapping()
    {
        QFETCH(QString, target);
        QFETCH(bool, replaced);
        QTemporaryDir config;
        QVERIFY(QDir(config.path()).mkpath(QStringLiteral("commtest/ports")));
        const QString entry = config.path() + QStringLiteral("/commtest/ports/com4");
        QVERIFY(QFile::link(target, entry));
        SimProcess sim;
        const bool started = sim.start({QStringLiteral("--port"), QStringLiteral("4")},
                                       withConfigHome(config.path()));
        QCOMPARE(started, replaced);
        if (replaced) {
            QCOMPARE(QFileInfo(entry).symLinkTarget(), sim.path());
            return;
        }
        QVERIFY(sim.process().state() == QProcess::NotRunning ||
                sim.process().waitForFinished(5000));
        QCOMPARE(sim.process().exitCode(), 1);
        const QString err = QString::fromLocal8Bit(sim.process().readAllStandardError());
        QVERIFY2(err.contains(entry) && err.contains(target), qPrintable(err));
        QCOMPARE(QFileInfo(entry).symLinkTarget(), target);
    }

    void refusesBadOptions_data()
    {
        columns<QStringList, QString>("args", "mentions");
        QTest::newRow("profile") << QStringList{QStringLiteral("--profile"),
                                                QStringLiteral("Houillon")}
                                 << QStringLiteral("--profile");
        QTest::newRow("negative rate")
            << QStringList{QStringLiteral("--rate"), QStringLiteral("-1")}
            << QStringLiteral("--rate");
        QTest::newRow("rate not a number")
            << QStringList{QStringLiteral("--rate"), QStringLiteral("fast")}
            << QStringLiteral("--rate");
        QTest::newRow("seed") << QStringList{QStringLiteral("--seed"), QStringLiteral("x")}
                              << QStringLiteral("--seed");
        QTest::newRow("count") << QStringList{QStringLiteral("--count"), QStringLiteral("-3")}
                               << QStringLiteral("--count");
        QTest::newRow("exit without count")
            << QStringList{QStringLiteral("--exit-after-count")} << QStringLiteral("--count");
        QTest::newRow("port 0") << QStringList{QStringLiteral("--port"), QStringLiteral("0")}
                                << QStringLiteral("--port");
        QTest::newRow("port text") << QStringList{QStringLiteral("--port"), QStringLiteral("COM4")}
                                   << QStringLiteral("--port");
        QTest::newRow("link and port")
            << QStringList{QStringLiteral("--port"), QStringLiteral("4"), QStringLiteral("--link"),
                           QStringLiteral("/tmp/x")}
            << QStringLiteral("--link");
        QTest::newRow("unknown option")
            << QStringList{QStringLiteral("--baud"), QStringLiteral("9600")}
            << QStringLiteral("baud");
        QTest::newRow("stray argument") << QStringList{QStringLiteral("4")} << QStringLiteral("4");
    }
    void refusesBadOptions()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, mentions);
        QProcess p;
        p.start(QStringLiteral(COMMTEST_SIM_PATH), args);
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 2);
        QCOMPARE(p.readAllStandardOutput(), QByteArray()); // no device path: nothing was opened
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        QVERIFY2(err.contains(mentions), qPrintable(err));
    }

    void unwritableLogFails()
    {
        QProcess p;
        p.start(QStringLiteral(COMMTEST_SIM_PATH),
                {QStringLiteral("--log"), QStringLiteral("/nonexistent-dir/sent.bin")});
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 1);
        QVERIFY(QString::fromLocal8Bit(p.readAllStandardError())
                    .contains(QStringLiteral("/nonexistent-dir/sent.bin")));
    }
};

QTEST_GUILESS_MAIN(TestSimProgram)
#include "tst_sim_program.moc"
