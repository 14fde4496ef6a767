// Sending through the real serial layer to a pseudo-terminal: what the other end reads.
#include "receive/linestatisticswindow.h"
#include "support/modalwatcher.h"
#include "support/monitor.h"
#include "support/tables.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
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
        // codes: "Codes in angle brackets" on
        columns<QByteArray, QString, QByteArray, bool>("command", "suffix", "wire", "codes");

        const QByteArray abc("abc");
        QTest::newRow("abc, none") << abc << u"<select suffix>"_qs << QByteArray("abc") << false;
        QTest::newRow("abc, CrLf") << abc << u"CrLf"_qs << QByteArray("abc\r\n") << false;
        QTest::newRow("abc, EOL") << abc << u"EOL"_qs << QByteArray("abc\n") << false;
        QTest::newRow("abc, STX/EOT") << abc << u"<STX>/<EOT>"_qs
                                      << QByteArray("\x02"
                                                    "abc\x04")
                                      << false;
        QTest::newRow("abc, SYN") << abc << u"<SYN>"_qs << QByteArray("\x02\x10\x04") << false;
        QTest::newRow("abc, CR LF entry")
            << abc << u"<CR><LF>"_qs << QByteArray("abc\r\n") << false;

        const QByteArray spaced(" abc ");
        QTest::newRow("spaced, STX/EOT") << spaced << u"<STX>/<EOT>"_qs
                                         << QByteArray("\x02"
                                                       "abc\x04")
                                         << false;
        QTest::newRow("spaced, CrLf") << spaced << u"CrLf"_qs << QByteArray(" abc \r\n") << false;
        QTest::newRow("spaced, none")
            << spaced << u"<select suffix>"_qs << QByteArray(" abc ") << false;

        QTest::newRow("empty, none: nothing")
            << QByteArray() << u"<select suffix>"_qs << QByteArray() << false;
        QTest::newRow("empty, CrLf") << QByteArray() << u"CrLf"_qs << QByteArray("\r\n") << false;
        QTest::newRow("empty, EOL") << QByteArray() << u"EOL"_qs << QByteArray("\n") << false;
        QTest::newRow("empty, STX/EOT")
            << QByteArray() << u"<STX>/<EOT>"_qs << QByteArray("\x02\x04") << false;
        QTest::newRow("empty, SYN")
            << QByteArray() << u"<SYN>"_qs << QByteArray("\x02\x10\x04") << false;
        QTest::newRow("empty, CR LF entry")
            << QByteArray() << u"<CR><LF>"_qs << QByteArray("\r\n") << false;

        QTest::newRow("spaces only, STX/EOT")
            << QByteArray("   ") << u"<STX>/<EOT>"_qs << QByteArray("\x02\x04") << false;

        // Line ends, XON/XOFF, DEL and NUL are all plain bytes on a raw line.
        QTest::newRow("all 256 codes, none")
            << allByteValues() << u"<select suffix>"_qs << allByteValues() << false;

        // Codes become bytes before the suffix frames them; typed as-is while the item is off.
        QTest::newRow("codes on, STX/EOT")
            << QByteArray(" <ACK>a<<b<255><0><cr> ") << u"<STX>/<EOT>"_qs
            << QByteArray("\x02\x06"
                          "a<b\xff",
                          6) +
                   QByteArray("\0\r\x04", 3)
            << true;
        QTest::newRow("codes off, STX/EOT")
            << QByteArray("<ACK>") << u"<STX>/<EOT>"_qs << QByteArray("\x02<ACK>\x04") << false;
    }
    void wireBytes()
    {
        QFETCH(QByteArray, command);
        QFETCH(QString, suffix);
        QFETCH(QByteArray, wire);
        QFETCH(bool, codes);

        Bench b;
        QVERIFY2(b.portOpen(), "the pty did not open as COM 4");
        b.child<QAction>("act_angleCodes")->setChecked(codes);
        b.send(command, suffix);
        QCOMPARE(b.box()->text(), QString());
        b.send(QByteArray(1, kMarker), u"<select suffix>"_qs);
        const QByteArray expected = wire + kMarker;
        QCOMPARE(b.wire(expected.size()).toHex(' '), expected.toHex(' '));
        QCOMPARE(b.form->lineStatistics().sent(), quint64(expected.size()));
    }

    // A malformed code refuses the whole command: nothing goes out, the box keeps the text.
    void malformedCodeRefused()
    {
        Bench b;
        QVERIFY(b.portOpen());
        b.child<QAction>("act_angleCodes")->setChecked(true);
        b.send(QByteArray("ab<256>"), u"CrLf"_qs);
        QVERIFY2(b.form->shownError().contains(u"at character 3"_qs),
                 qPrintable(b.form->shownError()));
        QCOMPARE(b.box()->text(), u"ab<256>"_qs);
        b.child<QAction>("act_angleCodes")->setChecked(false);
        b.send(QByteArray(1, kMarker), u"<select suffix>"_qs);
        QCOMPARE(b.wire(1), QByteArray(1, kMarker));
        QCOMPARE(b.form->lineStatistics().sent(), quint64(1));
    }

    // What came through the pty is what the statistics count; a pty has no error counters.
    void statisticsCountTheStream()
    {
        Bench b;
        QVERIFY(b.portOpen());
        b.monitor(true);
        const QByteArray frame("S1,0123456789ABCDEF\r");
        const int frames = 500;
        QVERIFY(b.pty->write(frame.repeated(frames)));
        const quint64 total = quint64(frame.size()) * frames;
        QTRY_COMPARE_WITH_TIMEOUT(b.form->lineStatistics().received(), total, 60000);
        QCOMPARE(b.form->lineStatistics().frames(), quint64(frames));

        b.form->findChild<QAction *>(u"act_lineStatistics"_qs)->trigger();
        LineStatisticsWindow *w = b.form->lineStatisticsWindow();
        QVERIFY(w && w->isVisible());
        QCOMPARE(w->valueLabel(u"Characters received"_qs)->text(), QString::number(total));
        QCOMPARE(w->valueLabel(u"Framing errors"_qs)->text(), u"not reported by this device"_qs);
        // A screen reader hears the figure itself, the caption as its description.
        QAccessibleInterface *a =
            QAccessible::queryAccessibleInterface(w->valueLabel(u"Characters received"_qs));
        QCOMPARE(a->text(QAccessible::Name), QString::number(total));
        QCOMPARE(a->text(QAccessible::Description), u"Characters received"_qs);
        QVERIFY(b.child<QWidget>("LED_data")->toolTip().contains(u"not reported"_qs));

        QTest::mouseClick(w->findChild<QPushButton *>(u"cmd_resetStatistics"_qs), Qt::LeftButton);
        QCOMPARE(b.form->lineStatistics().received(), quint64(0));
        QCOMPARE(w->valueLabel(u"Characters received"_qs)->text(), u"0"_qs);
        QVERIFY(b.pty->write(frame));
        QTRY_COMPARE_WITH_TIMEOUT(b.form->lineStatistics().frames(), quint64(1), 10000);
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
