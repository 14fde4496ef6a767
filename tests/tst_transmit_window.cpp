// Sending from the window with a fake serial control: what is written, the command box,
// the closed-port message and what keeps running while it is open.
#include "app/ledshape.h"
#include "support/modalwatcher.h"
#include "support/monitor.h"
#include "support/tables.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

// Shown, so that focus and key presses reach the command box.
struct Window : Monitor
{
    Window() { form->show(); }
};

} // namespace

class TestTransmitWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The window reads the box and the list at the click and writes once.
    void sendsOneWriteAndEmptiesTheBox_data()
    {
        columns<QString, QString, QByteArray>("command", "suffix", "wire");

        QTest::newRow("abc, none") << u"abc"_qs << u"<select suffix>"_qs << QByteArray("abc");
        QTest::newRow("abc, CrLf") << u"abc"_qs << u"CrLf"_qs << QByteArray("abc\r\n");
        QTest::newRow("abc, EOL") << u"abc"_qs << u"EOL"_qs << QByteArray("abc\n");
        QTest::newRow("spaced abc, STX/EOT") << u" abc "_qs << u"<STX>/<EOT>"_qs
                                             << QByteArray("\x02"
                                                           "abc\x04");
        QTest::newRow("abc, SYN") << u"abc"_qs << u"<SYN>"_qs << QByteArray("\x02\x10\x04");
        QTest::newRow("abc, CR LF entry") << u"abc"_qs << u"<CR><LF>"_qs << QByteArray("abc\r\n");
        QTest::newRow("empty, none: an empty write")
            << QString() << u"<select suffix>"_qs << QByteArray();
        QTest::newRow("latin-1 high codes")
            << QString::fromLatin1("\xb0\xff") << u"<select suffix>"_qs << QByteArray("\xb0\xff");
    }
    void sendsOneWriteAndEmptiesTheBox()
    {
        QFETCH(QString, command);
        QFETCH(QString, suffix);
        QFETCH(QByteArray, wire);

        Window w;
        ModalWatcher watcher;
        w.send(command, suffix);
        QCOMPARE(watcher.seen, false);
        QCOMPARE(w.fake->written.size(), 1);
        QCOMPARE(w.fake->written.first().toHex(' '), wire.toHex(' '));
        QCOMPARE(w.box()->text(), QString());
        QCOMPARE(w.child<QComboBox>("cbo_SuffixCommand")->currentText(), suffix);
    }

    void returnInTheCommandBoxSends()
    {
        Window w;
        w.child<QComboBox>("cbo_SuffixCommand")->setCurrentText(u"CrLf"_qs);
        w.box()->setFocus();
        QTest::keyClicks(w.box(), u"ab c"_qs);
        QTest::keyClick(w.box(), Qt::Key_Return);
        QCOMPARE(w.fake->written, QList<QByteArray>{QByteArray("ab c\r\n")});
        QCOMPARE(w.box()->text(), QString());
        QTest::keyClick(w.box(), Qt::Key_Enter); // keypad Enter too
        QCOMPARE(w.fake->written.size(), 2);
        QCOMPARE(w.fake->written.last(), QByteArray("\r\n"));
    }

    // QLineEdit's default limit of 32767 characters would cut a long command short.
    void longCommandGoesOutWhole()
    {
        Window w;
        QByteArray command(64 * 1024 + 3, 'x');
        for (qsizetype i = 0; i < command.size(); ++i)
            command[i] = char('0' + i % 10);
        w.send(QString::fromLatin1(command), u"<STX>/<EOT>"_qs);
        QCOMPARE(w.fake->written.size(), 1);
        QCOMPARE(w.fake->written.first().size(), command.size() + 2);
        QVERIFY(w.fake->written.first() == '\x02' + command + '\x04');
    }

    // Nothing is sent in place of a character without a single-byte code.
    void characterOutsideLatin1IsRefused()
    {
        Window w;
        const QString command = QString::fromUtf8("12 \xe2\x82\xac");
        ModalWatcher watcher;
        w.send(command, u"CrLf"_qs);
        QVERIFY(w.fake->written.isEmpty());
        QCOMPARE(w.box()->text(), command);
        QVERIFY2(w.form->shownError().contains(u"U+20AC"_qs), qPrintable(w.form->shownError()));
        QCOMPARE(watcher.seen, false); // the non-modal error box, not the port message
    }

    void failedWriteNamesThePort_data()
    {
        columns<QString, QString>("how", "message");

        QTest::newRow("port closed, port 4") << u"closed"_qs << u"Port [4] not opened"_qs;
        QTest::newRow("port closed, set to 12") << u"closed 12"_qs << u"Port [12] not opened"_qs;
        QTest::newRow("write refused while open") << u"refused"_qs << u"Port [4] not opened"_qs;
        QTest::newRow("port number unreadable: last known")
            << u"unreadable"_qs << u"Port [9] not opened"_qs;
    }
    void failedWriteNamesThePort()
    {
        QFETCH(QString, how);
        QFETCH(QString, message);

        Window w;
        if (how == u"closed") {
            QVERIFY(w.fake->setPortOpen(false));
        } else if (how == u"closed 12") {
            QVERIFY(w.fake->setPortOpen(false));
            QVERIFY(w.fake->setCommPort(12));
        } else if (how == u"refused") {
            w.fake->failing.insert(u"Output="_qs);
        } else {
            // A successful send while port 9 was readable, then the port number fails too.
            QVERIFY(w.fake->setPortOpen(false));
            QVERIFY(w.fake->setCommPort(9));
            QVERIFY(w.fake->setPortOpen(true));
            w.send(u"ok"_qs, u"<select suffix>"_qs);
            QCOMPARE(w.fake->written.size(), 1);
            w.fake->written.clear();
            QVERIFY(w.fake->setPortOpen(false));
            w.fake->failing.insert(u"CommPort"_qs);
        }

        ModalWatcher watcher;
        w.send(u"abc"_qs, u"<STX>/<EOT>"_qs);
        QVERIFY(watcher.seen);
        QVERIFY(!watcher.timedOut);
        QCOMPARE(watcher.text, message);
        QCOMPARE(watcher.title, u"commtest"_qs);
        QCOMPARE(watcher.icon, QMessageBox::NoIcon);
        QCOMPARE(watcher.buttons.size(), 1);
        QCOMPARE(watcher.standardButtons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(w.fake->written.isEmpty());
        QCOMPARE(w.box()->text(), u"abc"_qs);
        QVERIFY(!QApplication::activeModalWidget());
        // Nothing of the box is left behind to get in the way of the next send.
        QVERIFY(!w.form->findChild<QMessageBox *>(watcher.objectName));

        // The command is still there for another attempt once the port works again.
        w.fake->failing.clear();
        if (!w.fake->PortOpen().value_or(false))
            QVERIFY(w.fake->setPortOpen(true));
        QTest::mouseClick(w.child<QPushButton>("cmd_Send"), Qt::LeftButton);
        QCOMPARE(w.fake->written, QList<QByteArray>{QByteArray("\x02"
                                                               "abc\x04")});
        QCOMPARE(w.box()->text(), QString());
    }

    // The profile preselects a suffix; the send uses whatever is selected at the click.
    void sendsWithTheSuffixSelectedAtTheClick_data()
    {
        QTest::addColumn<QStringList>(
            "picks"); // profiles, or "suffix:<entry>" for the operator's pick
        QTest::addColumn<QByteArray>("wire");

        QTest::newRow("Analex PQM") << QStringList{u"Analex PQM"_qs}
                                    << QByteArray("\x02"
                                                  "abc\x04");
        QTest::newRow("Houillon after Analex PQM")
            << QStringList{u"Analex PQM"_qs, u"Houillon"_qs} << QByteArray(" abc ");
        QTest::newRow("Analex PQM, then CrLf")
            << QStringList{u"Analex PQM"_qs, u"suffix:CrLf"_qs} << QByteArray(" abc \r\n");
        QTest::newRow("CrLf, then <select application>")
            << QStringList{u"suffix:CrLf"_qs, u"<select application>"_qs} << QByteArray(" abc ");
    }
    void sendsWithTheSuffixSelectedAtTheClick()
    {
        QFETCH(QStringList, picks);
        QFETCH(QByteArray, wire);

        Window w;
        auto *profiles = w.child<QComboBox>("cbo_APP");
        auto *suffixes = w.child<QComboBox>("cbo_SuffixCommand");
        for (const QString &pick : std::as_const(picks)) {
            QComboBox *list = pick.startsWith(u"suffix:") ? suffixes : profiles;
            const int index = list->findText(pick.startsWith(u"suffix:") ? pick.mid(7) : pick);
            QVERIFY2(index >= 0, qPrintable(pick));
            list->setCurrentIndex(index);
            Q_EMIT list->activated(index); // what the operator's pick raises
        }
        w.box()->setText(u" abc "_qs);
        QTest::mouseClick(w.child<QPushButton>("cmd_Send"), Qt::LeftButton);
        QCOMPARE(w.fake->written.size(), 1);
        QCOMPARE(w.fake->written.first().toHex(' '), wire.toHex(' '));
    }

    // The message is modal through a nested event loop: serial events and the timer go on.
    void receivingGoesOnWhileTheMessageIsUp()
    {
        Window w;
        w.monitor(true);
        w.fake->failing.insert(u"Output="_qs);
        auto *timer = w.form->findChild<QTimer *>(u"Timer1"_qs);
        QVERIFY(timer);
        QSignalSpy ticks(timer, &QTimer::timeout);
        const QDateTime now(QDate(2024, 5, 6), QTime(7, 8, 9));
        w.form->setClock([now] { return now; });
        auto *led = w.child<LedShape>("LED_data");
        QVERIFY(led);
        QColor ledBefore;
        QColor ledAtTick;

        int raisedBefore = -1;
        int raisedAfter = -1;
        QByteArray frameBefore;
        QByteArray frameAfter;
        qsizetype unread = -1;
        int ticksWhileUp = 0;
        bool fed = false;
        ModalWatcher watcher([&](QMessageBox *) {
            if (!fed) {
                fed = true;
                ticks.clear();
                raisedBefore = w.fake->raised;
                frameBefore = w.form->frameBuffer();
                ledBefore = led->fillColor();
                w.fake->receive(QByteArray("x"));
                raisedAfter = w.fake->raised;
                frameAfter = w.form->frameBuffer();
                unread = w.fake->waiting();
            }
            ticksWhileUp = int(ticks.count());
            ledAtTick = led->fillColor();
            return ticksWhileUp > 0;
        });
        w.send(u"abc"_qs, u"<select suffix>"_qs);

        QVERIFY(watcher.seen);
        QVERIFY2(!watcher.timedOut, "the timer did not tick while the message was up");
        QCOMPARE(watcher.text, u"Port [4] not opened"_qs);
        QVERIFY(ticksWhileUp > 0);
        QCOMPARE(raisedAfter, raisedBefore + 1);
        QCOMPARE(unread, qsizetype(0));
        QCOMPARE(frameAfter, frameBefore + 'x');
        QCOMPARE(ledBefore, QColor(Qt::red));
        QCOMPARE(ledAtTick, QColor(0, 255, 0));
        QCOMPARE(w.box()->text(), u"abc"_qs);
    }
};

QTEST_MAIN(TestTransmitWindow)
#include "tst_transmit_window.moc"
