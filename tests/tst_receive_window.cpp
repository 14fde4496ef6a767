// The receive path through the window with a fake serial control: panes, records, frame
// ends per profile, profile picks, monitoring, line events, the indicator, the panel.
#include "receive/lineview.h"
#include "receive/receiverules.h"
#include "support/files.h"
#include "support/monitor.h"
#include "support/tables.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <QLocale>
#include <QMessageBox>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <ctime>

namespace {

struct FakeWindow : Monitor
{
    QDateTime now = QDateTime(QDate(2026, 12, 7), QTime(14, 3, 5));

    explicit FakeWindow(bool pinnedClock = true)
    {
        if (pinnedClock)
            form->setClock([this] { return now; });
    }
    void closeErrorBox() const
    {
        if (auto *box = form->findChild<QMessageBox *>(QStringLiteral("errorBox")))
            box->close();
    }
};

QByteArray records(std::initializer_list<const char *> lines)
{
    QByteArray all;
    for (const char *l : lines) {
        all += l;
        all += "\r\n";
    }
    return all;
}

const QDateTime kZeroDate(QDate(1899, 12, 30), QTime(0, 0));

// The offscreen platform warns at every popup of the profile list; the rest goes through.
QtMessageHandler g_previousHandler = nullptr;
void quietPopups(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith(QStringLiteral("This plugin does not support")))
        return;
    g_previousHandler(type, context, message);
}

} // namespace

class TestReceiveWindow : public QObject
{
    Q_OBJECT
    CaptureFolder m_folder;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        g_previousHandler = qInstallMessageHandler(quietPopups);
        // Local time away from UTC, so a timestamp written in UTC would show.
        qputenv("TZ", "IST-5:30");
        tzset();
        QLocale::setDefault(QLocale(QStringLiteral("en_US")));
    }

    void frames_data()
    {
        columns<int, QByteArray, QList<QByteArray>, QByteArray, QByteArray>(
            "profile", "input", "outLines", "file", "remainder");
        using L = QList<QByteArray>;
        QTest::newRow("abc CR") << 0 << QByteArray("abc\r") << L{"bc"}
                                << records({"abc,[97:98:99:13]"}) << QByteArray();
        QTest::newRow("CR LF: the LF is an empty frame")
            << 0 << QByteArray("OK\r\n") << L{"", "K"} << records({"OK,[79:75:13]", ",[10]"})
            << QByteArray();
        QTest::newRow("one-character frame")
            << 0 << QByteArray("\r") << L{""} << records({",[13]"}) << QByteArray();
        QTest::newRow("two-character frame")
            << 0 << QByteArray("7\n") << L{""} << records({"7,[55:10]"}) << QByteArray();
        QTest::newRow("newest frame first")
            << 0 << QByteArray("a1\rb2\rc3\r") << L{"3", "2", "1"}
            << records({"a1,[97:49:13]", "b2,[98:50:13]", "c3,[99:51:13]"}) << QByteArray();
        QTest::newRow("leading blank")
            << 0 << QByteArray(" 7\r") << L{""} << records({" 7,[32:55]"}) << QByteArray();
        QTest::newRow("ACK ends, select application")
            << 0 << QByteArray("ab\x06") << L{"b"} << records({"ab,[97:98:6]"}) << QByteArray();
        QTest::newRow("EOT ends, select application")
            << 0 << QByteArray("ab\x04") << L{"b"} << records({"ab,[97:98:4]"}) << QByteArray();
        QTest::newRow("ACK ends, Analex PQM") << 1 << QByteArray("xyz\x06") << L{"yz"}
                                              << records({"xyz,[120:121:122:6]"}) << QByteArray();
        QTest::newRow("EOT ends, Analex PQM") << 1 << QByteArray("xyz\x04") << L{"yz"}
                                              << records({"xyz,[120:121:122:4]"}) << QByteArray();
        QTest::newRow("partial frame waits")
            << 0 << QByteArray("abc") << L{} << QByteArray() << QByteArray("abc");
        QTest::newRow("Houillon: codes 6 and 4 do not end") << 2
                                                            << QByteArray("a\x06"
                                                                          "b\x04\n")
                                                            << L{"a\x06"
                                                                 "b\x04",
                                                                 ""}
                                                            << records({"a\x06"
                                                                        "b\x04,[97:6:98:4:10]"})
                                                            << QByteArray();
        QTest::newRow("Houillon: CR stays in the frame")
            << 2 << QByteArray("12.5\r\n") << L{"12.5\r", ""}
            << records({"12.5\r,[49:50:46:53:13:10]"}) << QByteArray();
        QTest::newRow("Houillon: characters shown as they come")
            << 2 << QByteArray("ab\r") << L{"ab\r"} << QByteArray() << QByteArray("ab\r");
    }
    void frames()
    {
        QFETCH(int, profile);
        QFETCH(QByteArray, input);
        QFETCH(QList<QByteArray>, outLines);
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, remainder);
        FakeWindow w;
        w.pick(profile);
        QCOMPARE(w.profiles()->currentIndex(), profile);
        const QString path = m_folder.newPath();
        QVERIFY(w.startCapture(path));
        w.monitor(true);
        w.fake->receive(input);
        QCOMPARE(w.outLines(), outLines);
        QCOMPARE(readFile(path), file);
        QCOMPARE(w.form->frameBuffer(), remainder);
        QCOMPARE(w.bffr()->lineCount(), input.size());
        QCOMPARE(w.fake->waiting(), 0);
    }

    void logLines()
    {
        FakeWindow w;
        w.monitor(true);
        w.fake->receive("abc\r");
        QCOMPARE(w.bffr()->lineCount(), 4);
        QCOMPARE(w.bffr()->line(0), QByteArray("Bffr[1] = [a: 97]"));
        QCOMPARE(w.bffr()->line(1), QByteArray("Bffr[2] = [b: 98]"));
        QCOMPARE(w.bffr()->line(2), QByteArray("Bffr[3] = [c: 99]"));
        QCOMPARE(w.bffr()->line(3), QByteArray("Bffr[4] = [\r: 13]"));
        // The count starts again with the next frame.
        w.fake->receive("z");
        QCOMPARE(w.bffr()->line(4), QByteArray("Bffr[1] = [z: 122]"));
    }

    void emptyCharacter()
    {
        FakeWindow w;
        w.monitor(true);
        w.fake->receive("ab");
        QCOMPARE(w.form->Read_buffer(QByteArray()), false);
        QCOMPARE(w.form->frameBuffer(), QByteArray("ab"));
        QCOMPARE(w.bffr()->lineCount(), 2);
    }

    void linePrefix_data()
    {
        columns<int, bool, QString, QByteArray>("profile", "timestamp", "source", "file");
        QTest::newRow("timestamp and source")
            << 2 << true << QStringLiteral("S1")
            << records({"12/7/2026 2:03:05 PM, S1,12.5,[49:50:46:53:10]"});
        QTest::newRow("timestamp only")
            << 2 << true << QString() << records({"12/7/2026 2:03:05 PM,12.5,[49:50:46:53:10]"});
        QTest::newRow("source only")
            << 2 << false << QStringLiteral("S1") << records({"S1,12.5,[49:50:46:53:10]"});
        QTest::newRow("no prefix at all")
            << 2 << false << QString() << records({"12.5,[49:50:46:53:10]"});
        QTest::newRow("frame mode has no prefix")
            << 0 << true << QStringLiteral("S1") << records({"12.5,[49:50:46:53:10]"});
    }
    void linePrefix()
    {
        QFETCH(int, profile);
        QFETCH(bool, timestamp);
        QFETCH(QString, source);
        QFETCH(QByteArray, file);
        FakeWindow w;
        w.pick(profile);
        const QString path = m_folder.newPath();
        QVERIFY(w.startCapture(path, timestamp, source));
        w.monitor(true);
        w.fake->receive("12.5\n");
        QCOMPARE(readFile(path), file);
    }

    // The timestamp is the time of the event that ends the frame, for every frame anew.
    void prefixTakenAtFrameEnd()
    {
        FakeWindow w;
        w.pick(2);
        const QString path = m_folder.newPath();
        QVERIFY(w.startCapture(path, true));
        w.monitor(true);
        w.fake->receive("12");
        w.now = QDateTime(QDate(2026, 12, 7), QTime(14, 3, 7));
        w.fake->receive(".5\n");
        w.now = QDateTime(QDate(2026, 12, 8), QTime(0, 0, 0));
        w.fake->receive("x\n");
        QCOMPARE(readFile(path),
                 records({"12/7/2026 2:03:07 PM,12.5,[49:50:46:53:10]", "12/8/2026,x,[120:10]"}));
    }

    // With the window's own clock the timestamp is the local time, in the locale's format.
    void timestampIsLocalTime()
    {
        FakeWindow w(false);
        w.pick(2);
        const QString path = m_folder.newPath();
        QVERIFY(w.startCapture(path, true));
        w.monitor(true);
        const QDateTime before = QDateTime::currentDateTime();
        w.fake->receive("a\n");
        const QDateTime after = QDateTime::currentDateTime();
        const QByteArray record = readFile(path);
        const QString stamp = QString::fromLatin1(record.left(record.indexOf(',')));
        const QDateTime shown = QLocale(QStringLiteral("en_US"))
                                    .toDateTime(stamp, QStringLiteral("M/d/yyyy h:mm:ss AP"));
        QVERIFY2(shown.isValid(), qPrintable(stamp));
        QVERIFY2(shown >= before.addSecs(-1) && shown <= after.addSecs(1), qPrintable(stamp));
        QVERIFY(record.endsWith(",a,[97:10]\r\n"));
    }

    void profileSwitchMidFrame_data()
    {
        columns<int, QByteArray, int, QString, QByteArray, QByteArray, bool>(
            "from", "before", "to", "portText", "after", "file", "lineMode");
        QTest::newRow("Houillon to select application: CR now ends")
            << 2 << QByteArray("ab\r") << 0 << QString() << QByteArray("c\r")
            << records({"ab\rc,[97:98:13:99:13]"}) << false;
        QTest::newRow("select application to Houillon: only LF ends")
            << 0 << QByteArray("ab") << 2 << QString() << QByteArray("\r\n")
            << records({"ab\r,[97:98:13:10]"}) << true;
        QTest::newRow("Houillon to Analex PQM, no port text: frame goes on")
            << 2 << QByteArray("ab\r") << 1 << QString() << QByteArray("c\x04")
            << records({"ab\rc,[97:98:13:99:4]"}) << false;
        QTest::newRow("Houillon to Analex PQM with port text: port re-opened, frame dropped")
            << 2 << QByteArray("ab\r") << 1 << QStringLiteral("COM 1") << QByteArray("c\x04")
            << records({"c,[99:4]"}) << false;
    }
    void profileSwitchMidFrame()
    {
        QFETCH(int, from);
        QFETCH(QByteArray, before);
        QFETCH(int, to);
        QFETCH(QString, portText);
        QFETCH(QByteArray, after);
        QFETCH(QByteArray, file);
        QFETCH(bool, lineMode);
        FakeWindow w;
        w.child<QComboBox>("cbo_Port")->setEditText(portText);
        w.pick(from);
        const QString path = m_folder.newPath();
        QVERIFY(w.startCapture(path));
        w.monitor(true);
        w.fake->receive(before);
        QCOMPARE(w.form->frameBuffer(), before);
        w.pick(to);
        QCOMPARE(w.form->lineMode(), lineMode);
        w.fake->receive(after);
        QCOMPARE(readFile(path), file);
        QVERIFY(w.form->frameBuffer().isEmpty());
    }

    void profiles_data()
    {
        columns<int, QString, QString, bool, QString, bool>("profile", "portText", "settings",
                                                            "lineMode", "suffix", "reopened");
        const QString s = QStringLiteral("9600,n,8,1");
        QTest::newRow("select application") << 0 << QStringLiteral("COM 3") << s << false
                                            << QStringLiteral("<select suffix>") << false;
        QTest::newRow("Analex PQM with a port")
            << 1 << QStringLiteral("COM 3") << s << false << QStringLiteral("<STX>/<EOT>") << true;
        QTest::newRow("Analex PQM, port list empty")
            << 1 << QString() << s << false << QStringLiteral("<STX>/<EOT>") << false;
        QTest::newRow("Analex PQM, settings empty")
            << 1 << QStringLiteral("COM 3") << QString() << false << QStringLiteral("<STX>/<EOT>")
            << false;
        QTest::newRow("Houillon") << 2 << QStringLiteral("COM 3") << s << true
                                  << QStringLiteral("<select suffix>") << false;
    }
    void profiles()
    {
        QFETCH(int, profile);
        QFETCH(QString, portText);
        QFETCH(QString, settings);
        QFETCH(bool, lineMode);
        QFETCH(QString, suffix);
        QFETCH(bool, reopened);
        FakeWindow w;
        w.child<QComboBox>("cbo_SuffixCommand")->setCurrentIndex(1); // the operator's choice before
        w.child<QComboBox>("cbo_Port")->setEditText(portText);
        w.child<QLineEdit>("txt_Settings")->setText(settings);
        w.monitor(true);
        w.fake->receive("ab");
        w.fake->calls.clear();
        w.pick(profile);
        QCOMPARE(w.form->lineMode(), lineMode);
        QCOMPARE(w.suffix(), suffix);
        QCOMPARE(w.fake->calls.contains(QStringLiteral("PortOpen=True")), reopened);
        QCOMPARE(w.fake->calls.contains(QStringLiteral("CommPort=3")), reopened);
        QCOMPARE(w.form->frameBuffer(), reopened ? QByteArray() : QByteArray("ab"));
    }

    // Picking the entry already shown runs the handler again: each pick re-opens.
    void analexPickedTwiceReopensTwice()
    {
        FakeWindow w;
        w.child<QComboBox>("cbo_Port")->setEditText(QStringLiteral("COM 2"));
        w.fake->calls.clear();
        w.pick(1);
        w.pick(1);
        QCOMPARE(w.fake->calls.count(QStringLiteral("PortOpen=True")), 2);
        QCOMPARE(w.fake->calls.count(QStringLiteral("CommPort=2")), 2);
    }

    void monitoringOffThenOnWithBacklog()
    {
        FakeWindow w;
        const QString path = m_folder.newPath();
        QVERIFY(w.startCapture(path));
        w.fake->receive("ab");
        QCOMPARE(w.bffr()->lineCount(), 0);
        QCOMPARE(w.out()->lineCount(), 0);
        QCOMPARE(w.fake->waiting(), 2);
        QCOMPARE(w.form->lastReceiveTime(), kZeroDate);
        w.monitor(true);
        w.fake->receive("c\r");
        QCOMPARE(w.bffr()->lineCount(), 4);
        QCOMPARE(w.outLines(), QList<QByteArray>{"bc"});
        QCOMPARE(readFile(path), records({"abc,[97:98:99:13]"}));
    }

    // A modem-line event while characters wait takes nothing away.
    void lineEventLosesNothing_data()
    {
        columns<int, QByteArray, QByteArray>("profile", "ender", "file");
        QTest::newRow("frame mode") << 0 << QByteArray("\r") << records({"ab,[97:98:13]"});
        QTest::newRow("line mode") << 2 << QByteArray("\n") << records({"ab,[97:98:10]"});
    }
    void lineEventLosesNothing()
    {
        QFETCH(int, profile);
        QFETCH(QByteArray, ender);
        QFETCH(QByteArray, file);
        FakeWindow w;
        w.pick(profile);
        const QString path = m_folder.newPath();
        QVERIFY(w.startCapture(path));
        w.fake->receive("ab");
        w.monitor(true);
        w.now = QDateTime(QDate(2026, 12, 7), QTime(15, 0, 0));
        w.fake->raiseEvent(CommEvents::Cts);
        QCOMPARE(w.form->lastReceiveTime(), w.now);
        w.fake->raiseEvent(CommEvents::Dsr);
        w.fake->receive(ender);
        QCOMPARE(readFile(path), file);
        QCOMPARE(w.fake->waiting(), 0);
    }

    void indicator_data()
    {
        columns<bool, QDateTime, QDateTime, bool>("monitoring", "event", "tick", "green");
        const QDate d(2026, 12, 7);
        QTest::newRow("tick in the same second") << true << QDateTime(d, QTime(12, 0, 0, 100))
                                                 << QDateTime(d, QTime(12, 0, 0, 900)) << true;
        QTest::newRow("tick in the next second, 200 ms later")
            << true << QDateTime(d, QTime(12, 0, 0, 900)) << QDateTime(d, QTime(12, 0, 1, 100))
            << false;
        QTest::newRow("clock set back")
            << true << QDateTime(d, QTime(12, 0, 5)) << QDateTime(d, QTime(12, 0, 1)) << true;
        QTest::newRow("long ago") << true << QDateTime(d, QTime(11, 0, 0))
                                  << QDateTime(d, QTime(12, 0, 0)) << false;
        QTest::newRow("received while not monitoring")
            << false << QDateTime(d, QTime(12, 0, 0, 100)) << QDateTime(d, QTime(12, 0, 0, 900))
            << false;
    }
    void indicator()
    {
        QFETCH(bool, monitoring);
        QFETCH(QDateTime, event);
        QFETCH(QDateTime, tick);
        QFETCH(bool, green);
        FakeWindow w;
        w.monitor(monitoring);
        w.now = event;
        w.fake->receive("x");
        w.now = tick;
        w.form->Timer1_Timer();
        QCOMPARE(w.led(), green ? QColor(0, 255, 0) : QColor(Qt::red));
    }

    // Timer1 itself recolours the indicator: green after a character, red a second later.
    void indicatorFollowsTheTimer()
    {
        FakeWindow w;
        w.form->Timer1_Timer();
        QCOMPARE(w.led(), QColor(Qt::red));
        w.monitor(true);
        w.fake->receive("x");
        QTRY_COMPARE_WITH_TIMEOUT(w.led(), QColor(0, 255, 0), 3000);
        w.now = w.now.addSecs(1);
        QTRY_COMPARE_WITH_TIMEOUT(w.led(), QColor(Qt::red), 3000);
    }

    // The panel is refreshed once the burst is handled, and shows what is current then.
    void panelRefreshedAfterFrames()
    {
        FakeWindow w;
        w.monitor(true);
        QCOMPARE(w.val(9), QStringLiteral("0"));
        w.fake->setHandshaking(2); // changed behind the panel's back
        w.fake->receive("ab");     // no frame yet: no refresh
        QCoreApplication::processEvents();
        QCOMPARE(w.val(9), QStringLiteral("0"));
        w.fake->receive("\rcd\r");
        QTRY_COMPARE(w.val(9), QStringLiteral("2"));
    }

    void panelRefreshFailureToldOnce()
    {
        FakeWindow w;
        w.monitor(true);
        w.fake->failing.insert(QStringLiteral("ParityReplace")); // the last row
        w.fake->receive("a\r");
        QTRY_VERIFY(w.form->shownError().contains(QStringLiteral("property panel")));
        w.closeErrorBox();
        w.fake->setHandshaking(3);
        w.fake->receive("b\rc\r");
        QTRY_COMPARE(w.val(9), QStringLiteral("3")); // the refresh ran up to the failing row
        QCOMPARE(w.form->shownError(), QString());   // and did not tell again
        // A refresh that works clears it: the next failure is told again.
        w.fake->failing.clear();
        w.fake->setHandshaking(1);
        w.fake->receive("d\r");
        QTRY_COMPARE(w.val(9), QStringLiteral("1"));
        w.fake->failing.insert(QStringLiteral("ParityReplace"));
        w.fake->receive("e\r");
        QTRY_VERIFY(w.form->shownError().contains(QStringLiteral("property panel")));
    }

    void inputFailureToldOnce()
    {
        FakeWindow w;
        w.monitor(true);
        w.fake->failing.insert(QStringLiteral("Input"));
        w.fake->receive("a");
        QVERIFY(w.form->shownError().contains(QStringLiteral("could not be read")));
        w.closeErrorBox();
        w.fake->receive("b");
        QCOMPARE(w.form->shownError(), QString());
        // Once reads work again, nothing waiting is lost.
        w.fake->failing.clear();
        w.fake->receive("\r");
        QCOMPARE(w.outLines(), QList<QByteArray>{"b"});
    }

    // A failed record ends capture; the frame is not kept to run into the next one.
    void failedWriteDoesNotMergeFrames()
    {
        FakeWindow w;
        QVERIFY(w.startCapture(QStringLiteral("/dev/full")));
        w.monitor(true);
        w.fake->receive("abc\r");
        QVERIFY(!w.form->captureEnabled());
        QVERIFY(w.form->shownError().contains(QStringLiteral("/dev/full")));
        QVERIFY(w.form->frameBuffer().isEmpty());
        w.fake->receive("xyz\r");
        QCOMPARE(w.outLines(), (QList<QByteArray>{"yz", "bc"}));
    }

    // A frame that never ends is written in pieces; their texts together hold every
    // character, and the operator is told once.
    // Ctrl+T shows both panes' times: a frame's end, a line's first character, each
    // logged character's own; the capture file stays as it was.
    void times_data()
    {
        columns<int, QString, QByteArray>("profile", "out", "file");
        QTest::newRow("frame mode, newest first")
            << 0 << QStringLiteral("14:03:06.007 de\r\n14:03:05.250 abc")
            << records({"xabc,[120:97:98:99:13]", "yde,[121:100:101:13]"});
        QTest::newRow("line mode") << 2 << QStringLiteral("14:03:05.100 xabc\r\n14:03:05.250 yde")
                                   << records({"xabc,[120:97:98:99:10]", "yde,[121:100:101:10]"});
    }
    void times()
    {
        QFETCH(int, profile);
        QFETCH(QString, out);
        QFETCH(QByteArray, file);
        FakeWindow w;
        w.pick(profile);
        const QString path = m_folder.newPath();
        QVERIFY(w.startCapture(path));
        w.monitor(true);
        w.form->show();
        QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
        const QByteArray end = profile == 2 ? "\n" : "\r";
        const QList<std::pair<QTime, QByteArray>> chunks{{QTime(14, 3, 5, 100), "xab"},
                                                         {QTime(14, 3, 5, 250), "c" + end + "yd"},
                                                         {QTime(14, 3, 6, 7), "e" + end}};
        for (const auto &[time, bytes] : chunks) {
            w.now = QDateTime(QDate(2026, 12, 7), time);
            w.fake->receive(bytes);
        }
        QVERIFY(!w.out()->timesShown() && !w.bffr()->timesShown()); // off at start
        QVERIFY(w.serial->readsPaced());
        QTest::keyClick(w.form.get(), Qt::Key_T, Qt::ControlModifier);
        QVERIFY(w.out()->timesShown() && w.bffr()->timesShown());
        QVERIFY(!w.serial->readsPaced()); // characters are timed as they come
        QCOMPARE(w.out()->text().left(out.size()), out);
        const QStringList logTimes = w.bffr()->text().split(QStringLiteral("\r\n"));
        QStringList expected;
        for (const auto &[time, bytes] : chunks)
            for (qsizetype i = 0; i < bytes.size(); ++i)
                expected << time.toString(QStringLiteral("HH:mm:ss.zzz "));
        QCOMPARE(logTimes.size(), expected.size());
        for (qsizetype i = 0; i < logTimes.size(); ++i)
            QCOMPARE(logTimes[i].left(13), expected[i]);
        QCOMPARE(readFile(path), file);
        // Hidden again from a pane's context menu: both panes follow.
        w.bffr()->setTimesShown(false);
        QVERIFY(!w.out()->timesShown());
        QVERIFY(w.serial->readsPaced());
    }

    void overlongFrame_data()
    {
        columns<int, QByteArray>("profile", "ender");
        QTest::newRow("frame mode") << 0 << QByteArray("\r");
        QTest::newRow("line mode") << 2 << QByteArray("\n");
    }
    void overlongFrame()
    {
        QFETCH(int, profile);
        QFETCH(QByteArray, ender);
        FakeWindow w;
        w.pick(profile);
        const QString path = m_folder.newPath();
        QVERIFY(w.startCapture(path));
        w.monitor(true);
        QByteArray data(2 * kMaxFrameLength + 123, Qt::Uninitialized);
        QRandomGenerator rng(7);
        for (char &c : data)
            c = char('A' + rng.bounded(26)); // no end codes, no blanks
        data[5] = ' ';
        data[kMaxFrameLength - 1] = ' '; // a blank where the first piece is cut
        const QList<QByteArray> outBefore = w.outLines();
        w.fake->receive(data); // delivered in passes, the event loop between them
        QVERIFY(w.fake->taken());
        QVERIFY(w.form->shownError().contains(QStringLiteral("without an end character")));
        w.closeErrorBox();
        QCOMPARE(w.form->frameBuffer().size(), 2 + 123); // never more than the longest frame
        w.fake->receive(ender);
        QCOMPARE(w.form->shownError(), QString()); // told once for the whole frame
        const QList<QByteArray> lines = readFile(path).split('\n');
        QCOMPARE(lines.size(), 4); // three records and the empty text after the last line end
        QByteArray texts;
        for (int i = 0; i < 3; ++i) {
            const QByteArray &r = lines[i];
            QVERIFY(r.endsWith("]\r"));
            texts += r.left(r.lastIndexOf(",["));
        }
        QCOMPARE(texts.size(), data.size());
        QVERIFY(texts == data);
        if (profile == 0)
            QCOMPARE(w.out()->lineCount(), outBefore.size() + 1); // pieces are not shown as frames
    }
};

QTEST_MAIN(TestReceiveWindow)
#include "tst_receive_window.moc"
