// The receive path end to end: bytes written on a pty's master side reach the window's
// real serial layer, the panes, the log and the capture file.
#include "capture/capturerecord.h"
#include "receive/lineview.h"
#include "receive/receiverules.h"
#include "support/files.h"
#include "support/monitor.h"
#include "support/tables.h"

#include <QFileInfo>
#include <QLocale>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <thread>

namespace {

// Random frames: any byte but the end codes, then one of the end codes.
QList<QByteArray> randomFrames(qsizetype totalBytes, quint32 seed)
{
    static const char kEnds[] = {'\r', '\n', '\x06', '\x04'};
    QRandomGenerator rng(seed);
    QList<QByteArray> frames;
    qsizetype total = 0;
    while (total < totalBytes) {
        QByteArray f;
        const int length = int(rng.bounded(81));
        f.reserve(length + 1);
        for (int i = 0; i < length; ++i) {
            char c;
            do
                c = char(rng.bounded(256));
            while (c == '\r' || c == '\n' || c == '\x06' || c == '\x04');
            f.append(c);
        }
        f.append(kEnds[rng.bounded(4)]);
        total += f.size();
        frames.append(f);
    }
    return frames;
}

} // namespace

class TestReceivePty : public QObject
{
    Q_OBJECT
    CaptureFolder m_folder;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        QLocale::setDefault(QLocale(QStringLiteral("en_US")));
    }

    void endToEnd_data()
    {
        columns<int, bool, QString, QByteArray, QList<QByteArray>, QByteArray, QByteArray>(
            "profile", "timestamp", "source", "input", "outLines", "file", "lastLog");
        using L = QList<QByteArray>;
        QTest::newRow("frame mode")
            << 0 << false << QString() << QByteArray("abc\r12\n") << L{"2", "bc"}
            << QByteArray("abc,[97:98:99:13]\r\n12,[49:50:10]\r\n")
            << QByteArray("Bffr[3] = [\n: 10]");
        QTest::newRow("frame mode, CR LF")
            << 0 << false << QString() << QByteArray("OK\r\n") << L{"", "K"}
            << QByteArray("OK,[79:75:13]\r\n,[10]\r\n") << QByteArray("Bffr[1] = [\n: 10]");
        QTest::newRow("line mode with timestamp and source")
            << 2 << true << QStringLiteral("S1") << QByteArray("12.5\r\n") << L{"12.5\r", ""}
            << QByteArray("12/7/2026 2:03:05 PM, S1,12.5\r,[49:50:46:53:13:10]\r\n")
            << QByteArray("Bffr[6] = [\n: 10]");
        QByteArray all;
        for (int c = 0; c < 256; ++c)
            all.append(char(c));
        all.append('\n');
        QTest::newRow("line mode, every byte value")
            << 2 << false << QString() << all << L{all.left(10), all.mid(11, 245), ""}
            << captureRecord({}, all.left(11)) + captureRecord({}, all.mid(11))
            << QByteArray("Bffr[246] = [\n: 10]");
    }
    void endToEnd()
    {
        QFETCH(int, profile);
        QFETCH(bool, timestamp);
        QFETCH(QString, source);
        QFETCH(QByteArray, input);
        QFETCH(QList<QByteArray>, outLines);
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, lastLog);
        PtyMonitor w;
        QVERIFY(w.portOpen());
        const QDateTime pinned(QDate(2026, 12, 7), QTime(14, 3, 5));
        w.form->setClock([&] { return pinned; });
        w.pick(profile);
        const QString path = m_folder.newPath();
        QVERIFY(w.startCapture(path, timestamp, source));
        w.monitor(true);
        QVERIFY(w.pty->write(input));
        QTRY_COMPARE(readFile(path), file);
        QCOMPARE(w.outLines(), outLines);
        QCOMPARE(w.bffr()->lineCount(), input.size());
        QCOMPARE(w.bffr()->line(0).left(8), QByteArray("Bffr[1] "));
        QCOMPARE(w.bffr()->line(input.size() - 1), lastLog);
        QVERIFY(w.form->frameBuffer().isEmpty());
    }

    // The indicator follows real time: green while characters come, red after. One
    // character late in a second may never show green (ticks come every 500 ms), so
    // characters keep coming until it does.
    void indicatorWithRealClock()
    {
        PtyMonitor w;
        QVERIFY(w.portOpen());
        w.monitor(true);
        QTRY_COMPARE_WITH_TIMEOUT(w.led(), QColor(Qt::red), 2000);
        int sent = 0;
        QTimer sender;
        sender.setInterval(100);
        QObject::connect(&sender, &QTimer::timeout, &sender, [&] {
            if (w.pty->write("x"))
                ++sent;
        });
        sender.start();
        QTRY_COMPARE_WITH_TIMEOUT(w.led(), QColor(0, 255, 0), 5000);
        sender.stop();
        QTRY_COMPARE_WITH_TIMEOUT(w.led(), QColor(Qt::red), 4000);
        QTRY_COMPARE(w.form->frameBuffer(), QByteArray(sent, 'x'));
    }

    // 2 MB of random frames at full speed: every frame in the capture file, in order, and
    // the panes within their bounds.
    void load()
    {
        PtyMonitor w;
        QVERIFY(w.portOpen());
        const QString path = m_folder.newPath();
        QVERIFY(w.startCapture(path));
        w.monitor(true);

        const QList<QByteArray> frames = randomFrames(2 * 1000 * 1000, 42);
        QByteArray wire;
        QByteArray expected;
        for (const QByteArray &f : frames) {
            wire += f;
            appendCaptureRecord(expected, {}, f);
        }
        bool written = false;
        std::thread writer([&] { written = w.pty->write(wire, 120000); });
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(path).size() >= expected.size(), 120000);
        writer.join();
        QVERIFY(written);
        const QByteArray file = readFile(path);
        QCOMPARE(file.size(), expected.size());
        QVERIFY2(file == expected, "the capture file differs from the frames sent");

        QCOMPARE(w.bffr()->lineCount(), 100000);
        QByteArray lastLog;
        formatBufferLogLine(lastLog, frames.back().size(), frames.back().back());
        QCOMPARE(w.bffr()->line(99999), lastLog);
        QCOMPARE(w.out()->lineCount(), std::min<qsizetype>(frames.size(), 10000));
        QCOMPARE(w.out()->line(0), stripFrame(frames.back()));
        QCOMPARE(w.out()->line(1), stripFrame(frames.at(frames.size() - 2)));
        QVERIFY(w.form->frameBuffer().isEmpty());
    }
};

QTEST_MAIN(TestReceivePty)
#include "tst_receive_pty.moc"
