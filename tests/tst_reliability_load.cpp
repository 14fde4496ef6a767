// Load, end to end through a pty into the whole monitor with capture on: a 10 MiB stream
// that never ends a frame, frames of 100,000 characters, every byte value cut into writes
// of every size, and a 64 KiB command of every byte value sent while a flood arrives.
#include "capture/capturerecord.h"
#include "support/reliability.h"
#include "support/tables.h"

#include <QRandomGenerator>
#include <QTemporaryDir>

#include <poll.h>

using namespace reliability;

namespace {

bool endsFrame(char c, bool lineMode)
{
    return c == '\n' || (!lineMode && (c == '\r' || c == '\x06' || c == '\x04'));
}

// Bytes of every value that does not end a frame, in a fixed pseudo-random order.
QByteArray noEnd(qsizetype size, bool lineMode, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray out(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i) {
        char c;
        do
            c = char(random.bounded(256));
        while (endsFrame(c, lineMode));
        out[i] = c;
    }
    return out;
}

QList<QByteArray> framesOf(const QByteArray &stream, bool lineMode, QByteArray *rest)
{
    QList<QByteArray> frames;
    qsizetype start = 0;
    for (qsizetype i = 0; i < stream.size(); ++i) {
        if (endsFrame(stream[i], lineMode)) {
            frames.append(stream.mid(start, i + 1 - start));
            start = i + 1;
        }
    }
    *rest = stream.mid(start);
    return frames;
}

struct ParsedRecord
{
    QByteArray text;
    QList<int> codes;
};

// Reads a capture file whose frame texts hold no line feed; false when it is malformed.
bool parseFile(const QByteArray &file, QList<ParsedRecord> *records)
{
    qsizetype at = 0;
    while (at < file.size()) {
        const qsizetype end = file.indexOf("]\r\n", at);
        if (end < 0)
            return false;
        const qsizetype open = file.lastIndexOf('[', end);
        if (open <= at || file[open - 1] != ',')
            return false;
        ParsedRecord r;
        r.text = file.mid(at, open - 1 - at);
        const QByteArray list = file.mid(open + 1, end - open - 1);
        if (!list.isEmpty())
            for (const QByteArray &code : list.split(':'))
                r.codes.append(code.toInt());
        records->append(std::move(r));
        at = end + 3;
    }
    return true;
}

// Reads what the monitor sends, on a thread of its own, until `count` bytes came.
class WireReader
{
public:
    WireReader(Pty &pty, qsizetype count)
        : m_thread([this, &pty, count] {
            m_data = pty.read(count, 60000);
            m_done = true;
        })
    {}
    ~WireReader() { join(); }
    bool done() const { return m_done; }
    QByteArray join()
    {
        if (m_thread.joinable())
            m_thread.join();
        return m_data;
    }

private:
    QByteArray m_data;
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

} // namespace

class TestReliabilityLoad : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void streamWithoutEnd_data() { lineModeRows(); }
    // 10 MiB without an end character: the window keeps running, the capture file holds
    // it in pieces that together give back every byte, and the operator is told once.
    void streamWithoutEnd()
    {
        QFETCH(bool, lineMode);
        Report report(ofRow("10 MiB without an end character"),
                      QStringLiteral("pieces' texts plus the frame still open give back every "
                                     "byte; one report; no hang"));
        const QByteArray stream = noEnd(10 * 1024 * 1024, lineMode, 10);
        StderrTap tap;
        RunningMonitor m;
        const QString path = m.captures.newPath();
        QVERIFY(m.startCapture(path));
        if (lineMode)
            m.setProfile(2);
        TickWatch ticks;
        {
            WireWriter writer(*m.pty, stream, 64 * 1024);
            QTRY_VERIFY_WITH_TIMEOUT(writer.done(), 120000);
            QVERIFY(writer.join());
        }
        QVERIFY(m.waitQuiet(120000));
        ticks.stop();
        QList<ParsedRecord> records;
        QVERIFY(parseFile(readFile(path), &records));

        QByteArray rebuilt;
        for (const ParsedRecord &r : std::as_const(records))
            rebuilt += r.text;
        rebuilt += m.form->frameBuffer();
        QCOMPARE(rebuilt.size(), stream.size());
        QVERIFY(rebuilt == stream);
        // Each piece's codes are its own bytes: its text and the first byte of what follows.
        qsizetype at = 0;
        for (const ParsedRecord &r : std::as_const(records)) {
            const QByteArray piece = stream.mid(at, r.text.size() + 1);
            QCOMPARE(r.codes.size(), blankTrimmedLength(piece));
            for (qsizetype i = 0; i < r.codes.size(); ++i)
                if (r.codes[i] != uchar(piece[i]))
                    QFAIL(qPrintable(QStringLiteral("code %1 of a piece at %2").arg(i).arg(at)));
            at += r.text.size();
        }
        QCOMPARE(tap.count("commtest:"), 1);
        QCOMPARE(tap.count("without an end character"), 1);
        QVERIFY2(!ticks.stalled(), ticks.describe().constData());
        report.sent = stream.size();
        report.captured = rebuilt.size() - m.form->frameBuffer().size();
        report.lost = stream.size() - rebuilt.size();
        report.note = QStringLiteral("bytes, not records: %1 pieces written, %2 bytes still in the "
                                     "open frame; longest pause %3 ms")
                          .arg(records.size())
                          .arg(m.form->frameBuffer().size())
                          .arg(ticks.longestGapMs());
    }

    void longFrames_data() { lineModeRows(); }
    // Frames of 100,000 characters are records like any other: whole, every code listed.
    void longFrames()
    {
        QFETCH(bool, lineMode);
        Report report(
            ofRow("frames of 100,000 characters"),
            QStringLiteral("each frame one whole record, byte for byte; no report; no hang"));
        QList<QByteArray> frames;
        QByteArray wire;
        for (int i = 0; i < 5; ++i) {
            frames.append(noEnd(99999, lineMode, 100 + i) +
                          (lineMode ? '\n' : "\r\x06\x04\n"[i % 4]));
            wire += frames.back();
        }
        StderrTap tap;
        RunningMonitor m;
        const QString path = m.captures.newPath();
        QVERIFY(m.startCapture(path));
        if (lineMode)
            m.setProfile(2);
        TickWatch ticks;
        const QByteArray expected = recordsOf(frames);
        {
            WireWriter writer(*m.pty, wire);
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(path).size() >= expected.size(), 60000);
            QVERIFY(writer.join());
        }
        ticks.stop();
        const QByteArray file = readFile(path);
        QVERIFY(file == expected);
        QVERIFY(m.form->frameBuffer().isEmpty());
        QCOMPARE(tap.count("commtest:"), 0);
        QVERIFY2(!ticks.stalled(), ticks.describe().constData());
        report.sent = frames.size();
        report.captured = frames.size();
        report.lost = 0;
        report.note = QStringLiteral("longest pause %1 ms").arg(ticks.longestGapMs());
    }

    void everyByteAnyCut_data()
    {
        // cut: bytes per write; 0: pseudo-random sizes 1 to 97
        columns<bool, int>("lineMode", "cut");
        QTest::newRow("frame mode, 1 byte per write") << false << 1;
        QTest::newRow("frame mode, writes of 1 to 97") << false << 0;
        QTest::newRow("frame mode, one write of all") << false << -1;
        QTest::newRow("line mode, 1 byte per write") << true << 1;
        QTest::newRow("line mode, writes of 1 to 97") << true << 0;
        QTest::newRow("line mode, one write of all") << true << -1;
    }
    // Every byte value 0..255 on the wire, cut into writes of any size: the capture file is
    // the same whatever the cut, and exactly the records of the frames sent.
    void everyByteAnyCut()
    {
        QFETCH(bool, lineMode);
        QFETCH(int, cut);
        Report report(
            ofRow("every byte value 0..255 on the wire"),
            QStringLiteral("capture file equals the records of the frames sent, whatever the cut"));
        QByteArray stream;
        QRandomGenerator random(7);
        for (int round = 0; round < 16; ++round) {
            QByteArray values(256, Qt::Uninitialized);
            for (int v = 0; v < 256; ++v)
                values[v] = char(v);
            std::shuffle(values.begin(), values.end(), random);
            stream += values;
        }
        stream += lineMode ? "\n" : "\r";
        QByteArray rest;
        const QList<QByteArray> frames = framesOf(stream, lineMode, &rest);
        QVERIFY(rest.isEmpty());

        RunningMonitor m;
        const QString path = m.captures.newPath();
        QVERIFY(m.startCapture(path));
        if (lineMode)
            m.setProfile(2);
        const QByteArray expected = recordsOf(frames);
        if (cut == 0) {
            // Small enough for the kernel's buffer, so writing here cannot block.
            qsizetype at = 0;
            QList<QByteArray> parts;
            while (at < stream.size()) {
                const qsizetype n = std::min<qsizetype>(1 + random.bounded(97), stream.size() - at);
                parts.append(stream.mid(at, n));
                at += n;
            }
            for (const QByteArray &p : std::as_const(parts)) {
                QVERIFY(m.pty->write(p));
                QCoreApplication::processEvents();
            }
        } else {
            WireWriter writer(*m.pty, stream, cut < 0 ? stream.size() : cut);
            QTRY_VERIFY_WITH_TIMEOUT(writer.done(), 30000);
            QVERIFY(writer.join());
        }
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(path).size() >= expected.size(), 30000);
        QCOMPARE(readFile(path), expected);
        QCOMPARE(m.loggedBytes(), stream);
        report.sent = frames.size();
        report.captured = frames.size();
        report.lost = 0;
    }

    // A 64 KiB command made of every byte value goes out whole and in order while a flood
    // of frames comes in, and every frame of the flood is captured.
    void longCommandDuringFlood()
    {
        Report report(
            QStringLiteral("64 KiB command of every byte value during a flood"),
            QStringLiteral("the command arrives whole; every flood frame captured; no hang"));
        QByteArray command;
        for (int round = 0; round < 256; ++round)
            for (int v = 0; v < 256; ++v)
                command += char(v);
        QList<QByteArray> frames;
        QByteArray flood;
        for (int i = 0; i < 20000; ++i) {
            frames.append(numberedFrame(i));
            flood += frames.back();
        }
        RunningMonitor m;
        const QString path = m.captures.newPath();
        QVERIFY(m.startCapture(path));
        TickWatch ticks;
        const QByteArray expected = recordsOf(frames);
        WireReader reader(*m.pty, command.size());
        WireWriter writer(*m.pty, flood, 1024);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(path).size() > 0, 10000);
        auto *box = m.child<QLineEdit>("txt_send");
        box->setText(QString::fromLatin1(command));
        QCOMPARE(box->text().size(), command.size());
        m.child<QPushButton>("cmd_Send")->click();
        QCOMPARE(box->text(), QString());
        QTRY_VERIFY_WITH_TIMEOUT(reader.done(), 60000);
        QTRY_VERIFY_WITH_TIMEOUT(writer.done(), 60000);
        QVERIFY(writer.join());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(path).size() >= expected.size(), 60000);
        ticks.stop();
        const QByteArray arrived = reader.join();
        QCOMPARE(arrived.size(), command.size());
        QVERIFY(arrived == command);
        QVERIFY(readFile(path) == expected);
        QVERIFY2(!ticks.stalled(), ticks.describe().constData());
        report.sent = frames.size();
        report.captured = frames.size();
        report.lost = 0;
        report.note = QStringLiteral("command bytes on the wire: %1 of %2")
                          .arg(arrived.size())
                          .arg(command.size());
    }
};

QTEST_MAIN(TestReliabilityLoad)
#include "tst_reliability_load.moc"
