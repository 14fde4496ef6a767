#include "port/devicediscovery.h"
#include "port/portmapping.h"
#include "port/portrules.h"
#include "port/replugwatch.h"
#include "support/fakedevicediscovery.h"
#include "support/pty.h"
#include "support/tables.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <linux/serial.h>

using namespace Qt::StringLiterals;
using Kind = PortMapping::Kind;
Q_DECLARE_METATYPE(PortMapping)

namespace {

// A configuration folder; "@" in a path stands for it. Links to /dev/null and /dev/zero
// stand in for device nodes.
struct Config
{
    QTemporaryDir dir;
    QString path(const QString &p) const { return QString(p).replace(u'@', dir.path()); }
    bool link(const QString &target, const QString &name) const
    {
        QDir().mkpath(QFileInfo(path(name)).absolutePath());
        QFile::remove(path(name));
        return QFile::link(path(target), path(name));
    }
    bool write(const QString &name, const QByteArray &bytes) const
    {
        QDir().mkpath(QFileInfo(path(name)).absolutePath());
        QFile f(path(name));
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    }
    // The ports folder's entries with their link targets, temporaries included.
    QStringList listing() const
    {
        QStringList out;
        for (const QFileInfo &i : QDir(path(u"@/commtest/ports"_s))
                                      .entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                     QDir::System | QDir::NoDotAndDotDot))
            out << i.fileName() + u'=' + i.symLinkTarget();
        return out;
    }
};

const SerialDevice &ftdi = kFtdiAdapter;
const SerialDevice onboard{.path = u"/dev/ttyS0"_s};

} // namespace

class TestDevices : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void readMapping_data()
    {
        // setup: "link:TARGET", "file:BYTES" or "dir"
        // problem: a part of it; empty: none
        columns<QString, int, QString, QString, QString>("setup", "kind", "target", "device",
                                                         "problem");
        const int link = int(Kind::Link), net = int(Kind::Network), bad = int(Kind::Garbage);
        const QString com4 = u"@/commtest/ports/com4"_s;
        QTest::newRow("link chain to a device")
            << u"link:@/dev/ttyUSB0"_s << link << u"@/dev/ttyUSB0"_s << u"/dev/null"_s << QString();
        QTest::newRow("dangling link")
            << u"link:@/dev/gone"_s << link << u"@/dev/gone"_s << QString() << u"leads nowhere"_s;
        QTest::newRow("link to a regular file")
            << u"link:@/plain"_s << link << u"@/plain"_s << QString() << u"not a serial device"_s;
        QTest::newRow("folder") << u"dir"_s << int(Kind::Folder) << com4 << QString()
                                << u"is a folder"_s;
        QTest::newRow("garbage bytes")
            << u"file:\x01\xfe\n"_s << bad << com4 << QString() << u"neither a link"_s;
        QTest::newRow("URL without host")
            << u"file:rfc2217://:2000"_s << bad << com4 << QString() << u"neither a link"_s;
        QTest::newRow("rfc2217 URL") << u"file:rfc2217://lab-pc:2000\nnotes\n"_s << net
                                     << u"rfc2217://lab-pc:2000"_s << QString() << QString();
        QTest::newRow("tcp URL, CRLF") << u"file:tcp://127.0.0.1:4001\r\n"_s << net
                                       << u"tcp://127.0.0.1:4001"_s << QString() << QString();
        QTest::newRow("URL file through a link")
            << u"link:@/url"_s << net << u"tcp://10.0.0.2:7000"_s << QString() << QString();
    }
    void readMapping()
    {
        QFETCH(QString, setup);
        QFETCH(QString, target);
        QFETCH(QString, problem);
        Config c;
        QVERIFY(c.link(u"/dev/null"_s, u"@/dev/ttyUSB0"_s));
        QVERIFY(c.write(u"@/plain"_s, "x"));
        QVERIFY(c.write(u"@/url"_s, "tcp://10.0.0.2:7000\n"));
        const QString com4 = c.path(u"@/commtest/ports/com4"_s);
        if (setup.startsWith(u"link:"))
            QVERIFY(c.link(setup.mid(5), com4));
        else if (setup.startsWith(u"file:"))
            QVERIFY(c.write(com4, setup.mid(5).toLatin1()));
        else
            QVERIFY(QDir().mkpath(com4));

        const PortMapping m = readPortMapping(4, c.dir.path());
        QTEST(int(m.kind), "kind");
        QCOMPARE(m.entry, com4);
        QCOMPARE(m.target, c.path(target));
        QTEST(m.device, "device");
        QVERIFY2(problem.isEmpty() ? m.problem.isEmpty() : m.problem.contains(problem),
                 qPrintable(m.problem));
        // The rule the serial control opens by agrees: an entry, whatever it holds, wins.
        QCOMPARE(deviceForPort(4, c.dir.path()), com4);
    }

    // The one rule a ports-folder file names a network port by, for the menu, the
    // transport choice and the writer alike; and the TLS files the lines after it give.
    void urlEntries_data()
    {
        // url: the URL the entry names; empty: none
        // tls: "ca|cert|key" as read, "@" the configuration folder
        // error: a part of why the key=value lines refuse the open; empty: they do not
        columns<QByteArray, QString, QString, QString>("file", "url", "tls", "error");
        const QString none = u"||"_s;
        QTest::newRow("rfc2217") << QByteArray("rfc2217://lab-pc:2000\n")
                                 << u"rfc2217://lab-pc:2000"_s << none << QString();
        QTest::newRow("scheme case, slash, blanks, CRLF, notes after")
            << QByteArray("  TCP://Host_1.lan:7/ \r\nbench 3\n") << u"tcp://Host_1.lan:7"_s << none
            << QString();
        QTest::newRow("IPv6") << QByteArray("rfc2217://[::1]:2217") << u"rfc2217://[::1]:2217"_s
                              << none << QString();
        QTest::newRow("other scheme")
            << QByteArray("http://lab:80\n") << QString() << none << QString();
        QTest::newRow("no port") << QByteArray("tcp://lab-pi\n") << QString() << none << QString();
        QTest::newRow("port out of range")
            << QByteArray("tcp://lab:65536\n") << QString() << none << QString();
        QTest::newRow("no host") << QByteArray("rfc2217://:2000\n") << QString() << none
                                 << QString();
        QTest::newRow("blank in host")
            << QByteArray("tcp://lab pi:1\n") << QString() << none << QString();
        QTest::newRow("URL on the second line")
            << QByteArray("\ntcp://lab:1\n") << QString() << none << QString();
        QTest::newRow("first line too long")
            << QByteArray("tcp://lab:1") + QByteArray(5000, ' ') + "\n"
            << QString() << none << QString();
        QTest::newRow("rfc2217+tls, system trust")
            << QByteArray("RFC2217+TLS://lab-pc:3000\n") << u"rfc2217+tls://lab-pc:3000"_s << none
            << QString();
        QTest::newRow("tcp+tls, all files, CRLF, blanks, notes between")
            << QByteArray("tcp+tls://[::1]:7\r\n ca = /etc/lab/ca.pem \r\nrack 2\r\n"
                          "CERT=/home/me/me.crt\nkey=/home/me/me.key")
            << u"tcp+tls://[::1]:7"_s << u"/etc/lab/ca.pem|/home/me/me.crt|/home/me/me.key"_s
            << QString();
        QTest::newRow("relative paths from the ports folder")
            << QByteArray("rfc2217+tls://lab:1\nca=lab/ca.pem\n") << u"rfc2217+tls://lab:1"_s
            << u"@/commtest/ports/lab/ca.pem||"_s << QString();
        QTest::newRow("other scheme with +tls")
            << QByteArray("telnet+tls://lab:1\n") << QString() << none << QString();
        QTest::newRow("ca= on a plain URL")
            << QByteArray("rfc2217://lab:1\nca=/ca.pem\n") << u"rfc2217://lab:1"_s << none
            << u"ca= only for a +tls URL: rfc2217://lab:1 travels in clear"_s;
        QTest::newRow("cert= without key=")
            << QByteArray("tcp+tls://lab:1\ncert=/me.crt\n") << u"tcp+tls://lab:1"_s << none
            << u"needs both cert= and key="_s;
        QTest::newRow("empty ca=") << QByteArray("tcp+tls://lab:1\nca=\n") << u"tcp+tls://lab:1"_s
                                   << none << u"No file after ca="_s;
        QTest::newRow("ca= twice") << QByteArray("tcp+tls://lab:1\nca=/a\nca=/b\n")
                                   << u"tcp+tls://lab:1"_s << none << u"ca= given twice"_s;
    }
    void urlEntries()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, url);
        QFETCH(QString, tls);
        QFETCH(QString, error);
        Config c;
        QVERIFY(c.write(u"@/commtest/ports/com4"_s, file));
        const PortMapping m = readPortMapping(4, c.dir.path());
        QCOMPARE(m.kind == Kind::Network, !url.isEmpty());
        if (url.isEmpty()) {
            QCOMPARE(int(m.kind), int(Kind::Garbage));
            QVERIFY2(m.urlError.endsWith(u" ("_s + m.entry + u')'), qPrintable(m.urlError));
        } else {
            QCOMPARE(m.target, url);
            QCOMPARE(portUrlText(m.url), url);
            QVERIFY(m.problem.isEmpty());
            QCOMPARE(QStringList({m.tls.ca, m.tls.cert, m.tls.key}).join(u'|'), c.path(tls));
            if (error.isEmpty())
                QCOMPARE(m.urlError, QString());
            else
                QVERIFY2(m.urlError.contains(error) &&
                             m.urlError.endsWith(u" ("_s + m.entry + u')'),
                         qPrintable(m.urlError));
        }
        // The writer refuses what the reader would not take (it writes the URL trimmed, so
        // never a long line).
        if (file.size() < 4096)
            QCOMPARE(networkUrlProblem(QString::fromUtf8(file.split('\n').first())).isEmpty(),
                     !url.isEmpty());
    }

    void readMappingWithoutEntry()
    {
        Config c;
        const PortMapping none = readPortMapping(30000, c.dir.path());
        QCOMPARE(int(none.kind), int(Kind::Default));
        QCOMPARE(none.target, u"/dev/ttyS29999"_s);
        QCOMPARE(none.problem, u"no such device"_s);
    }

    void writeReplaceRemove()
    {
        Config c; // no ports folder yet: writing creates it
        QVERIFY(c.link(u"/dev/null"_s, u"@/by-id/usb-X"_s));
        QVERIFY(c.link(u"/dev/zero"_s, u"@/ttyACM0"_s));
        const SerialDevice adapter{.path = u"/dev/null"_s, .byIdPath = c.path(u"@/by-id/usb-X"_s)};
        const SerialDevice plain{.path = c.path(u"@/ttyACM0"_s)};

        QCOMPARE(writePortMapping(4, mappingTarget(adapter), c.dir.path()), QString());
        QCOMPARE(readPortMapping(4, c.dir.path()).target, adapter.byIdPath);
        QCOMPARE(writePortMapping(4, mappingTarget(plain), c.dir.path()), QString());
        QCOMPARE(readPortMapping(4, c.dir.path()).device, u"/dev/zero"_s);
        QVERIFY(c.write(u"@/commtest/ports/com5"_s, "tcp://h:1\n")); // a network entry
        QCOMPARE(writePortMapping(5, mappingTarget(plain), c.dir.path()), QString());
        QCOMPARE(c.listing(), QStringList({u"com4="_s + plain.path, u"com5="_s + plain.path}));

        QCOMPARE(removePortMapping(4, c.dir.path()), QString());
        QCOMPARE(removePortMapping(4, c.dir.path()), QString()); // already gone
        QCOMPARE(c.listing(), QStringList({u"com5="_s + plain.path}));
    }

    void writeRefused_data()
    {
        // block: what is in the way
        columns<int, QString, QString>("port", "block", "reason");
        QTest::newRow("folder at com4")
            << 4 << u"dir:@/commtest/ports/com4"_s << u"remove it first"_s;
        QTest::newRow("garbage at com4")
            << 4 << u"file:@/commtest/ports/com4"_s << u"remove it first"_s;
        QTest::newRow("ports folder is a file")
            << 4 << u"file:@/commtest/ports"_s << u"Cannot create the ports folder"_s;
        QTest::newRow("read-only ports folder")
            << 4 << u"ro:@/commtest/ports"_s << u"Cannot write in the ports folder"_s;
    }
    void writeRefused()
    {
        QFETCH(int, port);
        QFETCH(QString, block);
        QFETCH(QString, reason);
        Config c;
        const QString blocked = c.path(block.section(u':', 1));
        if (block.startsWith(u"dir:"))
            QVERIFY(QDir().mkpath(blocked));
        if (block.startsWith(u"file:"))
            QVERIFY(c.write(blocked, "\x7f\x01"));
        if (block.startsWith(u"ro:")) {
            if (::geteuid() == 0)
                QSKIP("root writes into a read-only folder");
            QVERIFY(QDir().mkpath(blocked));
            QVERIFY(QFile::setPermissions(blocked, QFile::ReadOwner | QFile::ExeOwner));
        }
        const QStringList before = c.listing();
        const QString error = writePortMapping(port, u"/dev/null"_s, c.dir.path());
        QVERIFY2(error.contains(reason), qPrintable(error));
        QCOMPARE(c.listing(), before);
        if (block.startsWith(u"dir:"))
            QVERIFY(!removePortMapping(port, c.dir.path()).isEmpty());
    }

    void networkEntry_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("reason"); // a part of it; empty: written
        QTest::newRow("rfc2217") << u" rfc2217://lab-pi:2001 "_s << QString();
        QTest::newRow("raw tcp") << u"tcp://10.0.0.7:2002"_s << QString();
        QTest::newRow("rfc2217+tls") << u"rfc2217+tls://lab-pi:3001"_s << QString();
        QTest::newRow("no port") << u"tcp://lab-pi"_s << u"No port number"_s;
        QTest::newRow("other scheme") << u"http://lab-pi:80"_s << u"Not a port URL"_s;
        QTest::newRow("no host") << u"tcp://:2002"_s << u"Invalid host"_s;
        QTest::newRow("blank") << u"  "_s << u"No port URL"_s;
    }
    void networkEntry()
    {
        QFETCH(QString, url);
        QFETCH(QString, reason);
        Config c;
        QVERIFY(c.link(u"/dev/null"_s, u"@/commtest/ports/com6"_s)); // replaced when written
        const QStringList before = c.listing();
        const QString error = writeNetworkPortMapping(6, url, c.dir.path());
        QVERIFY2(reason.isEmpty() ? error.isEmpty() : error.contains(reason), qPrintable(error));
        if (!reason.isEmpty()) {
            QCOMPARE(c.listing(), before);
            return;
        }
        const PortMapping m = readPortMapping(6, c.dir.path());
        QCOMPARE(int(m.kind), int(Kind::Network));
        QCOMPARE(m.target, url.trimmed());
        QCOMPARE(c.listing(), QStringList({u"com6="_s})); // a regular file, no temporary left

        // A new URL keeps the lines the operator wrote after the old one.
        const QByteArray after = "ca=/lab/ca.pem\nrack 2\n";
        QVERIFY(c.write(u"@/commtest/ports/com6"_s, "tcp+tls://old:1\n" + after));
        QCOMPARE(writeNetworkPortMapping(6, url, c.dir.path()), QString());
        QFile written(c.path(u"@/commtest/ports/com6"_s));
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), url.trimmed().toUtf8() + '\n' + after);
    }

    void mappingText_data()
    {
        columns<PortMapping, QString>("mapping", "expected");
        const QString byId = ftdi.byIdPath;
        QTest::newRow("by-id link, known device")
            << PortMapping{4, Kind::Link, {}, byId, ftdi.path, {}}
            << u"COM 4 → "_s + byId + u" (/dev/ttyUSB0), FT232R USB UART, serial A1B2C3"_s;
        QTest::newRow("device without details")
            << PortMapping{1, Kind::Default, {}, onboard.path, onboard.path, {}}
            << u"COM 1 → /dev/ttyS0"_s;
        QTest::newRow("dangling") << PortMapping{4, Kind::Link, {}, byId, {}, u"no such device"_s}
                                  << u"COM 4 → "_s + byId + u": no such device"_s;
        QTest::newRow("network") << PortMapping{7, Kind::Network, {}, u"rfc2217://lab:2000"_s, {},
                                                {}}
                                 << u"COM 7 → network port rfc2217://lab:2000"_s;
    }
    void mappingText()
    {
        QFETCH(PortMapping, mapping);
        QTEST(::mappingText(mapping, {onboard, ftdi}), "expected");
    }

    void portMenu()
    {
        const FakeDeviceDiscovery discovery({onboard, ftdi});
        const QString e = u"/c/comN"_s; // an entry
        const PortMapping mappings[] = {
            {1, Kind::Default, {}, onboard.path, onboard.path, {}},
            {2, Kind::Link, e, ftdi.byIdPath, ftdi.path, {}},
            {3, Kind::Folder, e, e, {}, u"folder"_s},
            {4, Kind::Garbage, e, e, {}, u"bad"_s},
            {5, Kind::Network, e, u"tcp://h:1"_s, {}, {}},
            {6, Kind::Link, e, ftdi.path, ftdi.path, {}},
        };
        const PortMenu menu = buildPortMenu(
            QList<PortMapping>(std::begin(mappings), std::end(mappings)), discovery.list());
        QString removable;
        for (const PortMenuEntry &p : menu.ports)
            removable += p.removable ? u'R' : u'-';
        QCOMPARE(removable, u"-R-RRR"_s);
        QCOMPARE(menu.ports[1].text, ::mappingText(mappings[1], discovery.list()));

        QCOMPARE(menu.devices.size(), 2);
        QCOMPARE(menu.devices[0].text, onboard.path);
        QCOMPARE(menu.devices[0].linkTarget, onboard.path);
        QCOMPARE(menu.devices[0].mappedPorts, QList<int>({1}));
        QCOMPARE(menu.devices[1].text,
                 u"/dev/ttyUSB0: "_s + ftdi.byIdPath +
                     u", FT232R USB UART, FTDI, serial A1B2C3, USB 0403:6001"_s);
        QCOMPARE(menu.devices[1].linkTarget, ftdi.byIdPath);
        QCOMPARE(menu.devices[1].mappedPorts, QList<int>({2, 6}));
    }

    void stableNames()
    {
        Config c;
        for (const QString &node : {u"ttyUSB0"_s, u"ttyUSB1"_s, u"ttyACM0"_s})
            QVERIFY(c.write(u"@/dev/"_s + node, ""));
        QVERIFY(c.link(u"../dev/ttyUSB1"_s, u"@/by-id/usb-B"_s));
        QVERIFY(c.link(u"../dev/ttyUSB0"_s, u"@/by-id/usb-A-port1"_s));
        QVERIFY(c.link(u"../dev/ttyUSB0"_s, u"@/by-id/usb-A-port0"_s));
        QVERIFY(c.link(u"../dev/gone"_s, u"@/by-id/usb-C"_s));
        QList<SerialDevice> devices;
        for (const QString &node : {u"ttyUSB1"_s, u"ttyUSB0"_s, u"ttyACM0"_s})
            devices.append({.path = c.path(u"@/dev/"_s + node)});
        QStringList got;
        for (const SerialDevice &d : withStableNames(devices, c.path(u"@/by-id"_s)))
            got << QFileInfo(d.path).fileName() + u'=' + d.byIdPath;
        QCOMPARE(got, QStringList({u"ttyACM0="_s, u"ttyUSB0="_s + c.path(u"@/by-id/usb-A-port0"_s),
                                   u"ttyUSB1="_s + c.path(u"@/by-id/usb-B"_s)}));
    }

    // Whatever this machine has attached, possibly nothing.
    void systemDiscoverySmoke()
    {
        const QList<SerialDevice> devices = SystemDeviceDiscovery().list();
        for (qsizetype i = 0; i < devices.size(); ++i) {
            const SerialDevice &d = devices[i];
            QVERIFY2(QFileInfo::exists(d.path), qPrintable(d.path));
            QVERIFY(d.byIdPath.isEmpty() || QFileInfo(d.byIdPath).canonicalFilePath() ==
                                                QFileInfo(d.path).canonicalFilePath());
            QVERIFY(i == 0 || devices[i - 1].path < d.path);
        }
    }

    void noSerialHardware_data()
    {
        // type: -1: the driver does not answer
        columns<QString, int, bool>("device", "type", "expected");
        QTest::newRow("legacy port, no UART") << u"/dev/ttyS3"_s << PORT_UNKNOWN << true;
        QTest::newRow("legacy port 12, no UART") << u"/dev/ttyS12"_s << PORT_UNKNOWN << true;
        QTest::newRow("legacy port, 16550A") << u"/dev/ttyS3"_s << PORT_16550A << false;
        QTest::newRow("legacy port, no answer") << u"/dev/ttyS3"_s << -1 << false;
        QTest::newRow("USB adapter reports unknown") << u"/dev/ttyUSB0"_s << PORT_UNKNOWN << false;
        QTest::newRow("other driver named ttyS*") << u"/dev/ttySAC0"_s << PORT_UNKNOWN << false;
        QTest::newRow("no number") << u"/dev/ttyS"_s << PORT_UNKNOWN << false;
    }
    void noSerialHardware()
    {
        QFETCH(QString, device);
        QFETCH(int, type);
        QTEST(::noSerialHardware(device, type < 0 ? std::nullopt : std::optional<int>(type)),
              "expected");
    }

    void ptyGivesNoSerialType()
    {
        Pty pty;
        QVERIFY(pty.isValid());
        // The side the serial control opens.
        const int fd = ::open(QFile::encodeName(pty.slavePath()).constData(), O_RDWR | O_NOCTTY);
        QVERIFY(fd >= 0);
        const std::optional<int> type = serialPortType(fd);
        ::close(fd);
        QCOMPARE(type, std::nullopt);
    }

    void replugFollowsTheMappingOnly_data()
    {
        // com4: what com4 links to
        // back: the node the adapter comes back as
        // byId: its stable name then, empty: none
        columns<QString, QString, QString, QString>("com4", "back", "byId", "device");
        const QString usb0 = u"@/dev/ttyUSB0"_s, usb1 = u"@/dev/ttyUSB1"_s, x = u"@/by-id/usb-X"_s;
        QTest::newRow("node link, same node") << usb0 << usb0 << QString() << u"/dev/null"_s;
        QTest::newRow("node link, new node not guessed") << usb0 << usb1 << QString() << QString();
        QTest::newRow("by-id link follows to the new node") << x << usb1 << x << u"/dev/zero"_s;
        QTest::newRow("another adapter not guessed")
            << x << usb1 << u"@/by-id/usb-Y"_s << QString();
    }
    void replugFollowsTheMappingOnly()
    {
        QFETCH(QString, com4);
        QFETCH(QString, back);
        QFETCH(QString, byId);
        QFETCH(QString, device);
        Config c;
        QVERIFY(c.link(u"/dev/null"_s, u"@/dev/ttyUSB0"_s));
        QVERIFY(c.link(u"../dev/ttyUSB0"_s, u"@/by-id/usb-X"_s));
        QVERIFY(c.link(com4, u"@/commtest/ports/com4"_s));
        const auto tick = [&](ReplugWatch &w) { return w.due(readPortMapping(4, c.dir.path())); };

        ReplugWatch watch;
        QVERIFY(!tick(watch)); // nothing was lost
        watch.lost(4, u"/dev/null"_s);
        QVERIFY(QFile::remove(c.path(u"@/dev/ttyUSB0"_s)));
        QVERIFY(QFile::remove(c.path(u"@/by-id/usb-X"_s)));
        QVERIFY(!tick(watch));
        QVERIFY(c.link(back.endsWith(u'0') ? u"/dev/null"_s : u"/dev/zero"_s, back));
        if (!byId.isEmpty())
            QVERIFY(c.link(back, byId));
        QCOMPARE(tick(watch), !device.isEmpty());
        QCOMPARE(tick(watch), !device.isEmpty()); // until the window says it re-opened
        if (device.isEmpty())
            return;
        QCOMPARE(readPortMapping(4, c.dir.path()).device, device);
        QCOMPARE(watch.backMessage(device),
                 u"COM 4 is back: re-opened "_s + device +
                     (device == u"/dev/zero" ? u" (was /dev/null)"_s : QString()));
        watch.reopened(true);
        QVERIFY(!tick(watch));
    }

    void replugPacing()
    {
        const PortMapping present{4, Kind::Link, {}, u"/dev/x"_s, u"/dev/x"_s, {}};
        const PortMapping network{4, Kind::Network, {}, u"tcp://h:1"_s, {}, {}};
        PortMapping otherPort = present;
        otherPort.port = 5;
        ReplugWatch watch;
        watch.lost(4, u"/dev/x"_s);
        QVERIFY(!watch.due(otherPort));
        // Failed re-opens: the next try comes after 1, 2, 4, 8, 8 ticks.
        QString pattern;
        for (int i = 0; i < 30; ++i) {
            const bool due = watch.due(i < 15 ? present : network);
            pattern += due ? u'T' : u'.';
            if (due)
                watch.reopened(false);
        }
        QCOMPARE(pattern, u"T.T..T....T........T........T."_s);
        watch.cancel();
        QVERIFY(!watch.due(present));
        watch.lost(4, u"/dev/x"_s); // a new loss tries at once
        QVERIFY(watch.due(present));
    }
};

QTEST_GUILESS_MAIN(TestDevices)
#include "tst_devices.moc"
