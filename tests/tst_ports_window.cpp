// The window's side of the port mapping: the port menu from a fixed device list, the
// port tooltips, and re-opening a lost port by itself once its device is back.
#include "app/form_comm.h"
#include "capture/capturerecord.h"
#include "port/portrouter.h"
#include "support/fakedevicediscovery.h"
#include "support/fakeoptionsprompt.h"
#include "support/fakesavedialog.h"
#include "support/fakeserialcontrol.h"
#include "support/pty.h"
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
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

const SerialDevice ftdi{u"/dev/ttyUSB0"_s,
                        u"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0"_s,
                        u"FT232R USB UART"_s,
                        u"FTDI"_s,
                        u"A1B2C3"_s,
                        0x0403,
                        0x6001};
const SerialDevice acm{.path = u"/dev/ttyACM0"_s};

template<typename T>
T *child(const Form_Comm &w, const QString &name)
{
    return w.findChild<T *>(name);
}

QString val(const Form_Comm &w, int k)
{
    return child<QLabel>(w, u"lbl_val_"_s + QString::number(k))->text();
}

QString entryTarget(const PortMap &map, int port)
{
    return QFileInfo(map.path() + u"/commtest/ports/com"_s + QString::number(port)).symLinkTarget();
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<cannot read>");
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
        auto fake = std::make_unique<FakeSerialControl>();
        FakeSerialControl *serial = fake.get();
        Form_Comm w(std::move(fake), std::make_unique<FakeSaveDialog>());
        w.setDeviceDiscovery(std::make_unique<FakeDeviceDiscovery>(QList{acm, ftdi}));
        w.show();
        auto *list = child<QComboBox>(w, u"cbo_Port"_s);
        list->setEditText(u"COM 3"_s);
        QWidget *widget = target == u"lineEdit" ? list->lineEdit() : child<QWidget>(w, target);
        serial->calls.clear();

        QTest::mouseClick(widget, Qt::RightButton);
        const QPoint at = widget->rect().center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, widget->mapToGlobal(at));
        QApplication::sendEvent(widget, &event);
        auto *menu = child<QMenu>(w, u"portMenu"_s);
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
        auto fake = std::make_unique<FakeSerialControl>();
        FakeSerialControl *serial = fake.get();
        Form_Comm w(std::move(fake), std::make_unique<FakeSaveDialog>());
        w.setDeviceDiscovery(std::make_unique<FakeDeviceDiscovery>(QList{acm, ftdi}));
        const auto pick = [&w](const QStringList &path) {
            QMenu *menu = w.showPortMenu({});
            QAction *a = menuAction(menu, path);
            if (a)
                a->trigger();
            menu->close();
            return a != nullptr;
        };
        QMenu *menu = w.showPortMenu({});
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
        menu = w.showPortMenu({});
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
        Form_Comm w(std::make_unique<FakeSerialControl>(), std::make_unique<FakeSaveDialog>());
        w.setDeviceDiscovery(std::make_unique<FakeDeviceDiscovery>());
        QStringList answers{u"tcp://lab-pi:2002"_s, u"tcp://lab-pi"_s};
        QStringList offered;
        w.setNetworkUrlPrompt([&](QWidget *, int, const QString &current) {
            offered << current;
            return std::optional<QString>(answers.takeFirst());
        });
        const QString com4 = map.path() + u"/commtest/ports/com4"_s;
        const auto network = [&w] {
            QMenu *menu = w.showPortMenu({});
            menuAction(menu, {u"COM 4"_s, u"Network port"_s})->trigger();
            menu->close();
        };
        network();
        QCOMPARE(readAll(com4), QByteArray("tcp://lab-pi:2002\n"));
        QVERIFY(w.shownError().isEmpty());
        QCOMPARE(child<QLabel>(w, u"lbl_val_0"_s)->toolTip().section(u'\n', 0, 0),
                 u"COM 4 → network port tcp://lab-pi:2002"_s);

        network(); // no port number: refused, the entry kept
        QCOMPARE(offered, QStringList({QString(), u"tcp://lab-pi:2002"_s}));
        QCOMPARE(readAll(com4), QByteArray("tcp://lab-pi:2002\n"));
        QVERIFY2(w.shownError().contains(u"No port number"_s), qPrintable(w.shownError()));
        QVERIFY(child<QComboBox>(w, u"cbo_Port"_s)->toolTip().contains(u"No port number"_s));

        // A folder in the entry's place: a reason, nothing written.
        QVERIFY(QFile::remove(com4));
        QVERIFY(QDir().mkpath(com4));
        QMenu *menu = w.showPortMenu({});
        QVERIFY(menuAction(menu, {u"COM 4 → "_s + com4 + u": com4 is a folder"_s}));
        QVERIFY(
            !menuAction(menu, {u"COM 4"_s, u"Map COM 4 to"_s, u"No serial device"_s})->isEnabled());
        menu->close();
        w.setDeviceDiscovery(std::make_unique<FakeDeviceDiscovery>(QList{acm}));
        menu = w.showPortMenu({});
        menuAction(menu, {u"COM 4"_s, u"Map COM 4 to"_s, acm.path})->trigger();
        menu->close();
        QVERIFY2(w.shownError().contains(u"remove it first"_s), qPrintable(w.shownError()));
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
        Form_Comm w(std::make_unique<PortRouter>(), std::make_unique<FakeSaveDialog>());
        w.setDeviceDiscovery(std::make_unique<FakeDeviceDiscovery>(QList{adapter}));
        QCOMPARE(val(w, 2), u"True"_s);
        const QString expected =
            u"COM 4 → "_s + byId + u" ("_s + node + u"), FT232R USB UART, serial A1B2C3"_s;
        for (const char *name : {"cbo_Port", "lbl_val_0", "lbl_val_2"})
            QCOMPARE(child<QWidget>(w, QString::fromLatin1(name))->toolTip(), expected);
    }

    // Capture on, the device hung up mid-stream, a new device linked as the same port: the
    // window re-opens it with no click, tells once, and captures on into the same file.
    void replugReopensAndCaptureGoesOn()
    {
        PortMap map;
        QTemporaryDir dir;
        auto pty = std::make_unique<Pty>();
        QVERIFY(pty->isValid());
        QVERIFY(map.map(4, pty->slavePath()));
        auto save = std::make_unique<FakeSaveDialog>();
        const QString path = dir.filePath(u"capture.txt"_s);
        save->answers << path;
        auto prompt = std::make_unique<FakeOptionsPrompt>();
        OutputOptions ok = FakeOptionsPrompt::ok();
        ok.chk_TimeStamp = false;
        prompt->answers.push_back(ok);
        Form_Comm w(std::make_unique<PortRouter>(), std::move(save), std::move(prompt));
        w.setDeviceDiscovery(std::make_unique<FakeDeviceDiscovery>());
        QCOMPARE(val(w, 2), u"True"_s);
        child<QCheckBox>(w, u"chk_file"_s)->click();
        QVERIFY(w.captureEnabled());
        child<QCheckBox>(w, u"chk_CollectData"_s)->setChecked(true);
        // Typed but not applied: the re-open keeps the settings in force.
        child<QLineEdit>(w, u"txt_Settings"_s)->setText(u"4800,n,8,1"_s);

        QByteArray expected;
        const auto send = [&expected](Pty &to, int from, int count) {
            QByteArray wire;
            for (int i = from; i < from + count; ++i) {
                const QByteArray frame = "frame " + QByteArray::number(i) + '\r';
                wire += frame;
                appendCaptureRecord(expected, {}, frame);
            }
            return to.write(wire);
        };
        QVERIFY(send(*pty, 1, 50));
        QTRY_COMPARE_WITH_TIMEOUT(readAll(path), expected, 20000);
        pty->closeMaster();
        QTRY_COMPARE_WITH_TIMEOUT(val(w, 2), u"False"_s, 20000);
        QVERIFY2(w.shownError().contains(u"was lost"_s), qPrintable(w.shownError()));

        Pty back;
        QVERIFY(map.map(4, back.slavePath()));
        const QString told =
            u"COM 4 is back: re-opened "_s + QFileInfo(back.slavePath()).canonicalFilePath();
        QTRY_COMPARE_WITH_TIMEOUT(w.shownError().left(told.size()), told, 20000);
        QCOMPARE(val(w, 2), u"True"_s);
        QCOMPARE(val(w, 1), u"9600,n,8,1"_s);
        QVERIFY(send(back, 51, 50));
        QTRY_COMPARE_WITH_TIMEOUT(readAll(path), expected, 20000);

        // Told once: no new box over the next ticks.
        child<QMessageBox>(w, u"errorBox"_s)->hide();
        QSignalSpy ticks(child<QTimer>(w, u"Timer1"_s), &QTimer::timeout);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 3, 20000);
        QCOMPARE(w.shownError(), QString());
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
        Form_Comm w(std::make_unique<PortRouter>(), std::make_unique<FakeSaveDialog>());
        w.setDeviceDiscovery(std::make_unique<FakeDeviceDiscovery>());
        QCOMPARE(val(w, 2), u"True"_s);
        server.reset();
        QTRY_COMPARE_WITH_TIMEOUT(val(w, 2), u"False"_s, 20000);
        QVERIFY2(w.shownError().contains(u"was lost"_s), qPrintable(w.shownError()));
        server = std::make_unique<Ser2net>();
        QVERIFY(server->start(pty.slavePath(), true, tcpPort));
        QTRY_COMPARE_WITH_TIMEOUT(w.shownError(),
                                  u"COM 4 is back: re-opened "_s + server->url(true), 20000);
        QCOMPARE(val(w, 2), u"True"_s);
    }

    void lostPortWaitEndsWithResetComm()
    {
        PortMap map;
        auto pty = std::make_unique<Pty>();
        QVERIFY(map.map(4, pty->slavePath()));
        Form_Comm w(std::make_unique<PortRouter>(), std::make_unique<FakeSaveDialog>());
        w.setDeviceDiscovery(std::make_unique<FakeDeviceDiscovery>());
        pty->closeMaster();
        QTRY_COMPARE_WITH_TIMEOUT(val(w, 2), u"False"_s, 20000);
        // Reset Comm on a port with no device: the operator chose, so no waiting after it.
        QVERIFY(map.map(4, map.path() + u"/gone"_s));
        child<QComboBox>(w, u"cbo_Port"_s)->setEditText(u"COM 4"_s);
        child<QPushButton>(w, u"cmd_reset"_s)->click();
        Pty back;
        QVERIFY(map.map(4, back.slavePath()));
        QSignalSpy ticks(child<QTimer>(w, u"Timer1"_s), &QTimer::timeout);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 3, 20000);
        QCOMPARE(val(w, 2), u"False"_s);
    }
};

QTEST_MAIN(TestPortsWindow)
#include "tst_ports_window.moc"
