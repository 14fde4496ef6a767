// Sending through the real serial layer to a pseudo-terminal: what the other end reads.
#include "support/modalwatcher.h"
#include "support/monitor.h"
#include "support/tables.h"

#include <QDeadlineTimer>
#include <QLineEdit>
#include <QTest>

namespace {

// A marker sent after each command: reading up to it shows that nothing more, and
// nothing less, went out before it.
constexpr char kMarker = '#';

struct Bench : PtyMonitor
{
    Bench() { form->show(); }
    void send(const QByteArray &command, const QString &suffix) const
    {
        Monitor::send(QString::fromLatin1(command), suffix);
    }
    // Reads the master side while the window's event loop runs, since the serial layer
    // writes from there.
    QByteArray wire(qsizetype count, int timeoutMs = 10000)
    {
        QByteArray out;
        QDeadlineTimer deadline(timeoutMs);
        while (out.size() < count && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            out += pty->read(count - out.size(), 5);
        }
        return out;
    }
};

} // namespace

class TestTransmitPty : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void wireBytes_data()
    {
        columns<QByteArray, QString, QByteArray>("command", "suffix", "wire");

        const QByteArray abc("abc");
        QTest::newRow("abc, none") << abc << u"<select suffix>"_qs << QByteArray("abc");
        QTest::newRow("abc, CrLf") << abc << u"CrLf"_qs << QByteArray("abc\r\n");
        QTest::newRow("abc, EOL") << abc << u"EOL"_qs << QByteArray("abc\n");
        QTest::newRow("abc, STX/EOT") << abc << u"<STX>/<EOT>"_qs
                                      << QByteArray("\x02"
                                                    "abc\x04");
        QTest::newRow("abc, SYN") << abc << u"<SYN>"_qs << QByteArray("\x02\x10\x04");
        QTest::newRow("abc, CR LF entry") << abc << u"<CR><LF>"_qs << QByteArray("abc\r\n");

        const QByteArray spaced(" abc ");
        QTest::newRow("spaced, STX/EOT") << spaced << u"<STX>/<EOT>"_qs
                                         << QByteArray("\x02"
                                                       "abc\x04");
        QTest::newRow("spaced, CrLf") << spaced << u"CrLf"_qs << QByteArray(" abc \r\n");
        QTest::newRow("spaced, none") << spaced << u"<select suffix>"_qs << QByteArray(" abc ");

        QTest::newRow("empty, none: nothing")
            << QByteArray() << u"<select suffix>"_qs << QByteArray();
        QTest::newRow("empty, CrLf") << QByteArray() << u"CrLf"_qs << QByteArray("\r\n");
        QTest::newRow("empty, EOL") << QByteArray() << u"EOL"_qs << QByteArray("\n");
        QTest::newRow("empty, STX/EOT")
            << QByteArray() << u"<STX>/<EOT>"_qs << QByteArray("\x02\x04");
        QTest::newRow("empty, SYN") << QByteArray() << u"<SYN>"_qs << QByteArray("\x02\x10\x04");
        QTest::newRow("empty, CR LF entry") << QByteArray() << u"<CR><LF>"_qs << QByteArray("\r\n");

        QTest::newRow("spaces only, STX/EOT")
            << QByteArray("   ") << u"<STX>/<EOT>"_qs << QByteArray("\x02\x04");

        // Line ends, XON/XOFF, DEL and NUL are all plain bytes on a raw line.
        QTest::newRow("all 256 codes, none")
            << allByteValues() << u"<select suffix>"_qs << allByteValues();
    }
    void wireBytes()
    {
        QFETCH(QByteArray, command);
        QFETCH(QString, suffix);
        QFETCH(QByteArray, wire);

        Bench b;
        QVERIFY2(b.portOpen(), "the pty did not open as COM 4");
        b.send(command, suffix);
        QCOMPARE(b.box()->text(), QString());
        b.send(QByteArray(1, kMarker), u"<select suffix>"_qs);
        const QByteArray expected = wire + kMarker;
        QCOMPARE(b.wire(expected.size()).toHex(' '), expected.toHex(' '));
    }

    void longCommandArrivesWhole()
    {
        Bench b;
        QVERIFY(b.portOpen());
        const QByteArray command = allByteValues().repeated(256); // 64 KiB
        b.send(command, u"CrLf"_qs);
        QCOMPARE(b.box()->text(), QString());
        const QByteArray got = b.wire(command.size() + 2);
        QCOMPARE(got.size(), command.size() + 2);
        QVERIFY(got == command + "\r\n");
    }

    // A device that vanished: the serial layer closes the port, and a send names it.
    void sendAfterHangUpNamesThePort()
    {
        Bench b;
        QVERIFY(b.portOpen());
        b.pty->closeMaster();
        QTRY_VERIFY_WITH_TIMEOUT(!b.portOpen(), 5000);

        ModalWatcher watcher;
        b.send(QByteArray("abc"), u"CrLf"_qs);
        QCOMPARE(watcher.text, u"Port [4] not opened"_qs);
        QCOMPARE(b.box()->text(), u"abc"_qs);
    }
};

QTEST_MAIN(TestTransmitPty)
#include "tst_transmit_pty.moc"
