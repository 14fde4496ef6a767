// Sending from the window with a fake serial control: what is written, the command box,
// the closed-port message and what keeps running while it is open.
#include "app/form_comm.h"
#include "app/ledshape.h"
#include "support/fakesavedialog.h"
#include "support/fakeserialcontrol.h"

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

struct Window
{
    FakeSerialControl *serial = nullptr;
    std::unique_ptr<Form_Comm> form;

    Window()
    {
        auto fake = std::make_unique<FakeSerialControl>();
        serial = fake.get();
        form = std::make_unique<Form_Comm>(std::move(fake), std::make_unique<FakeSaveDialog>());
        form->show();
    }
    template<typename T>
    T *child(const char *name) const
    {
        return form->findChild<T *>(QString::fromLatin1(name));
    }
    QLineEdit *box() const { return child<QLineEdit>("txt_send"); }
    void send(const QString &command, const QString &suffix)
    {
        box()->setText(command);
        child<QComboBox>("cbo_SuffixCommand")->setCurrentText(suffix);
        QTest::mouseClick(child<QPushButton>("cmd_Send"), Qt::LeftButton);
    }
};

// Watches for the application's modal message box from inside its nested event loop:
// `whileUp` runs on every poll while the box is shown and returns true when the test is
// done with it; the watcher then clicks OK. A box that stays too long is closed anyway.
class ModalWatcher : public QObject
{
public:
    explicit ModalWatcher(std::function<bool(QMessageBox *)> whileUp = {})
        : m_whileUp(std::move(whileUp))
    {
        m_poll.setInterval(10);
        connect(&m_poll, &QTimer::timeout, this, &ModalWatcher::poll);
        m_poll.start();
    }

    bool seen = false;
    bool timedOut = false;
    QString text;
    QString title;
    QString objectName;
    QMessageBox::Icon icon = QMessageBox::Warning;
    QStringList buttons;
    QMessageBox::StandardButtons standardButtons;

private:
    void poll()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (!seen) {
            seen = true;
            m_deadline = QDeadlineTimer(5000);
            text = box->text();
            title = box->windowTitle();
            objectName = box->objectName();
            icon = box->icon();
            for (QAbstractButton *b : box->buttons())
                buttons.append(b->text());
            standardButtons = box->standardButtons();
        }
        const bool done = !m_whileUp || m_whileUp(box);
        if (!done && !m_deadline.hasExpired())
            return;
        timedOut = !done;
        m_poll.stop();
        if (QAbstractButton *ok = box->button(QMessageBox::Ok))
            QTest::mouseClick(ok, Qt::LeftButton);
        else
            box->done(0);
    }

    std::function<bool(QMessageBox *)> m_whileUp;
    QTimer m_poll;
    QDeadlineTimer m_deadline;
};

} // namespace

class TestTransmitWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The window reads the box and the list at the click and writes once.
    void sendsOneWriteAndEmptiesTheBox_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QByteArray>("wire");

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
        QCOMPARE(w.serial->written.size(), 1);
        QCOMPARE(w.serial->written.first().toHex(' '), wire.toHex(' '));
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
        QCOMPARE(w.serial->written, QList<QByteArray>{QByteArray("ab c\r\n")});
        QCOMPARE(w.box()->text(), QString());
        QTest::keyClick(w.box(), Qt::Key_Enter); // keypad Enter too
        QCOMPARE(w.serial->written.size(), 2);
        QCOMPARE(w.serial->written.last(), QByteArray("\r\n"));
    }

    // QLineEdit's default limit of 32767 characters would cut a long command short.
    void longCommandGoesOutWhole()
    {
        Window w;
        QByteArray command(64 * 1024 + 3, 'x');
        for (qsizetype i = 0; i < command.size(); ++i)
            command[i] = char('0' + i % 10);
        w.send(QString::fromLatin1(command), u"<STX>/<EOT>"_qs);
        QCOMPARE(w.serial->written.size(), 1);
        QCOMPARE(w.serial->written.first().size(), command.size() + 2);
        QVERIFY(w.serial->written.first() == '\x02' + command + '\x04');
    }

    // Nothing is sent in place of a character without a single-byte code.
    void characterOutsideLatin1IsRefused()
    {
        Window w;
        const QString command = QString::fromUtf8("12 \xe2\x82\xac");
        ModalWatcher watcher;
        w.send(command, u"CrLf"_qs);
        QVERIFY(w.serial->written.isEmpty());
        QCOMPARE(w.box()->text(), command);
        QVERIFY2(w.form->shownError().contains(u"U+20AC"_qs), qPrintable(w.form->shownError()));
        QCOMPARE(watcher.seen, false); // the non-modal error box, not the port message
    }

    void failedWriteNamesThePort_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("message");

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
            QVERIFY(w.serial->setPortOpen(false));
        } else if (how == u"closed 12") {
            QVERIFY(w.serial->setPortOpen(false));
            QVERIFY(w.serial->setCommPort(12));
        } else if (how == u"refused") {
            w.serial->failing.insert(u"Output="_qs);
        } else {
            // A successful send while port 9 was readable, then the port number fails too.
            QVERIFY(w.serial->setPortOpen(false));
            QVERIFY(w.serial->setCommPort(9));
            QVERIFY(w.serial->setPortOpen(true));
            w.send(u"ok"_qs, u"<select suffix>"_qs);
            QCOMPARE(w.serial->written.size(), 1);
            w.serial->written.clear();
            QVERIFY(w.serial->setPortOpen(false));
            w.serial->failing.insert(u"CommPort"_qs);
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
        QVERIFY(w.serial->written.isEmpty());
        QCOMPARE(w.box()->text(), u"abc"_qs);
        QVERIFY(!QApplication::activeModalWidget());
        // Nothing of the box is left behind to get in the way of the next send.
        QVERIFY(!w.form->findChild<QMessageBox *>(watcher.objectName));

        // The command is still there for another attempt once the port works again.
        w.serial->failing.clear();
        if (!w.serial->PortOpen().value_or(false))
            QVERIFY(w.serial->setPortOpen(true));
        QTest::mouseClick(w.child<QPushButton>("cmd_Send"), Qt::LeftButton);
        QCOMPARE(w.serial->written, QList<QByteArray>{QByteArray("\x02"
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
        QCOMPARE(w.serial->written.size(), 1);
        QCOMPARE(w.serial->written.first().toHex(' '), wire.toHex(' '));
    }

    // The message is modal through a nested event loop: serial events and the timer go on.
    void receivingGoesOnWhileTheMessageIsUp()
    {
        Window w;
        w.child<QCheckBox>("chk_CollectData")->setChecked(true);
        w.serial->failing.insert(u"Output="_qs);
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
                raisedBefore = w.serial->raised;
                frameBefore = w.form->frameBuffer();
                ledBefore = led->fillColor();
                w.serial->receive(QByteArray("x"));
                raisedAfter = w.serial->raised;
                frameAfter = w.form->frameBuffer();
                unread = w.serial->waiting();
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
