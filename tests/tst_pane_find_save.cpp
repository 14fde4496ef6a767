// Find and save in the window's panes: the find bar selects a match that Ctrl+C copies and
// is read through QAccessible; a save writes what a pane holds, byte for byte, or leaves
// no file and tells the operator.
#include "receive/linefindbar.h"
#include "receive/lineview.h"
#include "support/files.h"
#include "support/monitor.h"
#include "support/tables.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The window shown and active (window shortcuts need it), monitoring in profile profile
// (2: line mode, every character shown as it comes).
std::unique_ptr<Monitor> shownMonitor(int profile)
{
    auto w = std::make_unique<Monitor>();
    w->setProfile(profile);
    w->monitor(true);
    w->form->show();
    if (!QTest::qWaitForWindowActive(w->form.get()))
        return nullptr;
    return w;
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

class TestPaneFindSave : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void findSelectsAndCopies_data()
    {
        // Profile 2 (line mode) unless a row's name says frame mode (newest line on top).
        columns<bool, QString, bool, QString, QString>("inLog", "typed", "matchCase", "copied",
                                                       "status");
        QTest::newRow("received data pane, case ignored")
            << false << QStringLiteral("NEEDLE") << false << QStringLiteral("Needle") << QString();
        QTest::newRow("received data pane, case kept")
            << false << QStringLiteral("NEEDLE") << true << QString() << QStringLiteral("No match");
        QTest::newRow("received data pane, frame mode")
            << false << QStringLiteral("needle") << false << QStringLiteral("Needle") << QString();
        QTest::newRow("buffer log pane with the focus: a control character")
            << true << QStringLiteral("[\r: 13") << false << QStringLiteral("[\r: 13") << QString();
    }
    void findSelectsAndCopies()
    {
        QFETCH(bool, inLog);
        QFETCH(QString, typed);
        QFETCH(bool, matchCase);
        QFETCH(QString, copied);
        QFETCH(QString, status);
        auto w =
            shownMonitor(QString::fromLatin1(QTest::currentDataTag()).contains(u"frame") ? 0 : 2);
        QVERIFY(w);
        w->fake->receive("first\nthe Needle here\r\nlast\n"); // one CR
        LineView *pane = inLog ? w->bffr() : w->out();
        if (inLog)
            pane->setFocus();
        QApplication::clipboard()->setText(QStringLiteral("untouched"));

        QTest::keyClick(w->form.get(), Qt::Key_F, Qt::ControlModifier);
        LineFindBar *bar = pane->findBar();
        QVERIFY(bar && bar->isVisible());
        QCOMPARE(QApplication::focusWidget(), bar->field());
        bar->caseToggle()->setChecked(matchCase);
        // Typed, or pasted when it holds a control character (as copied from a pane).
        if (typed.contains(QLatin1Char('\r'))) {
            QApplication::clipboard()->setText(typed);
            QTest::keyClick(bar->field(), Qt::Key_V, Qt::ControlModifier);
            QApplication::clipboard()->setText(QStringLiteral("untouched"));
        } else {
            QTest::keyClicks(bar->field(), typed);
        }
        QCOMPARE(bar->status(), status);
        QCOMPARE(pane->selectedText(), copied);
        if (!copied.isEmpty()) {
            // The only match: the next one is itself again, after going round.
            QTest::keyClick(bar->field(), Qt::Key_Return);
            QCOMPARE(bar->status(), QStringLiteral("Wrapped to the top"));
            QTest::keyClick(bar->field(), Qt::Key_Return, Qt::ShiftModifier);
            QCOMPARE(bar->status(), QStringLiteral("Wrapped to the bottom"));
            QCOMPARE(pane->selectedText(), copied);
        }

        QTest::keyClick(bar->field(), Qt::Key_Escape);
        QVERIFY(!bar->isVisible());
        QCOMPARE(QApplication::focusWidget(), pane);
        QTest::keyClick(pane, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(),
                 copied.isEmpty() ? QStringLiteral("untouched") : copied);
    }

    void findBarAccessible()
    {
        auto w = shownMonitor(2);
        QVERIFY(w);
        w->fake->receive("abc\n");
        QTest::keyClick(w->form.get(), Qt::Key_F, Qt::ControlModifier);
        LineFindBar *bar = w->out()->findBar();
        QVERIFY(bar);
        QTest::keyClicks(bar->field(), QStringLiteral("zz"));

        QAccessibleInterface *field = QAccessible::queryAccessibleInterface(bar->field());
        QVERIFY(field);
        QCOMPARE(field->role(), QAccessible::EditableText);
        QCOMPARE(field->text(QAccessible::Name), QStringLiteral("Find:"));
        QCOMPARE(field->text(QAccessible::Value), QStringLiteral("zz"));
        QVERIFY(field->state().focused);
        QAccessibleInterface *toggle = QAccessible::queryAccessibleInterface(bar->caseToggle());
        QVERIFY(toggle);
        QCOMPARE(toggle->role(), QAccessible::CheckBox);
        QCOMPARE(toggle->text(QAccessible::Name), QStringLiteral("Match case"));
        QVERIFY(!toggle->state().checked);
        auto *statusLabel = bar->findChild<QLabel *>(QStringLiteral("findStatus"));
        QAccessibleInterface *status = QAccessible::queryAccessibleInterface(statusLabel);
        QVERIFY(status);
        QCOMPARE(status->text(QAccessible::Name), QStringLiteral("No match"));
        // Reached from the pane, as a screen reader walks the window.
        QAccessibleInterface *pane = QAccessible::queryAccessibleInterface(w->out());
        QAccessibleInterface *barIface = QAccessible::queryAccessibleInterface(bar);
        QVERIFY(pane && barIface);
        QVERIFY(pane->indexOfChild(barIface) >= 0);
        QCOMPARE(field->parent(), barIface);
        // The toggle is the next stop of the keyboard after the field.
        QTest::keyClick(bar->field(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), bar->caseToggle());
    }

    void saveByteExact_data()
    {
        columns<bool>("fromLogMenu");
        QTest::newRow("received data pane, Ctrl+S") << false;
        QTest::newRow("buffer log pane, its menu's Save") << true;
    }
    void saveByteExact()
    {
        QFETCH(bool, fromLogMenu);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("pane.txt"));
        auto w = shownMonitor(2);
        QVERIFY(w);
        w->fake->receive(allByteValues());
        w->save->answers = {path};
        QByteArray expected = allByteValues();
        if (fromLogMenu) {
            const QPoint p(5, 5);
            QContextMenuEvent ev(QContextMenuEvent::Keyboard, p, w->bffr()->mapToGlobal(p));
            QApplication::sendEvent(w->bffr()->viewport(), &ev);
            auto *menu = w->bffr()->findChild<QMenu *>();
            QVERIFY(menu);
            auto *save = menu->findChild<QAction *>(QStringLiteral("save"));
            QVERIFY(save && save->isEnabled());
            QCOMPARE(save->text().remove(QLatin1Char('&')), QStringLiteral("Save\u2026"));
            save->trigger();
            menu->close();
            // The log's lines as it holds them, each byte in them raw.
            expected.clear();
            for (qsizetype i = 0; i < w->bffr()->lineCount(); ++i)
                expected += w->bffr()->line(i) + '\n';
            for (int c = 0; c < 256; ++c)
                QVERIFY(expected.contains("[" + QByteArray(1, char(c)) + ": "));
        } else {
            QTest::keyClick(w->form.get(), Qt::Key_S, Qt::ControlModifier);
        }
        QCOMPARE(w->save->shown, 1);
        QCOMPARE(readFile(path), expected);
        QCOMPARE(w->form->shownError(), QString());
    }

    void failedSaveLeavesNoFile_data()
    {
        columns<QString>("target");
        QTest::newRow("a folder of that name") << QStringLiteral("folder");
        QTest::newRow("in a missing folder") << QStringLiteral("missing/pane.txt");
        QTest::newRow("the capture file being written") << QStringLiteral("capture.txt");
    }
    void failedSaveLeavesNoFile()
    {
        QFETCH(QString, target);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
        auto w = shownMonitor(2);
        QVERIFY(w);
        const QString capture = dir.filePath(QStringLiteral("capture.txt"));
        QVERIFY(w->startCapture(capture));
        w->fake->receive("one\ntwo\n");
        const QByteArray captured = readFile(capture);
        const QStringList before = entries(dir.path());

        w->save->answers = {dir.filePath(target)};
        QTest::keyClick(w->form.get(), Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(w->save->shown, 2); // the capture set-up asked first
        QCOMPARE(entries(dir.path()), before);
        QVERIFY(QFileInfo(dir.filePath(QStringLiteral("folder"))).isDir());
        QVERIFY(entries(dir.filePath(QStringLiteral("folder"))).isEmpty());
        QVERIFY(w->form->shownError().contains(QDir::toNativeSeparators(dir.filePath(target))));
        // The capture goes on into its own file.
        QVERIFY(w->form->captureEnabled());
        w->fake->receive("three\n");
        QVERIFY(readFile(capture).startsWith(captured));
        QVERIFY(readFile(capture).size() > captured.size());
    }
};

QTEST_MAIN(TestPaneFindSave)
#include "tst_pane_find_save.moc"
