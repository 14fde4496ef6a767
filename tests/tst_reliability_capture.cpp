// Faults of the capture file, end to end: the medium fills up, a file size limit is hit,
// the folder is made read-only or removed while frames keep arriving. Frames come over a
// pty into the whole monitor; capture is switched on through the window's set-up.
#include "capture/capturerecord.h"
#include "support/reliability.h"

#include <QProcess>
#include <QSocketNotifier>
#include <QTemporaryDir>

#include <csignal>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace reliability;

namespace {

QList<QByteArray> numberedFrames(int from, int count)
{
    QList<QByteArray> frames;
    for (int i = from; i < from + count; ++i)
        frames.append(numberedFrame(i));
    return frames;
}

QByteArray joined(const QList<QByteArray> &frames)
{
    QByteArray out;
    for (const QByteArray &f : frames)
        out += f;
    return out;
}

// How many whole records of frames the file holds, or -1 when it is not exactly a
// sequence of them.
int wholeRecords(const QByteArray &file, const QList<QByteArray> &frames)
{
    QByteArray expected;
    for (int k = 0; k <= frames.size(); ++k) {
        if (expected == file)
            return k;
        if (k == frames.size() || expected.size() > file.size())
            break;
        expected += captureRecord(QByteArrayView(), frames[k]);
    }
    return -1;
}

bool g_privateMounts = false;

// Mounts made here stay private to this process and vanish with it.
bool enterPrivateMountNamespace()
{
    return ::unshare(CLONE_NEWNS) == 0 &&
           ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

class Mounted
{
public:
    explicit Mounted(QString where)
        : m_where(std::move(where))
    {}
    ~Mounted()
    {
        if (ok)
            ::umount2(QFile::encodeName(m_where).constData(), MNT_DETACH);
    }
    bool ok = false;

private:
    QString m_where;
};

} // namespace

class TestReliabilityCapture : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { g_privateMounts = enterPrivateMountNamespace(); }

    void mediumFull_data()
    {
        QTest::addColumn<QString>("medium");
        QTest::newRow("disk full (64 KiB tmpfs)") << QStringLiteral("tmpfs");
        QTest::newRow("disk full (/dev/full)") << QStringLiteral("/dev/full");
    }
    // The medium fills up while frames arrive: the file ends on the last whole record that
    // fitted, capture stops with one report, and receiving goes on without a pause.
    void mediumFull()
    {
        QFETCH(QString, medium);
        Report report(
            QStringLiteral("disk full: %1")
                .arg(medium == u"tmpfs" ? QStringLiteral("64 KiB tmpfs") : medium),
            QStringLiteral(
                "only whole records; capture stops with one report; receiving goes on; no hang"));
        QTemporaryDir dir;
        QString path = medium;
        std::unique_ptr<Mounted> mount;
        if (medium == u"tmpfs") {
            if (!g_privateMounts)
                QSKIP("needs mount rights for a small tmpfs");
            mount = std::make_unique<Mounted>(dir.path());
            mount->ok = ::mount("tmpfs", QFile::encodeName(dir.path()).constData(), "tmpfs", 0,
                                "size=64k") == 0;
            QVERIFY2(mount->ok, std::strerror(errno));
            path = dir.filePath(QStringLiteral("capture.txt"));
        }

        StderrTap tap;
        RunningMonitor m;
        QVERIFY(m.startCapture(path));
        TickWatch ticks;
        const QList<QByteArray> frames = numberedFrames(0, 1000);
        const QByteArray wire = joined(frames);
        WireWriter writer(*m.pty, wire);
        QTRY_COMPARE_WITH_TIMEOUT(m.loggedBytes().size(), wire.size(), 30000);
        QVERIFY(writer.join());
        RunningMonitor::settle();
        ticks.stop();

        QVERIFY2(!ticks.stalled(), ticks.describe().constData());
        QCOMPARE(m.loggedBytes(), wire);
        QVERIFY(!m.form->captureEnabled());
        QVERIFY(!m.child<QCheckBox>("chk_file")->isChecked());
        QCOMPARE(tap.count("commtest:"), 1);
        QCOMPARE(tap.count("Capture stopped"), 1);
        QVERIFY2(tap.text().contains("No space left on device"), tap.text().constData());

        report.sent = frames.size();
        if (medium == u"tmpfs") {
            const QByteArray file = readFile(path);
            const int k = wholeRecords(file, frames);
            QVERIFY2(k > 0 && k < frames.size(), qPrintable(QString::number(k)));
            // It stopped because the medium was full, not for another reason.
            QVERIFY(file.size() + captureRecord(QByteArrayView(), frames[k]).size() > 64 * 1024);
            report.captured = k;
        } else {
            report.captured = 0;
        }
        report.lost = 0;
        report.note = QStringLiteral(
                          "%1 frames after the medium filled were received and shown, not captured")
                          .arg(report.sent - report.captured);
    }

    // A file size limit (RLIMIT_FSIZE) stops the writing: the monitor, running as a child
    // under the limit, is not killed by SIGXFSZ, keeps whole records only and reports once.
    void fileSizeLimit()
    {
        Report report(
            QStringLiteral("file size limit (RLIMIT_FSIZE 8 KiB)"),
            QStringLiteral(
                "not killed by SIGXFSZ; only whole records; one report; receiving goes on"));
        const int limit = 8192;
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("capture.txt"));
        PtyPort device(4); // the mapping is inherited by the child through XDG_CONFIG_HOME
        QVERIFY(device.ok());

        StderrTap tap; // the child's stderr is ours
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--child-capture"), path, QString::number(limit)});
        QVERIFY(child.waitForStarted(10000));
        QVERIFY(child.waitForReadyRead(20000));
        QCOMPARE(child.readLine().trimmed(), QByteArray("ready"));

        const QList<QByteArray> frames = numberedFrames(0, 200);
        const QByteArray wire = joined(frames);
        QVERIFY(device.pty->write(wire, 30000));
        // Ask the child how many characters it has logged until it has all of them.
        QByteArray answer;
        for (QDeadlineTimer deadline(30000); !deadline.hasExpired();) {
            child.write("?\n");
            if (!child.waitForReadyRead(5000))
                break;
            answer = child.readLine().trimmed();
            if (answer.toLongLong() == wire.size())
                break;
        }
        QCOMPARE(answer.toLongLong(), qint64(wire.size()));
        child.closeWriteChannel();
        QVERIFY(child.waitForFinished(20000));
        const QByteArray summary = child.readAllStandardOutput().trimmed();
        QCOMPARE(child.exitStatus(), QProcess::NormalExit); // SIGXFSZ would end it otherwise
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(summary, QByteArray("capture=off box=unchecked"));

        const QByteArray file = readFile(path);
        const int k = wholeRecords(file, frames);
        QVERIFY2(k > 0 && k < frames.size(), qPrintable(QString::number(k)));
        QVERIFY(file.size() <= limit);
        QVERIFY(file.size() + captureRecord(QByteArrayView(), frames[k]).size() > limit);
        QCOMPARE(tap.count("Capture stopped"), 1);
        QCOMPARE(tap.count("commtest:"), 1);
        QVERIFY2(tap.text().contains("File too large"), tap.text().constData());
        report.sent = frames.size();
        report.captured = k;
        report.lost = 0;
        report.note = QStringLiteral("%1 frames past the limit were received, not captured")
                          .arg(frames.size() - k);
    }

    void folderChanged_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("folder made read-only (mode 0555)") << QStringLiteral("chmod");
        QTest::newRow("folder re-mounted read-only") << QStringLiteral("remount");
        QTest::newRow("folder removed") << QStringLiteral("remove");
    }
    // What Linux does: a file that is open stays writable when its folder is made
    // read-only, so records go on into it, none lost or cut, and no error is reported
    // because none occurs. A removed file would take writes nobody can read: capture stops. A new set-up in a read-only folder is refused
    // with a report and the running capture goes on.
    void folderChanged()
    {
        QFETCH(QString, change);
        Report report(
            QStringLiteral("capture %1").arg(QString::fromLatin1(QTest::currentDataTag())),
            change == u"remove"
                ? QStringLiteral(
                      "the removal stops capture with one report; records before it whole")
                : QStringLiteral("records go on into the open file, none cut; a new file there "
                                 "refused (unless root ignores the mode)"));
        if (change == u"remount" && !g_privateMounts)
            QSKIP("needs mount rights for a read-only bind mount");
        QTemporaryDir base;
        const QString folder = base.filePath(QStringLiteral("captures"));
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + QStringLiteral("/capture.txt");

        StderrTap tap;
        RunningMonitor m;
        QVERIFY(m.startCapture(path));
        const QList<QByteArray> before = numberedFrames(0, 300);
        QVERIFY(m.pty->write(joined(before)));
        QTRY_COMPARE_WITH_TIMEOUT(readFile(path), recordsOf(before), 10000);

        Mounted bind(folder);
        if (change == u"chmod") {
            QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner |
                                                      QFile::ReadGroup | QFile::ExeGroup |
                                                      QFile::ReadOther | QFile::ExeOther));
        } else if (change == u"remount") {
            const QByteArray f = QFile::encodeName(folder);
            bind.ok = ::mount(f.constData(), f.constData(), nullptr, MS_BIND, nullptr) == 0;
            QVERIFY2(bind.ok, std::strerror(errno));
            QVERIFY2(::mount(nullptr, f.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                             nullptr) == 0,
                     std::strerror(errno));
        } else {
            QVERIFY(QDir(folder).removeRecursively());
            QVERIFY(!QFileInfo::exists(folder));
        }

        const QList<QByteArray> after = numberedFrames(300, 300);
        QVERIFY(m.pty->write(joined(after)));
        QTRY_COMPARE_WITH_TIMEOUT(m.loggedBytes().size(),
                                  joined(before).size() + joined(after).size(), 10000);
        RunningMonitor::settle();
        const QList<QByteArray> all = before + after;
        if (change == u"remove") {
            // Writes into a file nobody can read any more would be lost while looking
            // fine: capture stops at the first one, with one report.
            QVERIFY(!m.form->captureEnabled());
            QCOMPARE(tap.count("commtest:"), 1);
            QCOMPARE(tap.count("the file was removed"), 1);
            report.sent = all.size();
            report.captured = before.size();
            report.lost = 0;
            report.note =
                QStringLiteral("%1 frames after the removal were received and shown, not captured; "
                               "capture stopped with one report")
                    .arg(after.size());
            return;
        }
        const QByteArray content = readFile(path);
        QCOMPARE(content, recordsOf(all));
        QVERIFY(m.form->captureEnabled());
        QCOMPARE(tap.count("commtest:"), 0);
        report.sent = all.size();
        report.captured = wholeRecords(content, all);
        report.lost = all.size() - report.captured;

        // Switched off, the file is closed whole; a new capture file in that folder is
        // refused with a report where the folder really is read-only (root ignores the
        // mode bits).
        m.child<QCheckBox>("chk_file")->setChecked(false);
        QVERIFY(!m.form->captureEnabled());
        QCOMPARE(readFile(path), recordsOf(all));
        const QString second = folder + QStringLiteral("/second.txt");
        const bool refused = change == u"remount" || ::geteuid() != 0;
        QCOMPARE(m.startCapture(second), !refused);
        QCOMPARE(QFileInfo::exists(second), !refused);
        if (refused) {
            QCOMPARE(tap.count("commtest:"), 1);
            QCOMPARE(
                tap.count(change == u"remount" ? "Read-only file system" : "Permission denied"), 1);
            report.note = QStringLiteral("a new capture file there was refused with one report");
        } else {
            QCOMPARE(tap.count("commtest:"), 0);
            report.note = QStringLiteral(
                "running as root, which ignores the mode: a new file there could be created");
        }
    }
};

namespace {

// The monitor under a file size limit, capturing to path, answering "?" on stdin with the
// number of characters it has logged; at the end of its input it says whether capture is
// still on.
int captureUnderLimit(int argc, char **argv, const QString &path, int limit)
{
    rlimit rl{rlim_t(limit), rlim_t(limit)};
    ::setrlimit(RLIMIT_FSIZE, &rl);
    ::signal(SIGXFSZ, SIG_DFL); // as a fresh program has it: the writer must handle it
    QApplication app(argc, argv);
    Monitor m(std::make_unique<SerialControl>());
    m.form->show();
    m.monitor(true);
    const bool started = m.startCapture(path);
    std::printf("%s\n", started ? "ready" : "capture did not start");
    std::fflush(stdout);

    QSocketNotifier input(0, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buf[256];
        const ssize_t n = ::read(0, buf, sizeof buf);
        if (n <= 0) {
            input.setEnabled(false);
            app.quit();
            return;
        }
        pending.append(buf, n);
        while (pending.contains('\n')) {
            pending.remove(0, pending.indexOf('\n') + 1);
            std::printf("%lld\n", qint64(m.bffr()->lineCount()));
            std::fflush(stdout);
        }
    });
    app.exec();
    std::printf("capture=%s box=%s\n", m.form->captureEnabled() ? "on" : "off",
                m.child<QCheckBox>("chk_file")->isChecked() ? "checked" : "unchecked");
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && qstrcmp(argv[1], "--child-capture") == 0) {
        int one = 1;
        return captureUnderLimit(one, argv, QString::fromLocal8Bit(argv[2]),
                                 QByteArray(argv[3]).toInt());
    }
    QApplication app(argc, argv);
    TestReliabilityCapture test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_reliability_capture.moc"
