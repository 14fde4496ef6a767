// The monitor window on real pseudo-terminals: start-up, re-opening, the panel.
#include "port/serialcontrol.h"
#include "support/monitor.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

class TestFormCommPty : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void panelAfterStartUpOnPty()
    {
        PtyMonitor w;
        QVERIFY(w.ok());
        QCOMPARE(w.val(0), QStringLiteral("4"));
        QCOMPARE(w.val(1), QStringLiteral("9600,n,8,1"));
        QCOMPARE(w.val(2), QStringLiteral("True"));
        QCOMPARE(w.val(10), QStringLiteral("1")); // RThreshold
        QCOMPARE(w.val(11), QStringLiteral("1")); // SThreshold
        QCOMPARE(w.val(15), QStringLiteral("1")); // InputLen
        QCOMPARE(w.val(16), QStringLiteral("0")); // InputMode
        // A pty has no modem lines: they read False rather than a guess.
        QCOMPARE(w.val(4), QStringLiteral("False"));
        QCOMPARE(w.val(5), QStringLiteral("False"));
        QCOMPARE(w.val(6), QStringLiteral("False"));
        for (int k = 0; k < 21; ++k)
            QVERIFY2(!w.val(k).isEmpty(), qPrintable(QString::number(k)));
    }

    void reopenOnAnotherPortAndBack()
    {
        PtyMonitor w;
        Pty three;
        QVERIFY(w.ok());
        QVERIFY(w.map.map(3, three.slavePath()));
        QCOMPARE(w.val(2), QStringLiteral("True"));

        auto *list = w.child<QComboBox>("cbo_Port");
        list->setCurrentIndex(2); // "COM 3"
        Q_EMIT list->activated(2);
        QCOMPARE(w.val(0), QStringLiteral("3"));
        QCOMPARE(w.val(2), QStringLiteral("True"));
        // The port is really the other device: what is sent arrives there.
        w.box()->setText(QStringLiteral("hi"));
        QTest::mouseClick(w.child<QPushButton>("cmd_Send"), Qt::LeftButton);
        // Qt writes from the event loop, so keep it turning while reading the other side.
        QByteArray got;
        QTRY_VERIFY((got += three.readAvailable(5)).size() >= 2);
        QCOMPARE(got, QByteArray("hi"));
        QVERIFY(w.pty->readAvailable(50).isEmpty());

        w.reset(QStringLiteral("COM 4"));
        QCOMPARE(w.val(0), QStringLiteral("4"));
        QCOMPARE(w.val(2), QStringLiteral("True"));
    }

    void missingDeviceShowsClosedWithReason()
    {
        PtyMonitor w;
        QVERIFY(w.ok());
        QVERIFY(w.map.map(7, w.map.path() + QStringLiteral("/no-such-device")));
        w.reset(QStringLiteral("COM 7"));
        QCOMPARE(w.val(0), QStringLiteral("7"));
        QCOMPARE(w.val(2), QStringLiteral("False"));
        const QString tip = w.child<QLabel>("lbl_val_2")->toolTip();
        QVERIFY2(tip.contains(QStringLiteral("No such device")), qPrintable(tip));
        QVERIFY(w.form->shownError().isEmpty());
        // Settings refused while the port stays on the old text.
        w.child<QLineEdit>("txt_Settings")->setText(QStringLiteral("9600,q,8,1"));
        w.reset(QStringLiteral("COM 4"));
        QCOMPARE(w.val(2), QStringLiteral("True"));
        QCOMPARE(w.val(1), QStringLiteral("9600,n,8,1"));
    }

    void vanishedDeviceIsToldOnceAndCanBeReopened()
    {
        PtyMonitor w;
        QVERIFY(w.ok());
        QCOMPARE(w.val(2), QStringLiteral("True"));
        w.pty->closeMaster();
        QTRY_COMPARE_WITH_TIMEOUT(w.val(2), QStringLiteral("False"), 2000);
        QVERIFY2(w.form->shownError().contains(QStringLiteral("was lost")),
                 qPrintable(w.form->shownError()));
        QCOMPARE(w.form->findChildren<QWidget *>(QStringLiteral("errorBox")).size(), 1);

        w.replug();
        QVERIFY(w.ok());
        w.reset(QStringLiteral("COM 4"));
        QCOMPARE(w.val(2), QStringLiteral("True"));
    }

    void secondWindowOnSamePortIsRefused()
    {
        PtyMonitor first;
        QVERIFY(first.ok());
        Monitor second(std::make_unique<SerialControl>());
        QCOMPARE(first.val(2), QStringLiteral("True"));
        QCOMPARE(second.val(2), QStringLiteral("False"));
        const QString tip = second.child<QLabel>("lbl_val_2")->toolTip();
        QVERIFY2(tip.contains(QStringLiteral("busy")), qPrintable(tip));
    }
};

QTEST_MAIN(TestFormCommPty)
#include "tst_form_comm_pty.moc"
