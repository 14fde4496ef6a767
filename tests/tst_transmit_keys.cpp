// The command box's extras on a fake port: history keys, the "Repeat command" dialog and
// every way a repeat stops, and the files "Send file" refuses.
#include "receive/linestatisticswindow.h"
#include "support/files.h"
#include "support/modalwatcher.h"
#include "support/monitor.h"
#include "support/tables.h"
#include "transmit/repeatdialog.h"

#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Window : Monitor
{
    Window()
    {
        form->show();
        // Shortcuts reach the active window only.
        form->activateWindow();
        (void)QTest::qWaitForWindowActive(form.get());
        box()->setFocus();
    }
    // Opens "Repeat command" with Ctrl+R, types the two fields and presses Return.
    void repeatByKeys(const QString &command, const QString &period, const QString &count)
    {
        box()->setText(command);
        QTest::keyClick(box(), Qt::Key_R, Qt::ControlModifier);
        auto *dialog = form->findChild<RepeatDialog *>();
        QVERIFY(dialog && dialog->isVisible());
        QTRY_VERIFY(dialog->isActiveWindow());
        QTest::keyClicks(QApplication::focusWidget(), period);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTest::keyClicks(QApplication::focusWidget(), count);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QVERIFY(dialog->isHidden() || !dialog->isVisible());
    }
};

} // namespace

class TestTransmitKeys : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Steps: "send:x" types x and presses Return, "fail:x" the same on a port that refuses
    // it, "type:x" types x, "up" / "down" (with *n repeats), "sendmany:n" sends c0 .. c<n-1>.
    void history_data()
    {
        columns<QStringList, QString>("steps", "box");
        QTest::newRow("up: the newest")
            << QStringList{u"send:a"_qs, u"send:b"_qs, u"up"_qs} << u"b"_qs;
        QTest::newRow("up, up: older")
            << QStringList{u"send:a"_qs, u"send:b"_qs, u"up*2"_qs} << u"a"_qs;
        QTest::newRow("up past the oldest stays")
            << QStringList{u"send:a"_qs, u"send:b"_qs, u"up*5"_qs} << u"a"_qs;
        QTest::newRow("down past the newest: the draft")
            << QStringList{u"send:a"_qs, u"type:dra"_qs, u"up"_qs, u"down"_qs} << u"dra"_qs;
        QTest::newRow("up, up, down")
            << QStringList{u"send:a"_qs, u"send:b"_qs, u"up*2"_qs, u"down"_qs} << u"b"_qs;
        QTest::newRow("down without walking does nothing")
            << QStringList{u"send:a"_qs, u"type:x"_qs, u"down*3"_qs} << u"x"_qs;
        QTest::newRow("no history: up does nothing")
            << QStringList{u"type:x"_qs, u"up"_qs} << u"x"_qs;
        QTest::newRow("twice in a row kept once")
            << QStringList{u"send:x"_qs, u"send:a"_qs, u"send:a"_qs, u"up*2"_qs} << u"x"_qs;
        QTest::newRow("failed send not recorded")
            << QStringList{u"send:a"_qs, u"fail:b"_qs, u"up"_qs} << u"a"_qs;
        QTest::newRow("failed send keeps its text as the draft")
            << QStringList{u"send:a"_qs, u"fail:b"_qs, u"up"_qs, u"down"_qs} << u"b"_qs;
        QTest::newRow("an edited recall is sent and recorded")
            << QStringList{u"send:a"_qs, u"up"_qs, u"send:z"_qs, u"up"_qs} << u"az"_qs;
        QTest::newRow("empty sends not recorded")
            << QStringList{u"send:a"_qs, u"send:"_qs, u"up"_qs} << u"a"_qs;
        QTest::newRow("200 kept, the oldest dropped")
            << QStringList{u"sendmany:201"_qs, u"up*250"_qs} << u"c1"_qs;
    }
    void history()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, box);

        Window w;
        ModalWatcher watcher; // answers "Port [4] not opened"
        for (const QString &step : steps) {
            const QString arg = step.section(u':', 1);
            const QString name = step.section(u':', 0, 0).section(u'*', 0, 0);
            const int times = step.contains(u'*') ? step.section(u'*', 1).toInt() : 1;
            if (name == u"send" || name == u"fail") {
                w.fake->failing = name == u"fail" ? QSet<QString>{u"Output="_qs} : QSet<QString>{};
                QTest::keyClicks(w.box(), arg);
                QTest::keyClick(w.box(), Qt::Key_Return);
            } else if (name == u"type") {
                QTest::keyClicks(w.box(), arg);
            } else if (name == u"sendmany") {
                for (int i = 0; i < arg.toInt(); ++i) {
                    QTest::keyClicks(w.box(), u"c"_qs + QString::number(i));
                    QTest::keyClick(w.box(), Qt::Key_Return);
                }
            } else {
                for (int i = 0; i < times; ++i)
                    QTest::keyClick(w.box(), name == u"up" ? Qt::Key_Up : Qt::Key_Down);
            }
        }
        QCOMPARE(w.box()->text(), box);
    }

    // The dialog by keyboard: the period has the focus with its text selected, Tab goes to
    // the count, Return is OK; the values read the same through QAccessible.
    void repeatDialogByKeyboard()
    {
        Window w;
        w.child<QComboBox>("cbo_SuffixCommand")->setCurrentText(u"CrLf"_qs);
        w.box()->setText(u"READ?"_qs);
        QTest::keyClick(w.box(), Qt::Key_R, Qt::ControlModifier);
        auto *dialog = w.form->findChild<RepeatDialog *>();
        QVERIFY(dialog && dialog->isVisible());
        QTRY_VERIFY(dialog->isActiveWindow());
        QCOMPARE(dialog->windowTitle(), u"Repeat command"_qs);
        QCOMPARE(QApplication::focusWidget(), dialog->periodBox());
        QCOMPARE(dialog->periodBox()->value(), 1000);
        QCOMPARE(dialog->periodBox()->findChild<QLineEdit *>()->selectedText(), u"1000"_qs);
        QAccessibleInterface *period = QAccessible::queryAccessibleInterface(dialog->periodBox());
        QCOMPARE(period->text(QAccessible::Name), u"Period:"_qs);
        QCOMPARE(period->valueInterface()->currentValue().toInt(), 1000);

        QTest::keyClicks(dialog->periodBox(), u"60000"_qs);
        QTest::keyClick(dialog->periodBox(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), dialog->countBox());
        QTest::keyClicks(dialog->countBox(), u"3"_qs);
        QAccessibleInterface *count = QAccessible::queryAccessibleInterface(dialog->countBox());
        QCOMPARE(count->text(QAccessible::Name), u"Count:"_qs);
        QCOMPARE(count->valueInterface()->currentValue().toInt(), 3);
        QTest::keyClick(dialog->countBox(), Qt::Key_Return);

        // Sent at once, framed, in one write; the box keeps the command.
        QCOMPARE(w.fake->written, QList<QByteArray>{QByteArray("READ?\r\n")});
        QCOMPARE(w.box()->text(), u"READ?"_qs);
        QCOMPARE(w.box()->toolTip(), u"Repeating every 60000 ms: 1 of 3 sent"_qs);
        QVERIFY(w.child<QAction>("act_stopRepeat")->isEnabled());
        // "Send" still works while it runs.
        w.send(u"X"_qs, u"EOL"_qs);
        QCOMPARE(w.fake->written.last(), QByteArray("X\n"));
        QCOMPARE(w.form->repeatStatus(), u"Repeating every 60000 ms: 1 of 3 sent"_qs);
    }

    // Each way a repeat stops: it stops at once, and only a fault is told.
    void repeatStops_data()
    {
        columns<QString, QString>("how", "told");
        QTest::newRow("Escape in the command box") << u"escape"_qs << QString();
        QTest::newRow("Stop repeating") << u"menu"_qs << QString();
        QTest::newRow("Reset Comm") << u"reset"_qs << QString();
        QTest::newRow("a port pick") << u"pick"_qs << QString();
        QTest::newRow("the window closes") << u"close"_qs << QString();
        QTest::newRow("count reached") << u"count"_qs << QString();
        QTest::newRow("the port closed beneath it")
            << u"closed"_qs << u"Repeating stopped after 1 sent: the port is closed."_qs;
        QTest::newRow("the port lost")
            << u"lost"_qs << u"Repeating stopped after 1 sent: the port was lost (unplugged)."_qs;
    }
    void repeatStops()
    {
        QFETCH(QString, how);
        QFETCH(QString, told);

        Window w;
        w.repeatByKeys(u"P"_qs, u"10"_qs, how == u"count" ? u"2"_qs : u"0"_qs);
        QCOMPARE(w.fake->written.size(), 1);
        if (how == u"escape") {
            QTest::keyClick(w.box(), Qt::Key_Escape);
        } else if (how == u"menu") {
            w.child<QAction>("act_stopRepeat")->trigger();
        } else if (how == u"reset") {
            w.reset();
        } else if (how == u"pick") {
            auto *ports = w.child<QComboBox>("cbo_Port");
            ports->setCurrentIndex(2);
            Q_EMIT ports->activated(2);
        } else if (how == u"close") {
            w.form->close();
        } else if (how == u"closed") {
            w.fake->setPortOpen(false);
        } else if (how == u"lost") {
            w.fake->setPortOpen(false);
            Q_EMIT w.fake->portLost(u"unplugged"_qs);
        }
        QTRY_COMPARE(w.form->repeatStatus(), QString());
        QCOMPARE(w.box()->toolTip(), QString());
        QVERIFY(!w.child<QAction>("act_stopRepeat")->isEnabled());
        const qsizetype sent = w.fake->written.size();
        QCOMPARE(sent, how == u"count" ? 2 : 1);
        if (told.isEmpty())
            QCOMPARE(w.form->shownError(), QString());
        else
            QTRY_COMPARE(w.form->shownError(), told);
    }

    // The statistics window has a row for it, whatever else the window shows.
    void statisticsShowTheRepeat()
    {
        Window w;
        w.child<QAction>("act_lineStatistics")->trigger();
        LineStatisticsWindow *stats = w.form->lineStatisticsWindow();
        QVERIFY(stats);
        QCOMPARE(stats->valueLabel(u"Command repeat"_qs)->text(), u"off"_qs);
        w.repeatByKeys(u"P"_qs, u"60000"_qs, u"50"_qs);
        QTRY_COMPARE(stats->valueLabel(u"Command repeat"_qs)->text(),
                     u"Repeating every 60000 ms: 1 of 50 sent"_qs);
        QAccessibleInterface *a =
            QAccessible::queryAccessibleInterface(stats->valueLabel(u"Command repeat"_qs));
        QCOMPARE(a->text(QAccessible::Name), u"Repeating every 60000 ms: 1 of 50 sent"_qs);
        QTest::keyClick(w.box(), Qt::Key_Escape);
        QCOMPARE(stats->valueLabel(u"Command repeat"_qs)->text(), u"off"_qs);
    }

    // A file that cannot be sent is refused with a message before anything goes out (the
    // reader's own faults are tested with it).
    void sendFileRefused_data()
    {
        columns<QString, QString>("kind", "told");
        QTest::newRow("missing") << u"missing"_qs << u"does not exist"_qs;
        QTest::newRow("a folder") << u"folder"_qs << u"is a folder"_qs;
        QTest::newRow("port closed") << u"closed"_qs << u"the port is not open"_qs;
        QTest::newRow("dialog cancelled") << u"cancel"_qs << QString();
    }
    void sendFileRefused()
    {
        QFETCH(QString, kind);
        QFETCH(QString, told);
        QTemporaryDir dir;
        QString path = dir.filePath(u"f"_qs);
        if (kind == u"folder")
            QVERIFY(QDir(dir.path()).mkdir(u"f"_qs));
        else if (kind == u"closed")
            QVERIFY(!writeRandomFile(dir.path(), u"f"_qs, 10).isEmpty());
        else if (kind == u"cancel")
            path.clear();
        Window w;
        if (kind == u"closed")
            w.fake->setPortOpen(false);
        w.openDialog->answers = {path};
        QTest::keyClick(w.form.get(), Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(w.openDialog->shown, 1);
        QVERIFY(w.fake->written.isEmpty());
        QVERIFY(!w.form->sendFileWindow());
        if (told.isEmpty()) {
            QCOMPARE(w.form->shownError(), QString());
        } else {
            QVERIFY2(w.form->shownError().startsWith(u"The file was not sent: "_qs),
                     qPrintable(w.form->shownError()));
            QVERIFY2(w.form->shownError().contains(told), qPrintable(w.form->shownError()));
        }
    }
};

QTEST_MAIN(TestTransmitKeys)
#include "tst_transmit_keys.moc"
