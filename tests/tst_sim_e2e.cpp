// End to end: the simulated instrument (its own process) -> pseudo-terminal -> the monitor
// window over the real serial layer -> capture file, and a command back through the window.
// The capture file must hold exactly the records of the generator's frames.
#include "port/serialcontrol.h"
#include "support/files.h"
#include "support/monitor.h"
#include "support/tables.h"
#include "tools/commandresponder.h"
#include "tools/framegenerator.h"

#include <QComboBox>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(SimProfile)

namespace {

// The monitor's frames of a byte stream under a profile's frame-end rule.
QList<QByteArray> monitorFrames(SimProfile profile, const QByteArray &stream)
{
    QList<QByteArray> frames;
    QByteArray frame;
    for (char c : stream) {
        frame += c;
        const bool end = profile == SimProfile::Line ? c == SimCodes::LF
                                                     : (c == SimCodes::CR || c == SimCodes::LF ||
                                                        c == SimCodes::ACK || c == SimCodes::EOT);
        if (end) {
            frames.append(frame);
            frame.clear();
        }
    }
    return frames;
}

} // namespace

class TestSimEndToEnd : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void captureEqualsTheInstrument_data()
    {
        // app: cbo_APP index
        // wire: what "Send" puts on the wire for READ
        columns<int, SimProfile, bool, QByteArray>("app", "profile", "binary", "wire");
        QTest::newRow("<select application>, readings, bare command")
            << 0 << SimProfile::Frame << false << QByteArray("READ");
        QTest::newRow("Analex PQM, readings, STX READ EOT")
            << 1 << SimProfile::Frame << false << QByteArray("\x02READ\x04");
        QTest::newRow("Analex PQM, binary, STX READ EOT")
            << 1 << SimProfile::Frame << true << QByteArray("\x02READ\x04");
        QTest::newRow("Houillon, measurement lines, READ")
            << 2 << SimProfile::Line << false << QByteArray("READ");
        QTest::newRow("Houillon, binary lines, READ")
            << 2 << SimProfile::Line << true << QByteArray("READ");
    }
    void captureEqualsTheInstrument()
    {
        QFETCH(int, app);
        QFETCH(SimProfile, profile);
        QFETCH(bool, binary);
        QFETCH(QByteArray, wire);
        const int count = 300;
        const quint64 seed = 1000 + quint64(app) * 10 + (binary ? 1 : 0);

        PortMap map; // COM 4 is looked up here; nothing is there yet
        Monitor w(std::make_unique<SerialControl>());
        QCOMPARE(w.val(2), QStringLiteral("False"));
        // The operator sets up first, so no character is read before capture is on.
        w.pick(app);
        const QString path = m_dir.filePath(QStringLiteral("capture%1.txt").arg(seed));
        QVERIFY(w.startCapture(path));
        w.monitor(true);

        QProcess sim;
        QStringList args{QStringLiteral("--profile"),
                         profile == SimProfile::Frame ? QStringLiteral("frame")
                                                      : QStringLiteral("line"),
                         QStringLiteral("--seed"),
                         QString::number(seed),
                         QStringLiteral("--rate"),
                         QStringLiteral("0"),
                         QStringLiteral("--interval-ms"),
                         QStringLiteral("0"),
                         QStringLiteral("--count"),
                         QString::number(count),
                         QStringLiteral("--link"),
                         map.path() + QStringLiteral("/commtest/ports/com4")};
        if (binary)
            args << QStringLiteral("--binary");
        sim.start(QStringLiteral(COMMTEST_SIM_PATH), args);
        QVERIFY(sim.waitForStarted(5000));
        QDeadlineTimer started(10000);
        while (!sim.canReadLine() && !started.hasExpired() && sim.state() == QProcess::Running)
            sim.waitForReadyRead(100);
        QVERIFY2(sim.canReadLine(), sim.readAllStandardError().constData());

        // Then picks COM 4 in the port list.
        auto *ports = w.child<QComboBox>("cbo_Port");
        ports->setCurrentIndex(ports->findText(QStringLiteral("COM 4")));
        w.form->cbo_Port_Click();
        QCOMPARE(w.val(2), QStringLiteral("True"));

        FrameGenerator generator(profile, seed, binary);
        QList<QByteArray> frames;
        for (int i = 0; i < count; ++i)
            frames.append(generator.next());
        QByteArray expected = recordsOf(frames);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(path).size() >= expected.size(), 60000);
        QCOMPARE(readFile(path), expected);

        // A command typed and sent with the profile's suffix; the answer comes back as
        // frames and records like any other.
        w.child<QLineEdit>("txt_send")->setText(QStringLiteral("READ"));
        w.child<QPushButton>("cmd_Send")->click();
        CommandResponder responder(profile, seed);
        QByteArray answer = responder.feed(wire).join();
        answer += responder.quiet().join();
        QVERIFY(!answer.isEmpty());
        expected += recordsOf(monitorFrames(profile, answer));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(path).size() >= expected.size(), 20000);
        QCOMPARE(readFile(path), expected);
        QVERIFY(w.form->frameBuffer().isEmpty());

        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 0);
    }

    // The instrument's hang-up (an unplugged adapter) reaches the window as a closed port
    // after every frame before it was captured.
    void hangUpAfterFrames()
    {
        PortMap map;
        Monitor w(std::make_unique<SerialControl>());
        const QString path = m_dir.filePath(QStringLiteral("hangup.txt"));
        QVERIFY(w.startCapture(path));
        w.monitor(true);
        QProcess sim;
        sim.start(QStringLiteral(COMMTEST_SIM_PATH),
                  {QStringLiteral("--rate"), QStringLiteral("2000"),
                   QStringLiteral("--interval-ms"), QStringLiteral("0"),
                   QStringLiteral("--hangup-after"), QStringLiteral("20"), QStringLiteral("--link"),
                   map.path() + QStringLiteral("/commtest/ports/com4")});
        QVERIFY(sim.waitForStarted(5000));
        QDeadlineTimer started(10000);
        while (!sim.canReadLine() && !started.hasExpired() && sim.state() == QProcess::Running)
            sim.waitForReadyRead(100);
        QVERIFY(sim.canReadLine());
        auto *ports = w.child<QComboBox>("cbo_Port");
        ports->setCurrentIndex(ports->findText(QStringLiteral("COM 4")));
        w.form->cbo_Port_Click();
        QCOMPARE(w.val(2), QStringLiteral("True"));

        FrameGenerator generator(SimProfile::Frame, 1);
        QList<QByteArray> frames;
        for (int i = 0; i < 20; ++i)
            frames.append(generator.next());
        QTRY_COMPARE_WITH_TIMEOUT(w.serial->PortOpen().value_or(true), false, 20000);
        QCOMPARE(readFile(path), recordsOf(frames));
        QVERIFY(sim.state() == QProcess::NotRunning || sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 0);
    }
};

QTEST_MAIN(TestSimEndToEnd)
#include "tst_sim_e2e.moc"
