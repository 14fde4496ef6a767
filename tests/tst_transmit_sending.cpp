// The rules behind repeated and file sending: when a repeat sends or skips, how much of a
// file the port is given, and every way a file can fail to be read.
#include "support/files.h"
#include "support/tables.h"
#include "transmit/filetransfer.h"
#include "transmit/repeatschedule.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

class TestTransmitSending : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // ticks: one character per tick, '.' the port is idle, 'B' it still holds bytes.
    // steps: S send, K skip, D done.
    void repeatSchedule_data()
    {
        columns<int, QString, QString, QString>("count", "ticks", "steps", "status");
        QTest::newRow("count 3, idle port")
            << 3 << u"...."_qs << u"SSSD"_qs << u"Repeating every 20 ms: 3 of 3 sent"_qs;
        QTest::newRow("busy ticks are skipped, not sent later")
            << 3 << u".BB.B.."_qs << u"SKKSKSD"_qs
            << u"Repeating every 20 ms: 3 of 3 sent, 3 skipped while the port was busy"_qs;
        QTest::newRow("count 0 runs until stopped")
            << 0 << u"..B..."_qs << u"SSKSSS"_qs
            << u"Repeating every 20 ms: 5 sent, 1 skipped while the port was busy"_qs;
        QTest::newRow("a port that never empties sends once")
            << 2 << u".BBBBBBB"_qs << u"SKKKKKKK"_qs
            << u"Repeating every 20 ms: 1 of 2 sent, 7 skipped while the port was busy"_qs;
    }
    void repeatSchedule()
    {
        QFETCH(int, count);
        QFETCH(QString, ticks);
        QFETCH(QString, steps);
        QFETCH(QString, status);

        RepeatSchedule r(20, count);
        QString got;
        for (QChar t : ticks) {
            switch (r.tick(t == u'B')) {
            case RepeatSchedule::Step::Send:
                got += u'S';
                r.sent();
                break;
            case RepeatSchedule::Step::Skip:
                got += u'K';
                break;
            case RepeatSchedule::Step::Done:
                got += u'D';
                break;
            }
        }
        QCOMPARE(got, steps);
        QCOMPARE(r.statusText(), status);
    }

    // A simulated port that takes `rate` bytes per ms, looked at every 2 ms for 20 s: it is
    // kept busy, and never holds more than leaves in about two tenths of a second.
    void pacingFollowsThePort_data()
    {
        columns<double>("rate");
        QTest::newRow("9600 baud") << 0.96;
        QTest::newRow("115200 baud") << 11.52;
        QTest::newRow("1 Mbaud") << 100.0;
        QTest::newRow("a pty, as fast as the pacing allows") << 1e9;
        QTest::newRow("flow control holds it") << 0.0;
    }
    void pacingFollowsThePort()
    {
        QFETCH(double, rate);
        SendPacing pacing;
        double queued = 0;
        double written = 0;
        double maxQueued = 0;
        const int tickMs = 2;
        const int ticks = 10000;
        for (int i = 0; i < ticks; ++i) {
            const qint64 n = pacing.next(qint64(queued), qint64(i) * tickMs);
            queued += double(n);
            written += double(n);
            maxQueued = std::max(maxQueued, queued);
            queued = std::max(0.0, queued - rate * tickMs);
        }
        QVERIFY2(maxQueued <= double(SendPacing::kMax), qPrintable(QString::number(maxQueued)));
        const double took = written - queued;
        const double couldTake = std::min(rate * tickMs, double(SendPacing::kMax)) * ticks;
        if (rate > 0)
            QVERIFY2(took >= 0.9 * couldTake,
                     qPrintable(QStringLiteral("%1 of %2").arg(took).arg(couldTake)));
        else
            QCOMPARE(written, double(SendPacing::kStart));
        // What the port holds leaves soon: a cancel stops the line within about that.
        if (rate > 0 && rate * tickMs < SendPacing::kMax)
            QVERIFY2(maxQueued <=
                         std::max(rate * 2 * SendPacing::kTargetMs, 2.0 * SendPacing::kStart),
                     qPrintable(QString::number(maxQueued)));
    }

    void progressTexts_data()
    {
        columns<qint64, double, QString, QString>("left", "rate", "rateText", "timeLeft");
        QTest::newRow("unknown rate") << qint64(100) << 0.0 << u"0 B/s"_qs << QString();
        QTest::newRow("bytes") << qint64(960) << 960.0 << u"960 B/s"_qs << u"0:01 left"_qs;
        QTest::newRow("part of a second rounds up")
            << qint64(961) << 960.0 << u"960 B/s"_qs << u"0:02 left"_qs;
        QTest::newRow("KiB") << qint64(11520 * 75) << 11520.0 << u"11.3 KiB/s"_qs
                             << u"1:15 left"_qs;
        QTest::newRow("MiB, hours")
            << qint64(3 * 1048576) * 3723 << 3.0 * 1048576 << u"3.0 MiB/s"_qs << u"1:02:03 left"_qs;
    }
    void progressTexts()
    {
        QFETCH(qint64, left);
        QFETCH(double, rate);
        QFETCH(QString, rateText);
        QFETCH(QString, timeLeft);
        QCOMPARE(::rateText(rate), rateText);
        QCOMPARE(::timeLeftText(left, rate), timeLeft);
    }

    // kind: how the path is made; error: what the message says.
    void fileFaults_data()
    {
        columns<QString, QString>("kind", "error");
        QTest::newRow("missing") << u"missing"_qs << u"does not exist"_qs;
        QTest::newRow("a folder") << u"folder"_qs << u"is a folder"_qs;
        QTest::newRow("empty") << u"empty"_qs << u"is empty: there is nothing to send"_qs;
        QTest::newRow("no read permission") << u"no permission"_qs << u"cannot be read"_qs;
        QTest::newRow("a pipe") << u"fifo"_qs << u"not a regular file"_qs;
    }
    void fileFaults()
    {
        QFETCH(QString, kind);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"f"_qs);
        std::optional<PermissionsEnforced> permissions;
        if (kind == u"folder") {
            QVERIFY(QDir(dir.path()).mkdir(u"f"_qs));
        } else if (kind == u"empty") {
            QVERIFY(!writeRandomFile(dir.path(), u"f"_qs, 0).isEmpty());
        } else if (kind == u"no permission") {
            QVERIFY(!writeRandomFile(dir.path(), u"f"_qs, 10).isEmpty());
            QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
            permissions.emplace();
            if (!permissions->active())
                QSKIP("root's permission override could not be set aside");
        } else if (kind == u"fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        }
        FileChunkReader reader;
        QVERIFY(!reader.open(path));
        QVERIFY2(reader.error().contains(error), qPrintable(reader.error()));
        QVERIFY2(reader.error().contains(path), qPrintable(reader.error()));
    }

    // change: what happens to the file after the first chunk.
    void fileChangesWhileRead_data()
    {
        columns<QString, QString>("change", "error");
        QTest::newRow("nothing") << u"nothing"_qs << QString();
        QTest::newRow("removed") << u"removed"_qs << u"was removed while it was being sent"_qs;
        QTest::newRow("cut short") << u"cut short"_qs << u"became shorter"_qs;
        QTest::newRow("grown") << u"grown"_qs << QString(); // the size at the start is sent
    }
    void fileChangesWhileRead()
    {
        QFETCH(QString, change);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const qint64 size = 100000;
        const QString path = writeRandomFile(dir.path(), u"f"_qs, size);
        const QByteArray content = readFile(path);
        FileChunkReader reader;
        QVERIFY(reader.open(path));
        QCOMPARE(reader.size(), size);
        QByteArray got = reader.read(4096).value_or("<failed>");
        if (change == u"removed")
            QVERIFY(QFile::remove(path));
        else if (change == u"cut short")
            QVERIFY(QFile(path).resize(50000));
        else if (change == u"grown")
            QVERIFY(QFile(path).resize(size + 5000));
        while (!reader.atEnd()) {
            const std::optional<QByteArray> chunk = reader.read(30000);
            if (!chunk)
                break;
            got += *chunk;
        }
        if (error.isEmpty()) {
            QVERIFY(reader.error().isEmpty());
            QVERIFY(got == content);
        } else {
            QVERIFY2(reader.error().contains(error), qPrintable(reader.error()));
            QVERIFY(!reader.atEnd());
            QVERIFY(content.startsWith(got));
        }
    }
};

QTEST_APPLESS_MAIN(TestTransmitSending)
#include "tst_transmit_sending.moc"
