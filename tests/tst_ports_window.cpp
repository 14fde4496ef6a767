// The window's side of the port mapping: the port menu from a fixed device list, the
// port tooltips, and re-opening a lost port by itself once its device is back.
#include "capture/capturerecord.h"
#include "port/serialcontrol.h"
#include "support/fakedevicediscovery.h"
#include "support/files.h"
#include "support/monitor.h"
#include "support/ser2net.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTcpSocket>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

const SerialDevice &ftdi = kFtdiAdapter;
const SerialDevice acm{.path = u"/dev/ttyACM0"_s};

// Frames "frame <from>" to "frame <from + count - 1>", each ended by CR, for the wire; their
// capture records go on expected.
QByteArray numberedFrames(int from, int count, QByteArray &expected)
{
    QByteArray wire;
    for (int i = from; i < from + count; ++i) {
        const QByteArray frame = "frame " + QByteArray::number(i) + '\r';
        wire += frame;
        appendCaptureRecord(expected, {}, frame);
    }
    return wire;
}

QString entryTarget(const PortMap &map, int port)
{
    return QFileInfo(map.path() + u"/commtest/ports/com"_s + QString::number(port)).symLinkTarget();
}

// The action of the port menu at a path of texts, e.g. {"COM 4", "Map COM 4 to", "/dev/x"};
// each text is the start of an entry's text.
QAction *menuAction(QMenu *menu, const QStringList &path)
{
    QAction *found = nullptr;
    for (const QString &step : path) {
        found = nullptr;
        for (QAction *a : menu ? menu->actions() : QList<QAction *>())
            if (a->text().startsWith(step))
                found = a;
        if (!found)
            return nullptr;
        menu = found->menu();
    }
    return found;
}

} // namespace

class TestPortsWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void rightClickShowsMenuWithoutPicking_data()
    {
        QTest::addColumn<QString>("target");
        QTest::newRow("port list text") << u"lineEdit"_s;
        QTest::newRow("port list") << u"cbo_Port"_s;
        QTest::newRow("CommPort name") << u"lblfield_0"_s;
    }
    void rightClickShowsMenuWithoutPicking()
    {
        QFETCH(QString, target);
        PortMap map;
        Monitor w;
        FakeSerialControl *serial = w.fake;
        w.form->setDeviceDiscovery(std::make_unique<FakeDeviceDiscovery>(QList{acm, ftdi}));
        w.form->show();
        auto *list = w.child<QComboBox>("cbo_Port");
        list->setEditText(u"COM 3"_s);
        QWidget *widget =
            target == u"lineEdit" ? list->lineEdit() : w.form->findChild<QWidget *>(target);
        serial->calls.clear();

        QTest::mouseClick(widget, Qt::RightButton);
        const QPoint at = widget->rect().center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, widget->mapToGlobal(at));
        QApplication::sendEvent(widget, &event);
        auto *menu = w.child<QMenu>("portMenu");
        QVERIFY(menu && menu->isVisible());
        QCOMPARE(menu->actions().size(), 9);
        QVERIFY2(menu->actions()[3]->text().startsWith(u"COM 4 → /dev/ttyS3"_s),
                 qPrintable(menu->actions()[3]->text()));
        // Nothing was opened or picked, and the list is as it was.
        QCOMPARE(serial->calls, QStringList());
        QCOMPARE(list->currentText(), u"COM 3"_s);
        QCOMPARE(list->count(), 5);
        QVERIFY(!list->view()->isVisible());
        menu->close();
    }

    // Mapping, replacing and removing through the menu built from a fixed device list; only
    // a change to the port in use re-opens it.
    void menuMapsAndReopensThePortInUse()
    {
        PortMap map;
        Monitor w;
        FakeSerialControl *serial = w.fake;
        w.form->setDeviceDiscovery(std::make_unique<FakeDeviceDiscovery>(QList{acm, ftdi}));
        const auto pick = [&w](const QStringList &path) {
            QMenu *menu = w.form->showPortMenu({});
            QAction *a = menuAction(menu, path);
            if (a)
                a->trigger();
            menu->close();
            return a != nullptr;
        };
        QMenu *menu = w.form->showPortMenu({});
        QCOMPARE(menuAction(menu, {u"COM 4"_s, u"Map COM 4 to"_s})->menu()->actions().size(), 2);
        QVERIFY(menuAction(menu, {u"COM 4"_s, u"Map COM 4 to"_s,
                                  u"/dev/ttyUSB0: "_s + ftdi.byIdPath +
                                      u", FT232R USB UART, FTDI, "
                                      u"serial A1B2C3, USB 0403:6001"_s}));
        QVERIFY(!menuAction(menu, {u"COM 4"_s, u"Remove mapping"_s})->isEnabled());
        menu->close();

        serial->calls.clear();
        QVERIFY(pick({u"COM 7"_s, u"Map COM 7 to"_s, u"/dev/ttyUSB0"_s}));
        QCOMPARE(entryTarget(map, 7), ftdi.byIdPath); // the stable name, not the node
        QCOMPARE(serial->calls, QStringList());       // COM 7 is not in use

        QVERIFY(pick({u"COM 4"_s, u"Map COM 4 to"_s, u"/dev/ttyACM0"_s}));
        QCOMPARE(entryTarget(map, 4), acm.path);
        QVERIFY(serial->calls.contains(u"PortOpen=True"_s));
        menu = w.form->showPortMenu({});
        QVERIFY(menuAction(menu, {u"COM 4 → /dev/ttyACM0"_s, u"Remove mapping"_s})->isEnabled());
        menu->close();

        serial->calls.clear();
        QVERIFY(pick({u"COM 4"_s, u"Remove mapping"_s}));
        QVERIFY(!QFileInfo::exists(map.path() + u"/commtest/ports/com4"_s));
        QVERIFY(serial->calls.contains(u"PortOpen=True"_s));
    }

    void networkPortAndRefusedEntries()
    {
        PortMap map;
        Monitor w;
        w.form->setDeviceDiscovery(std::make_unique<FakeDeviceDiscovery>());
        QStringList answers{u"tcp+tls://lab-pi:2002"_s, u"tcp://lab-pi"_s};
        QStringList offered;
        w.form->setNetworkUrlPrompt([&](QWidget *, int, const QString &current) {
            offered << current;
            return std::optional<QString>(answers.takeFirst());
        });
        const QString com4 = map.path() + u"/commtest/ports/com4"_s;
        const auto network = [&w] {
            QMenu *menu = w.form->showPortMenu({});
            menuAction(menu, {u"COM 4"_s, u"Network port"_s})->trigger();
            menu->close();
        };
        network();
        QCOMPARE(readFile(com4), QByteArray("tcp+tls://lab-pi:2002\n"));
        QVERIFY(w.form->shownError().isEmpty());
        QCOMPARE(w.child<QLabel>("lbl_val_0")->toolTip().section(u'\n', 0, 0),
                 u"COM 4 → network port tcp+tls://lab-pi:2002"_s);

        network(); // no port number: refused, the entry kept
        QCOMPARE(offered, QStringList({QString(), u"tcp+tls://lab-pi:2002"_s}));
        QCOMPARE(readFile(com4), QByteArray("tcp+tls://lab-pi:2002\n"));
        QVERIFY2(w.form->shownError().contains(u"No port number"_s),
                 qPrintable(w.form->shownError()));
        QVERIFY(w.child<QComboBox>("cbo_Port")->toolTip().contains(u"No port number"_s));

        // A folder in the entry's place: a reason, nothing written.
        QVERIFY(QFile::remove(com4));
        QVERIFY(QDir().mkpath(com4));
        QMenu *menu = w.form->showPortMenu({});
        QVERIFY(menuAction(menu, {u"COM 4 → "_s + com4 + u": com4 is a folder"_s}));
        QVERIFY(
            !menuAction(menu, {u"COM 4"_s, u"Map COM 4 to"_s, u"No serial device"_s})->isEnabled());
        menu->close();
        w.form->setDeviceDiscovery(std::make_unique<FakeDeviceDiscovery>(QList{acm}));
        menu = w.form->showPortMenu({});
        menuAction(menu, {u"COM 4"_s, u"Map COM 4 to"_s, acm.path})->trigger();
        menu->close();
        QVERIFY2(w.form->shownError().contains(u"remove it first"_s),
                 qPrintable(w.form->shownError()));
        QVERIFY(QFileInfo(com4).isDir());
    }

    void tooltipNamesTheDevice()
    {
        PortMap map;
        Pty pty;
        QVERIFY(pty.isValid());
        const QString node = QFileInfo(pty.slavePath()).canonicalFilePath();
        const QString byId = map.path() + u"/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0"_s;
        QVERIFY(QFile::link(node, byId));
        QVERIFY(map.map(4, byId));
        SerialDevice adapter = ftdi;
        adapter.path = node;
        adapter.byIdPath = byId;
        Monitor w(std::make_unique<SerialControl>());
        w.form->setDeviceDiscovery(std::make_unique<FakeDeviceDiscovery>(QList{adapter}));
        QCOMPARE(w.val(2), u"True"_s);
        const QString expected =
            u"COM 4 → "_s + byId + u" ("_s + node + u"), FT232R USB UART, serial A1B2C3"_s;
        for (const char *name : {"cbo_Port", "lbl_val_0", "lbl_val_2"})
            QCOMPARE(w.child<QWidget>(name)->toolTip(), expected);
    }

    // Capture on, the device hung up mid-stream, a new device linked as the same port: the
    // window re-opens it with no click, tells once, and captures on into the same file.
    void replugReopensAndCaptureGoesOn()
    {
        PtyPort p(4);
        QVERIFY(p.ok());
        CaptureFolder folder;
        const QString path = folder.newPath();
        Monitor w(std::make_unique<SerialControl>());
        w.form->setDeviceDiscovery(std::make_unique<FakeDeviceDiscovery>());
        QCOMPARE(w.val(2), u"True"_s);
        QVERIFY(w.startCapture(path));
        w.monitor(true);
        // Typed but not applied: the re-open keeps the settings in force.
        w.child<QLineEdit>("txt_Settings")->setText(u"4800,n,8,1"_s);

        QByteArray expected;
        const auto send = [&expected](Pty &to, int from, int count) {
            return to.write(numberedFrames(from, count, expected));
        };
        QVERIFY(send(*p.pty, 1, 50));
        QTRY_COMPARE_WITH_TIMEOUT(readFile(path), expected, 20000);
        p.pty->closeMaster();
        QTRY_COMPARE_WITH_TIMEOUT(w.val(2), u"False"_s, 20000);
        QVERIFY2(w.form->shownError().contains(u"was lost"_s), qPrintable(w.form->shownError()));

        p.replug();
        QVERIFY(p.ok());
        const QString told =
            u"COM 4 is back: re-opened "_s + QFileInfo(p.pty->slavePath()).canonicalFilePath();
        QTRY_COMPARE_WITH_TIMEOUT(w.form->shownError().left(told.size()), told, 20000);
        QCOMPARE(w.val(2), u"True"_s);
        QCOMPARE(w.val(1), u"9600,n,8,1"_s);
        QVERIFY(send(*p.pty, 51, 50));
        QTRY_COMPARE_WITH_TIMEOUT(readFile(path), expected, 20000);

        // Told once: no new box over the next ticks.
        w.child<QMessageBox>("errorBox")->hide();
        QSignalSpy ticks(w.child<QTimer>("Timer1"), &QTimer::timeout);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 3, 20000);
        QCOMPARE(w.form->shownError(), QString());
    }

    // A network port is lost when its server stops, and re-opened when it serves again.
    void networkServerBackReopens()
    {
        if (!Ser2net::installed())
            QSKIP("ser2net is not installed (Debian package ser2net)");
        PortMap map;
        Pty pty;
        auto server = std::make_unique<Ser2net>();
        QVERIFY(server->start(pty.slavePath(), true));
        const quint16 tcpPort = server->port();
        QVERIFY(mapToUrl(map.path(), 4, server->url(true)));
        Monitor w(std::make_unique<SerialControl>());
        w.form->setDeviceDiscovery(std::make_unique<FakeDeviceDiscovery>());
        QCOMPARE(w.val(2), u"True"_s);
        server.reset();
        QTRY_COMPARE_WITH_TIMEOUT(w.val(2), u"False"_s, 20000);
        QVERIFY2(w.form->shownError().contains(u"was lost"_s), qPrintable(w.form->shownError()));
        server = std::make_unique<Ser2net>();
        QVERIFY(server->start(pty.slavePath(), true, tcpPort));
        QTRY_COMPARE_WITH_TIMEOUT(w.form->shownError(),
                                  u"COM 4 is back: re-opened "_s + server->url(true), 20000);
        QCOMPARE(w.val(2), u"True"_s);
    }

    // A refused control request (ser2net on a pty does not switch break off) leaves the
    // port receiving and sending: Break clicked on and off with capture on, then frames
    // arrive, are captured, and a command reaches the device; again after the server has
    // dropped the connection (another client took it over) and the window re-opened it.
    void networkPortWorksAfterBreakClicks()
    {
        if (!Ser2net::installed())
            QSKIP("ser2net is not installed (Debian package ser2net)");
        PortMap map;
        ServedPty s;
        QVERIFY(s.start(map.path(), 4, true));
        CaptureFolder folder;
        const QString path = folder.newPath();
        Monitor w(std::make_unique<SerialControl>());
        w.form->setDeviceDiscovery(std::make_unique<FakeDeviceDiscovery>());
        QCOMPARE(w.val(2), u"True"_s);
        QVERIFY(w.startCapture(path));
        w.monitor(true);
        QByteArray expected;
        int next = 1;
        const auto send = [&](int count) {
            next += count;
            return s.pty.write(numberedFrames(next - count, count, expected));
        };
        for (int round = 0; round < 2; ++round) {
            if (round == 1) {
                QTcpSocket other; // ser2net hands the device to the newest client
                other.connectToHost(QHostAddress::LocalHost, s.server.port());
                QVERIFY(other.waitForConnected(10000));
                QTRY_COMPARE_WITH_TIMEOUT(w.val(2), u"False"_s, 20000);
                other.abort();
                QTRY_VERIFY_WITH_TIMEOUT(w.form->shownError().startsWith(u"COM 4 is back"_s),
                                         20000);
            }
            QVERIFY(send(20));
            QTRY_COMPARE_WITH_TIMEOUT(readFile(path), expected, 20000);
            for (const QString shown : {u"True"_s, u"False"_s}) {
                QTest::mouseClick(w.child<QLabel>("lblfield_3"), Qt::LeftButton); // Break
                QCOMPARE(w.val(3), shown);
                QVERIFY2(!w.form->shownError().startsWith(u"Break"_s),
                         qPrintable(w.form->shownError()));
                QVERIFY(send(20));
            }
            QTRY_COMPARE_WITH_TIMEOUT(readFile(path), expected, 20000);
            QCOMPARE(w.val(2), u"True"_s);
            s.pty.readAvailable(200);
            w.send(u"READ"_s, u"CrLf"_s);
            QByteArray sent;
            QTRY_COMPARE_WITH_TIMEOUT((sent += s.pty.readAvailable(0), sent),
                                      QByteArray("READ\r\n"), 10000);
        }
    }

    // The counters and the rate follow a re-open by the window itself as they follow one by
    // the operator: a burst after it shows a rate.
    void statisticsFollowTheReplugReopen()
    {
        PtyPort p(4);
        QVERIFY(p.ok());
        Monitor w(std::make_unique<SerialControl>());
        w.form->setDeviceDiscovery(std::make_unique<FakeDeviceDiscovery>());
        w.monitor(true);
        QVERIFY(p.pty->write("12345\r"));
        QTRY_COMPARE_WITH_TIMEOUT(w.form->lineStatistics().received(), quint64(6), 20000);
        p.pty->closeMaster();
        QTRY_COMPARE_WITH_TIMEOUT(w.val(2), u"False"_s, 20000);
        p.replug();
        QVERIFY(p.ok());
        QTRY_COMPARE_WITH_TIMEOUT(w.val(2), u"True"_s, 20000);
        QCOMPARE(w.form->lineStatistics().received(), quint64(0));
        QVERIFY(p.pty->write(QByteArray(999, 'x') + '\r'));
        QTRY_COMPARE_WITH_TIMEOUT(w.form->lineStatistics().received(), quint64(1000), 20000);
        QCOMPARE(w.form->lineStatistics().frames(), quint64(1));
        QTRY_VERIFY_WITH_TIMEOUT(w.form->lineStatistics().peakRate() > 0, 20000);
    }

    void lostPortWaitEndsWithResetComm()
    {
        PtyPort p(4);
        QVERIFY(p.ok());
        Monitor w(std::make_unique<SerialControl>());
        w.form->setDeviceDiscovery(std::make_unique<FakeDeviceDiscovery>());
        p.pty->closeMaster();
        QTRY_COMPARE_WITH_TIMEOUT(w.val(2), u"False"_s, 20000);
        // Reset Comm on a port with no device: the operator chose, so no waiting after it.
        QVERIFY(p.map.map(4, p.map.path() + u"/gone"_s));
        w.reset();
        p.replug();
        QVERIFY(p.ok());
        QSignalSpy ticks(w.child<QTimer>("Timer1"), &QTimer::timeout);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 3, 20000);
        QCOMPARE(w.val(2), u"False"_s);
    }
};

QTEST_MAIN(TestPortsWindow)
#include "tst_ports_window.moc"
