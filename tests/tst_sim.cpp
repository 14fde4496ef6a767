// The simulated instrument's frames and answers, as values.
#include "support/tables.h"
#include "tools/commandresponder.h"
#include "tools/framegenerator.h"

#include <QList>
#include <QSet>
#include <QTest>

Q_DECLARE_METATYPE(SimProfile)

namespace {

// The monitor's frame-end rule: CR, LF, ACK, EOT in frame mode, LF alone in line mode.
bool endsFrame(SimProfile profile, char c)
{
    if (profile == SimProfile::Line)
        return c == SimCodes::LF;
    return c == SimCodes::CR || c == SimCodes::LF || c == SimCodes::ACK || c == SimCodes::EOT;
}

QList<QByteArray> splitAsMonitor(SimProfile profile, const QByteArray &stream)
{
    QList<QByteArray> frames;
    QByteArray frame;
    for (char c : stream) {
        frame += c;
        if (endsFrame(profile, c)) {
            frames.append(frame);
            frame.clear();
        }
    }
    if (!frame.isEmpty())
        frames.append(frame); // unfinished: makes a comparison fail visibly
    return frames;
}

QByteArray ctl(char c)
{
    return QByteArray(1, c);
}

} // namespace

class TestSim : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void generatorKinds_data()
    {
        columns<SimProfile, bool, quint64>("profile", "binary", "seed");
        QTest::newRow("frame readings") << SimProfile::Frame << false << quint64(1);
        QTest::newRow("frame binary") << SimProfile::Frame << true << quint64(2);
        QTest::newRow("line readings") << SimProfile::Line << false << quint64(3);
        QTest::newRow("line binary") << SimProfile::Line << true << quint64(4);
        QTest::newRow("frame readings seed 0") << SimProfile::Frame << false << quint64(0);
        QTest::newRow("line binary largest seed") << SimProfile::Line << true << ~quint64(0);
    }

    // The monitor, applying its own frame-end rule to what the instrument sends, must get
    // back exactly the frames that were generated: no frame split early, none merged.
    void generatorFramesSurviveTheMonitorsSplit_data() { generatorKinds_data(); }
    void generatorFramesSurviveTheMonitorsSplit()
    {
        QFETCH(SimProfile, profile);
        QFETCH(bool, binary);
        QFETCH(quint64, seed);
        FrameGenerator g(profile, seed, binary);
        QList<QByteArray> frames;
        QByteArray stream;
        for (int i = 0; i < 2000; ++i) {
            frames.append(g.next());
            stream += frames.constLast();
        }
        QCOMPARE(g.produced(), quint64(2000));
        QCOMPARE(splitAsMonitor(profile, stream), frames);
        for (const QByteArray &f : std::as_const(frames)) {
            if (profile == SimProfile::Frame) {
                QVERIFY2(f.startsWith(SimCodes::STX) && f.endsWith(SimCodes::CR),
                         f.toHex(' ').constData());
                QVERIFY(f.size() >= 3);
            } else {
                QVERIFY2(f.endsWith("\r\n"), f.toHex(' ').constData());
                QVERIFY(f.size() >= 3);
            }
        }
    }

    void generatorIsReproducible_data() { generatorKinds_data(); }
    void generatorIsReproducible()
    {
        QFETCH(SimProfile, profile);
        QFETCH(bool, binary);
        QFETCH(quint64, seed);
        FrameGenerator a(profile, seed, binary);
        FrameGenerator b(profile, seed, binary);
        FrameGenerator other(profile, seed + 1, binary);
        int differing = 0;
        for (int i = 0; i < 200; ++i) {
            const QByteArray fa = a.next();
            QCOMPARE(b.next(), fa);
            differing += other.next() != fa;
        }
        QVERIFY2(differing > 100, "another seed should give other frames");
    }

    // A readable reading carries its sequence number, so a lost frame shows on the screen.
    void readingsAreNumbered_data()
    {
        // offset: where the number starts
        columns<SimProfile, int>("profile", "offset");
        QTest::newRow("frame") << SimProfile::Frame << 1;
        QTest::newRow("line") << SimProfile::Line << 0;
    }
    void readingsAreNumbered()
    {
        QFETCH(SimProfile, profile);
        QFETCH(int, offset);
        FrameGenerator g(profile, 9);
        for (int i = 1; i <= 10001; ++i) {
            const QByteArray f = g.next();
            const QByteArray expected = QByteArray::number(i % 10000).rightJustified(4, '0');
            if (f.mid(offset, 4) != expected)
                QFAIL(qPrintable(
                    QStringLiteral("frame %1 reads %2").arg(i).arg(QString::fromLatin1(f))));
        }
    }

    // Binary payloads reach every byte value that does not end a frame: a generator stuck
    // on a subset would leave a path of the monitor untested.
    void binaryCoversEveryByteValue_data()
    {
        columns<SimProfile, int>("profile", "values");
        QTest::newRow("frame: all but CR LF ACK EOT") << SimProfile::Frame << 256 - 4;
        QTest::newRow("line: all but LF") << SimProfile::Line << 256 - 1;
    }
    void binaryCoversEveryByteValue()
    {
        QFETCH(SimProfile, profile);
        QFETCH(int, values);
        FrameGenerator g(profile, 5, true);
        QSet<int> seen;
        for (int i = 0; i < 500; ++i) {
            QByteArray f = g.next();
            f.chop(profile == SimProfile::Frame ? 1 : 2);
            if (profile == SimProfile::Frame)
                f.remove(0, 1);
            for (char c : std::as_const(f))
                seen.insert(quint8(c));
        }
        QCOMPARE(seen.size(), values);
    }

    void answers_data()
    {
        // after: fed after the quiet pause
        columns<SimProfile, QByteArray, bool, QByteArray, QList<QByteArray>>(
            "profile", "input", "thenQuiet", "after", "expected");

        const quint64 seed = 42;
        FrameGenerator fr(SimProfile::Frame, CommandResponder::replySeed(seed));
        const QByteArray r1 = fr.next(), r2 = fr.next();
        FrameGenerator lr(SimProfile::Line, CommandResponder::replySeed(seed));
        const QByteArray l1 = lr.next();
        const QByteArray ack = ctl(SimCodes::ACK), eot = ctl(SimCodes::EOT),
                         stx = ctl(SimCodes::STX);
        const QByteArray id = ack + stx + "COMMTEST-SIM,FRAME,1\r";
        using L = QList<QByteArray>;
        const auto F = SimProfile::Frame;
        const auto Li = SimProfile::Line;

        QTest::newRow("frame READ")
            << F << stx + "READ" + eot << false << QByteArray() << L{ack + r1};
        QTest::newRow("frame read, lower case, spaces")
            << F << stx + " read " + eot << false << QByteArray() << L{ack + r1};
        QTest::newRow("frame two READs") << F << stx + "READ" + eot + stx + "READ" + eot << false
                                         << QByteArray() << L{ack + r1, ack + r2};
        QTest::newRow("frame ID") << F << stx + "ID" + eot << false << QByteArray() << L{id};
        QTest::newRow("frame SYN message 02 10 04")
            << F << QByteArray("\x02\x10\x04") << false << QByteArray() << L{ack};
        QTest::newRow("frame unknown") << F << stx + "XYZ" + eot << false << QByteArray() << L{eot};
        QTest::newRow("frame empty command") << F << stx + eot << false << QByteArray() << L{eot};
        QTest::newRow("frame bare CR LF: one answer")
            << F << QByteArray("abc\r\n") << false << QByteArray() << L{eot};
        QTest::newRow("frame bare waits for its end")
            << F << QByteArray("abc") << false << QByteArray() << L{};
        QTest::newRow("frame bare ended by quiet")
            << F << QByteArray("abc") << true << QByteArray() << L{eot};
        QTest::newRow("frame bare READ is not framed")
            << F << QByteArray("READ\r") << false << QByteArray() << L{eot};
        QTest::newRow("frame noise before STX dropped")
            << F << "zz" + stx + "READ" + eot << false << QByteArray() << L{ack + r1};
        QTest::newRow("frame unfinished STX abandoned on quiet")
            << F << stx + "READ" << true << stx + "ID" + eot << L{id};
        QTest::newRow("frame overlong command is unknown, next works")
            << F << stx + QByteArray(1000, 'A') + eot + stx + "ID" + eot << false << QByteArray()
            << L{eot, id};
        QTest::newRow("frame line ends alone")
            << F << QByteArray("\r\n\r\n") << false << QByteArray() << L{};

        QTest::newRow("line READ CR LF")
            << Li << QByteArray("READ\r\n") << false << QByteArray() << L{l1};
        QTest::newRow("line READ ended by quiet")
            << Li << QByteArray(" read") << true << QByteArray() << L{l1};
        QTest::newRow("line ID CR") << Li << QByteArray("ID\r") << false << QByteArray()
                                    << L{QByteArray("COMMTEST-SIM;LINE;1\r\n")};
        QTest::newRow("line unknown") << Li << QByteArray("x\n") << false << QByteArray()
                                      << L{QByteArray("ERR;UNKNOWN COMMAND\r\n")};
        QTest::newRow("line empty lines")
            << Li << QByteArray("\r\n\r\n") << true << QByteArray() << L{};
        QTest::newRow("line STX EOT framing is not a line end")
            << Li << stx + "READ" + eot << false << QByteArray() << L{};
    }
    void answers()
    {
        QFETCH(SimProfile, profile);
        QFETCH(QByteArray, input);
        QFETCH(bool, thenQuiet);
        QFETCH(QByteArray, after);
        QFETCH(QList<QByteArray>, expected);

        CommandResponder whole(profile, 42);
        QList<QByteArray> got = whole.feed(input);
        if (thenQuiet)
            got += whole.quiet();
        got += whole.feed(after);
        QCOMPARE(got, expected);

        // Bytes arrive in pieces of any size; the answers must not depend on the cut.
        for (qsizetype cut = 1; cut < input.size(); ++cut) {
            CommandResponder split(profile, 42);
            QList<QByteArray> parts = split.feed(QByteArrayView(input).first(cut));
            parts += split.feed(QByteArrayView(input).sliced(cut));
            if (thenQuiet)
                parts += split.quiet();
            parts += split.feed(after);
            if (parts != expected)
                QFAIL(qPrintable(QStringLiteral("cut at %1 gives other answers").arg(cut)));
        }
    }
};

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
