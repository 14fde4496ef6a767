// The monitor window with a fake serial control: start-up, port opening, the panel.
#include "app/application.h"
#include "app/ledshape.h"
#include "support/monitor.h"
#include "support/tables.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

namespace {

// Whether the environment the test was started with asked Qt not to share memory with X.
bool noShmGiven = false;

struct Window : Monitor
{
    using Monitor::Monitor;

    // What a screen reader reads from a control.
    QString read(const char *name, QAccessible::Text t = QAccessible::Name) const
    {
        return QAccessible::queryAccessibleInterface(child<QWidget>(name))->text(t);
    }
    // With the mouse, or as assistive technology presses it.
    void clickName(int index, bool byAction = false) const
    {
        auto *name = child<QLabel>(("lblfield_" + std::to_string(index)).c_str());
        if (!byAction) {
            QTest::mouseClick(name, Qt::LeftButton);
            return;
        }
        QAccessibleActionInterface *action =
            QAccessible::queryAccessibleInterface(name)->actionInterface();
        QVERIFY(action);
        QVERIFY(action->actionNames().contains(QAccessibleActionInterface::pressAction()));
        action->doAction(QAccessibleActionInterface::pressAction());
    }
    void resetWith(const QString &portText, const QString &settings = QStringLiteral("9600,n,8,1"))
    {
        child<QComboBox>("cbo_Port")->setEditText(portText);
        child<QLineEdit>("txt_Settings")->setText(settings);
        fake->calls.clear();
        QTest::mouseClick(child<QPushButton>("cmd_reset"), Qt::LeftButton);
    }
};

const QStringList kOpenSequence = {
    QStringLiteral("PortOpen=False"), QStringLiteral("Settings=9600,n,8,1"),
    QStringLiteral("CommPort=4"),     QStringLiteral("InputLen=1"),
    QStringLiteral("RThreshold=1"),   QStringLiteral("SThreshold=1"),
    QStringLiteral("InputMode=0"),    QStringLiteral("PortOpen=True"),
};

} // namespace

class TestFormComm : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void startUpState()
    {
        Window w;
        QCOMPARE(w.child<QComboBox>("cbo_APP")->currentText(),
                 QStringLiteral("<select application>"));
        QCOMPARE(w.child<QComboBox>("cbo_SuffixCommand")->currentText(),
                 QStringLiteral("<select suffix>"));
        QCOMPARE(w.form->lineMode(), false);
        QVERIFY(w.form->frameBuffer().isEmpty());
        QCOMPARE(w.form->captureEnabled(), false);
        QVERIFY(w.child<QLabel>("lbl_filename")->text().isEmpty());
        QVERIFY(w.child<QComboBox>("cbo_Port")->currentText().isEmpty());
        QCOMPARE(w.fake->PortOpen(), std::optional<bool>(true));
        QCOMPARE(w.child<QLineEdit>("txt_Settings")->text(), QStringLiteral("9600,n,8,1"));
        QCOMPARE(w.child<LedShape>("LED_data")->fillColor(), QColor(Qt::red));
        QCOMPARE(w.form->lastReceiveTime(), QDateTime(QDate(1899, 12, 30), QTime(0, 0)));
        QCOMPARE(w.child<QCheckBox>("chk_CollectData")->isChecked(), false);
        QCOMPARE(w.child<QCheckBox>("chk_file")->isChecked(), false);
        QCOMPARE(w.form->windowTitle(), QStringLiteral("Form1"));
    }

    void startUpOpensInitialPortInOrder()
    {
        Window w;
        // The open sequence, then nothing else that writes to the port.
        QCOMPARE(w.fake->calls, kOpenSequence);
        QCOMPARE(w.val(2), QStringLiteral("True"));
        QCOMPARE(w.val(0), QStringLiteral("4"));
        QCOMPARE(w.val(1), QStringLiteral("9600,n,8,1"));
        QCOMPARE(w.val(10), QStringLiteral("1")); // RThreshold
        QCOMPARE(w.val(11), QStringLiteral("1")); // SThreshold
        QCOMPARE(w.val(15), QStringLiteral("1")); // InputLen
        QCOMPARE(w.val(16), QStringLiteral("0")); // InputMode
        // A screen reader reads each value, described by its row's caption.
        for (int k = 0; k < 21; ++k) {
            const std::string cell = "lbl_val_" + std::to_string(k);
            QCOMPARE(w.read(cell.c_str()), w.val(k));
            QVERIFY(!w.val(k).isEmpty());
        }
        QCOMPARE(w.read("lbl_val_9", QAccessible::Description), QStringLiteral("HandShaking"));
    }

    void openPortSkipsFailedSteps_data()
    {
        columns<QStringList, QStringList, QString>("failing", "expectedCalls", "portOpenRow");
        auto without = [](QStringList calls, const QStringList &drop) {
            for (const QString &d : drop)
                calls.removeAll(d);
            return calls;
        };
        QTest::newRow("settings refused")
            << QStringList{QStringLiteral("Settings=")}
            << without(kOpenSequence, {QStringLiteral("Settings=9600,n,8,1")})
            << QStringLiteral("True");
        QTest::newRow("close and receive parameters refused")
            << QStringList{QStringLiteral("PortOpen="), QStringLiteral("InputLen="),
                           QStringLiteral("InputMode=")}
            << without(kOpenSequence,
                       {QStringLiteral("PortOpen=False"), QStringLiteral("PortOpen=True"),
                        QStringLiteral("InputLen=1"), QStringLiteral("InputMode=0")})
            << QStringLiteral("False");
        QTest::newRow("port number refused")
            << QStringList{QStringLiteral("CommPort=")}
            << without(kOpenSequence, {QStringLiteral("CommPort=4")}) << QStringLiteral("True");
    }
    void openPortSkipsFailedSteps()
    {
        QFETCH(QStringList, failing);
        QFETCH(QStringList, expectedCalls);
        QFETCH(QString, portOpenRow);
        Window w([&](FakeSerialControl &s) {
            for (const QString &f : failing)
                s.failing.insert(f);
        });
        QCOMPARE(w.fake->calls, expectedCalls);
        QCOMPARE(w.val(2), portOpenRow);
        QVERIFY(w.form->frameBuffer().isEmpty());
    }

    void resetComm_data()
    {
        columns<QString, QString, bool, int, QString>("portText", "settings", "reopened", "port",
                                                      "settingsInForce");
        const QString def = QStringLiteral("9600,n,8,1");
        QTest::newRow("COM 7") << QStringLiteral("COM 7") << def << true << 7 << def;
        QTest::newRow("COM 12 gives 1") << QStringLiteral("COM 12") << def << true << 1 << def;
        QTest::newRow("COM7 keeps port") << QStringLiteral("COM7") << def << true << 4 << def;
        QTest::newRow("empty port text") << QString() << def << false << 4 << def;
        QTest::newRow("empty settings")
            << QStringLiteral("COM 3") << QString() << false << 4 << def;
        QTest::newRow("blank settings rejected")
            << QStringLiteral("COM 3") << QStringLiteral("   ") << true << 3 << def;
        QTest::newRow("settings trimmed")
            << QStringLiteral("COM 2") << QStringLiteral("  19200,e,7,2 ") << true << 2
            << QStringLiteral("19200,e,7,2");
        QTest::newRow("only spaces trimmed, tab kept")
            << QStringLiteral("COM 2") << QStringLiteral(" \t19200,e,7,2 ") << true << 2
            << QStringLiteral("\t19200,e,7,2");
        QTest::newRow("garbage settings kept out")
            << QStringLiteral("COM 5") << QStringLiteral("fast,please") << true << 5 << def;
        QTest::newRow("letter port") << QStringLiteral("COM x") << def << true << 4 << def;
    }
    void resetComm()
    {
        QFETCH(QString, portText);
        QFETCH(QString, settings);
        QFETCH(bool, reopened);
        QFETCH(int, port);
        QFETCH(QString, settingsInForce);
        Window w;
        w.form->Read_buffer("ab");
        w.resetWith(portText, settings);
        QCOMPARE(w.fake->calls.contains(QStringLiteral("PortOpen=True")), reopened);
        QCOMPARE(w.form->frameBuffer().isEmpty(), reopened);
        QCOMPARE(int(*w.fake->CommPort()), port);
        QCOMPARE(*w.fake->Settings(), settingsInForce);
        QCOMPARE(w.val(0), QString::number(port));
        QCOMPARE(w.val(1), settingsInForce);
        QCOMPARE(w.val(2), QStringLiteral("True"));
    }

    void pickingAPortReopens()
    {
        Window w;
        auto *list = w.child<QComboBox>("cbo_Port");
        for (int round = 0; round < 2; ++round) { // picking the port in force reopens it too
            w.form->Read_buffer("xy");
            w.fake->calls.clear();
            list->setCurrentIndex(2);
            Q_EMIT list->activated(2);
            QCOMPARE(w.fake->calls.first(), QStringLiteral("PortOpen=False"));
            QVERIFY(w.fake->calls.contains(QStringLiteral("CommPort=3")));
            QCOMPARE(w.fake->calls.last(), QStringLiteral("PortOpen=True"));
            QVERIFY(w.form->frameBuffer().isEmpty());
        }
        // Typing into the list is not a pick.
        w.fake->calls.clear();
        QTest::keyClicks(list->lineEdit(), QStringLiteral("COM 5"));
        QVERIFY(w.fake->calls.isEmpty());
    }

    void absentPortShowsClosedWithReason()
    {
        Window w([](FakeSerialControl &s) { s.absentPorts.insert(9); });
        w.resetWith(QStringLiteral("COM 9"));
        QCOMPARE(w.val(2), QStringLiteral("False"));
        QCOMPARE(w.val(0), QStringLiteral("9"));
        QVERIFY(w.child<QLabel>("lbl_val_2")
                    ->toolTip()
                    .contains(QStringLiteral("No such file or directory")));
        QVERIFY(w.form->shownError().isEmpty()); // the open itself stays silent
        QVERIFY(w.read("lbl_val_2", QAccessible::Description)
                    .contains(QStringLiteral("No such file or directory")));
    }

    void handshakingSteps_data()
    {
        // written: -1: nothing written
        columns<QString, int>("shown", "written");
        QTest::newRow("0 to 1") << QStringLiteral("0") << 1;
        QTest::newRow("2 to 3") << QStringLiteral("2") << 3;
        QTest::newRow("3 to 0") << QStringLiteral("3") << 0;
        QTest::newRow("7 to 0") << QStringLiteral("7") << 0;
        QTest::newRow("blank padded") << QStringLiteral(" 1 ") << 2;
        QTest::newRow("not a number") << QStringLiteral("x") << -1;
        QTest::newRow("empty") << QString() << -1;
    }
    void handshakingSteps()
    {
        QFETCH(QString, shown);
        QFETCH(int, written);
        Window w;
        w.child<QLabel>("lbl_val_9")->setText(shown);
        w.fake->calls.clear();
        w.clickName(10);
        if (written < 0) {
            QVERIFY(!w.fake->calls.join(u' ').contains(QStringLiteral("Handshaking=")));
            QCOMPARE(w.val(9), QStringLiteral("0")); // the refresh shows the control's mode
        } else {
            QCOMPARE(w.fake->calls,
                     QStringList{QStringLiteral("Handshaking=") + QString::number(written)});
            QCOMPARE(w.val(9), QString::number(written));
        }
    }

    void handshakingRefusedModeIsReported()
    {
        // Below 3 steps up, so -4 becomes -3, which the control refuses.
        Window w;
        w.child<QLabel>("lbl_val_9")->setText(QStringLiteral("-4"));
        w.clickName(10);
        QVERIFY(w.form->shownError().contains(QStringLiteral("HandShaking")));
        QCOMPARE(*w.fake->Handshaking(), 0);
        QCOMPARE(w.val(9), QStringLiteral("0"));
    }

    void handshakingCycles()
    {
        Window w;
        QStringList seen;
        for (int i = 0; i < 5; ++i) {
            w.clickName(10);
            seen << w.val(9);
        }
        QCOMPARE(seen, (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                                    QStringLiteral("0"), QStringLiteral("1")}));
        QCOMPARE(*w.fake->Handshaking(), 1);
    }

    void breakAndEofToggle_data()
    {
        columns<int, int>("nameIndex", "row");
        QTest::newRow("Break") << 3 << 3;
        QTest::newRow("EOFEnable") << 9 << 8;
    }
    void breakAndEofToggle()
    {
        QFETCH(int, nameIndex);
        QFETCH(int, row);
        Window w;
        QCOMPARE(w.val(row), QStringLiteral("False"));
        w.clickName(nameIndex);
        QCOMPARE(w.val(row), QStringLiteral("True"));
        w.clickName(nameIndex);
        QCOMPARE(w.val(row), QStringLiteral("False"));
    }

    // A screen reader hears the new value after a click, not the row's caption.
    void valueCellsReadAfterClicks_data()
    {
        columns<int, int, QString, QString, bool>("nameIndex", "row", "before", "after",
                                                  "byAction");
        for (const bool byAction : {false, true}) {
            const char *how = byAction ? ", pressed through assistive technology" : "";
            QTest::addRow("refresh by a name%s", how)
                << 14 << 13 << QStringLiteral("0") << QStringLiteral("3") << byAction;
            QTest::addRow("Break%s", how)
                << 3 << 3 << QStringLiteral("False") << QStringLiteral("True") << byAction;
            QTest::addRow("HandShaking%s", how)
                << 10 << 9 << QStringLiteral("0") << QStringLiteral("1") << byAction;
        }
    }
    void valueCellsReadAfterClicks()
    {
        QFETCH(int, nameIndex);
        QFETCH(int, row);
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(bool, byAction);
        Window w;
        w.fake->receive("abc"); // waits unread: monitoring is off
        const std::string cell = "lbl_val_" + std::to_string(row);
        const std::string name = "lblfield_" + std::to_string(nameIndex);
        QCOMPARE(w.read(cell.c_str()), before);
        QCOMPARE(w.read(name.c_str()), w.child<QLabel>(name.c_str())->text());
        w.clickName(nameIndex, byAction);
        QCOMPARE(w.read(cell.c_str()), after);
        QCOMPARE(w.read(cell.c_str(), QAccessible::Description),
                 w.child<QLabel>(name.c_str())->text());
    }

    void indicatorsReadTheirColour()
    {
        Window w;
        const QDateTime now(QDate(2026, 12, 7), QTime(14, 3, 5));
        w.form->setClock([now] { return now; });
        QCOMPARE(w.read("LED_std"), QStringLiteral("Send: red"));
        QCOMPARE(w.read("LED_data"), QStringLiteral("Rec: red"));
        w.monitor(true);
        w.fake->receive("x");
        w.form->Timer1_Timer();
        QCOMPARE(w.read("LED_data"), QStringLiteral("Rec: green"));
        QCOMPARE(w.read("LED_data", QAccessible::Description), QStringLiteral("green"));
    }

    // The window manager shows the titles as they are: Qt appends an application display
    // name, once one is set, to every title it hands on. Unset, it follows the name.
    void titlesCarryNoProgramName()
    {
        QVERIFY(qobject_cast<Application *>(QCoreApplication::instance()));
        QCoreApplication::setApplicationName(QStringLiteral("probe"));
        const QString displayName = QGuiApplication::applicationDisplayName();
        QCoreApplication::setApplicationName(QStringLiteral("commtest"));
        QCOMPARE(displayName, QStringLiteral("probe"));
        Window w;
        QCOMPARE(w.form->windowTitle(), QStringLiteral("Form1"));
        w.form->reportError(QStringLiteral("x"));
        QCOMPARE(w.child<QMessageBox>("errorBox")->windowTitle(), QStringLiteral("commtest"));
    }

    // How the window puts updates on an X server is its own choice: a program started from
    // it (a browser for a link) gets the environment as the monitor was given it.
    void displayChoiceNotPassedOn()
    {
        QCOMPARE(qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"), noShmGiven);
    }

    void breakRefusedIsReported()
    {
        Window w;
        w.fake->setPortOpen(false);
        w.clickName(3);
        QCOMPARE(w.val(3), QStringLiteral("False"));
        QVERIFY(w.form->shownError().contains(QStringLiteral("Break")));
    }

    void otherNamesOnlyRefresh()
    {
        Window w;
        w.fake->receive("abc"); // waits unread: monitoring is off
        for (int k = 0; k < 21; ++k)
            w.child<QLabel>(("lbl_val_" + std::to_string(k)).c_str())
                ->setText(QStringLiteral("stale"));
        w.fake->calls.clear();
        w.clickName(14); // InBufferCount
        QVERIFY(w.fake->calls.isEmpty());
        QCOMPARE(w.val(13), QStringLiteral("3"));
        for (int k = 0; k < 21; ++k)
            QVERIFY2(w.val(k) != QStringLiteral("stale"), qPrintable(QString::number(k)));
    }

    void refreshStopsAtFirstFailedRead()
    {
        Window w;
        for (int k = 0; k < 21; ++k)
            w.child<QLabel>(("lbl_val_" + std::to_string(k)).c_str())
                ->setText(QStringLiteral("old"));
        w.fake->failing.insert(QStringLiteral("DTREnable")); // row 7
        w.clickName(0);
        for (int k = 0; k < 7; ++k)
            QVERIFY2(w.val(k) != QStringLiteral("old"), qPrintable(QString::number(k)));
        for (int k = 7; k < 21; ++k)
            QCOMPARE(w.val(k), QStringLiteral("old"));
        QVERIFY(!w.form->shownError().isEmpty());
        // A storm of failures still shows one box.
        for (int i = 0; i < 20; ++i)
            w.clickName(0);
        QCOMPARE(w.form->findChildren<QWidget *>(QStringLiteral("errorBox")).size(), 1);
    }

    void geometryFollowsTwips_data()
    {
        columns<QString, QRect>("name", "twips");
        QTest::newRow("Frame3") << QStringLiteral("Frame3") << QRect(120, 810, 8895, 4305);
        QTest::newRow("Frame4") << QStringLiteral("Frame4") << QRect(9120, 840, 3375, 9375);
        QTest::newRow("cmd_reset") << QStringLiteral("cmd_reset") << QRect(210, 270, 1725, 345);
        QTest::newRow("cbo_APP") << QStringLiteral("cbo_APP") << QRect(1200, 270, 2835, 315);
        QTest::newRow("txt_out") << QStringLiteral("txt_out") << QRect(120, 2610, 8655, 1965);
        QTest::newRow("txt_bffr") << QStringLiteral("txt_bffr") << QRect(120, 240, 3135, 9015);
        QTest::newRow("lbl_filename")
            << QStringLiteral("lbl_filename") << QRect(3960, 11340, 8175, 375);
        QTest::newRow("ParityReplace name")
            << QStringLiteral("lblfield_21") << QRect(5880, 1800, 1215, 255);
        QTest::newRow("RTSEnable value")
            << QStringLiteral("lbl_val_12") << QRect(7200, 3840, 975, 300);
        QTest::newRow("HandShaking value")
            << QStringLiteral("lbl_val_9") << QRect(1440, 3240, 975, 300);
    }
    void geometryFollowsTwips()
    {
        QFETCH(QString, name);
        QFETCH(QRect, twips);
        Window w;
        auto *widget = w.form->findChild<QWidget *>(name);
        QVERIFY(widget);
        const qreal perPixel = 1440.0 / w.form->logicalDpiY();
        const QRect expected(qRound(twips.x() / perPixel), qRound(twips.y() / perPixel),
                             qRound(twips.width() / perPixel), qRound(twips.height() / perPixel));
        QCOMPARE(widget->geometry(), expected);
        QCOMPARE(w.form->size(), QSize(qRound(12660 / perPixel), qRound(11865 / perPixel)));
    }

    void captionsAndEntries()
    {
        Window w;
        QCOMPARE(w.child<QLabel>("Label1")->text(),
                 QStringLiteral(
                     "This is a test of the MSComm control.  Print a file and check the status of "
                     "the controls events and properties"));
        QCOMPARE(w.child<QLabel>("Label3")->text(), QStringLiteral("Command Suffix "));
        QCOMPARE(w.child<QPushButton>("com_Close")->text(), QStringLiteral("&Close"));
        QCOMPARE(w.child<QGroupBox>("Frame3")->title(), QStringLiteral("Extended Properties"));
        QCOMPARE(w.child<QGroupBox>("Frame4")->title(), QStringLiteral("Property Listing"));
        auto entries = [](QComboBox *c) {
            QStringList l;
            for (int i = 0; i < c->count(); ++i)
                l << c->itemText(i);
            return l;
        };
        QCOMPARE(entries(w.child<QComboBox>("cbo_SuffixCommand")),
                 (QStringList{QStringLiteral("<select suffix>"), QStringLiteral("CrLf"),
                              QStringLiteral("EOL"), QStringLiteral("<STX>/<EOT>"),
                              QStringLiteral("<SYN>"), QStringLiteral("<CR><LF>")}));
        QCOMPARE(entries(w.child<QComboBox>("cbo_Port")).size(), 5);
        QVERIFY(!w.child<QComboBox>("cbo_APP")->isEditable());
        QVERIFY(w.child<QComboBox>("cbo_Port")->isEditable());
        // Every property name is in place with its caption, and index 4 does not exist.
        QVERIFY(!w.form->findChild<QLabel *>(QStringLiteral("lblfield_4")));
        QCOMPARE(w.child<QLabel>("lblfield_10")->text(), QStringLiteral("HandShaking"));
        QCOMPARE(w.child<QLabel>("lblfield_21")->text(), QStringLiteral("ParityReplace"));
    }

    void everyCaptionFits()
    {
        Window w;
        QStringList clipped;
        for (QLabel *l : w.form->findChildren<QLabel *>()) {
            if (l->text().isEmpty() || !l->pixmap().isNull())
                continue;
            if (l->fontMetrics().horizontalAdvance(l->text()) > l->contentsRect().width())
                clipped << l->objectName();
        }
        for (QAbstractButton *b : w.form->findChildren<QAbstractButton *>()) {
            const QString text = QString(b->text()).remove(u'&');
            const int indicator = qobject_cast<QCheckBox *>(b) ? 20 : 6;
            if (b->fontMetrics().horizontalAdvance(text) + indicator > b->width())
                clipped << b->objectName();
        }
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(u' ')));
    }

    void focusOrder()
    {
        Window w;
        const QStringList expected = {
            QStringLiteral("com_Close"),         QStringLiteral("txt_in"),
            QStringLiteral("txt_out"),           QStringLiteral("chk_file"),
            QStringLiteral("txt_send"),          QStringLiteral("cmd_Send"),
            QStringLiteral("cbo_Port"),          QStringLiteral("txt_bffr"),
            QStringLiteral("cbo_SuffixCommand"), QStringLiteral("cmd_reset"),
            QStringLiteral("txt_Settings"),      QStringLiteral("cbo_APP"),
            QStringLiteral("chk_CollectData")};
        w.form->show();
        QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
        QCOMPARE(QApplication::focusWidget()->objectName(), expected.first());
        QStringList seen{QApplication::focusWidget()->objectName()};
        for (int i = 1; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget *f = QApplication::focusWidget();
            // An editable combo box focuses its line edit; name the combo box.
            while (f && f->objectName().isEmpty())
                f = f->parentWidget();
            seen << (f ? f->objectName() : QString());
        }
        QCOMPARE(seen, expected);
    }

    void closeEndsQuietly()
    {
        Window w;
        w.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
        QTest::mouseClick(w.child<QPushButton>("com_Close"), Qt::LeftButton);
        QVERIFY(!w.form->isVisible());
        QVERIFY(w.form->shownError().isEmpty());
    }
};

// The program's own application object, so that the test sees what it sets.
int main(int argc, char **argv)
{
    noShmGiven = qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM");
    Application app(argc, argv);
    TestFormComm test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_form_comm.moc"
