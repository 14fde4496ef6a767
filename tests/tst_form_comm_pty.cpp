// The monitor window on real pseudo-terminals: start-up, re-opening, the panel.
#include "app/form_comm.h"
#include "port/qtserialcontrol.h"
#include "support/fakesavedialog.h"
#include "support/pty.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

std::unique_ptr<Form_Comm> makeWindow()
{
    return std::make_unique<Form_Comm>(std::make_unique<QtSerialControl>(),
                                       std::make_unique<FakeSaveDialog>());
}

QString val(const Form_Comm &w, int k)
{
    return w.findChild<QLabel *>(QStringLiteral("lbl_val_") + QString::number(k))->text();
}

void reset(Form_Comm &w, const QString &portText)
{
    w.findChild<QComboBox *>(QStringLiteral("cbo_Port"))->setEditText(portText);
    QTest::mouseClick(w.findChild<QPushButton *>(QStringLiteral("cmd_reset")), Qt::LeftButton);
}

} // namespace

class TestFormCommPty : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void panelAfterStartUpOnPty()
    {
        PortMap map;
        Pty pty;
        QVERIFY(pty.isValid());
        QVERIFY(map.map(4, pty.slavePath()));
        auto w = makeWindow();
        QCOMPARE(val(*w, 0), QStringLiteral("4"));
        QCOMPARE(val(*w, 1), QStringLiteral("9600,n,8,1"));
        QCOMPARE(val(*w, 2), QStringLiteral("True"));
        QCOMPARE(val(*w, 10), QStringLiteral("1")); // RThreshold
        QCOMPARE(val(*w, 11), QStringLiteral("1")); // SThreshold
        QCOMPARE(val(*w, 15), QStringLiteral("1")); // InputLen
        QCOMPARE(val(*w, 16), QStringLiteral("0")); // InputMode
        // A pty has no modem lines: they read False rather than a guess.
        QCOMPARE(val(*w, 4), QStringLiteral("False"));
        QCOMPARE(val(*w, 5), QStringLiteral("False"));
        QCOMPARE(val(*w, 6), QStringLiteral("False"));
        for (int k = 0; k < 21; ++k)
            QVERIFY2(!val(*w, k).isEmpty(), qPrintable(QString::number(k)));
    }

    void reopenOnAnotherPortAndBack()
    {
        PortMap map;
        Pty four, three;
        QVERIFY(map.map(4, four.slavePath()));
        QVERIFY(map.map(3, three.slavePath()));
        auto w = makeWindow();
        QCOMPARE(val(*w, 2), QStringLiteral("True"));

        auto *list = w->findChild<QComboBox *>(QStringLiteral("cbo_Port"));
        list->setCurrentIndex(2); // "COM 3"
        Q_EMIT list->activated(2);
        QCOMPARE(val(*w, 0), QStringLiteral("3"));
        QCOMPARE(val(*w, 2), QStringLiteral("True"));
        // The port is really the other device: what is sent arrives there.
        w->findChild<QLineEdit *>(QStringLiteral("txt_send"))->setText(QStringLiteral("hi"));
        QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("cmd_Send")), Qt::LeftButton);
        // Qt writes from the event loop, so keep it turning while reading the other side.
        QByteArray got;
        QTRY_VERIFY((got += three.readAvailable(5)).size() >= 2);
        QCOMPARE(got, QByteArray("hi"));
        QVERIFY(four.readAvailable(50).isEmpty());

        reset(*w, QStringLiteral("COM 4"));
        QCOMPARE(val(*w, 0), QStringLiteral("4"));
        QCOMPARE(val(*w, 2), QStringLiteral("True"));
    }

    void missingDeviceShowsClosedWithReason()
    {
        PortMap map;
        Pty four;
        QVERIFY(map.map(4, four.slavePath()));
        QVERIFY(map.map(7, map.path() + QStringLiteral("/no-such-device")));
        auto w = makeWindow();
        reset(*w, QStringLiteral("COM 7"));
        QCOMPARE(val(*w, 0), QStringLiteral("7"));
        QCOMPARE(val(*w, 2), QStringLiteral("False"));
        const QString tip = w->findChild<QLabel *>(QStringLiteral("lbl_val_2"))->toolTip();
        QVERIFY2(tip.contains(QStringLiteral("No such device")), qPrintable(tip));
        QVERIFY(w->shownError().isEmpty());
        // Settings refused while the port stays on the old text.
        w->findChild<QLineEdit *>(QStringLiteral("txt_Settings"))
            ->setText(QStringLiteral("9600,q,8,1"));
        reset(*w, QStringLiteral("COM 4"));
        QCOMPARE(val(*w, 2), QStringLiteral("True"));
        QCOMPARE(val(*w, 1), QStringLiteral("9600,n,8,1"));
    }

    void vanishedDeviceIsToldOnceAndCanBeReopened()
    {
        PortMap map;
        auto pty = std::make_unique<Pty>();
        QVERIFY(map.map(4, pty->slavePath()));
        auto w = makeWindow();
        QCOMPARE(val(*w, 2), QStringLiteral("True"));
        pty->closeMaster();
        QTRY_COMPARE_WITH_TIMEOUT(val(*w, 2), QStringLiteral("False"), 2000);
        QVERIFY2(w->shownError().contains(QStringLiteral("was lost")), qPrintable(w->shownError()));
        QCOMPARE(w->findChildren<QWidget *>(QStringLiteral("errorBox")).size(), 1);

        Pty back;
        QVERIFY(map.map(4, back.slavePath()));
        reset(*w, QStringLiteral("COM 4"));
        QCOMPARE(val(*w, 2), QStringLiteral("True"));
    }

    void secondWindowOnSamePortIsRefused()
    {
        PortMap map;
        Pty four;
        QVERIFY(map.map(4, four.slavePath()));
        auto first = makeWindow();
        auto second = makeWindow();
        QCOMPARE(val(*first, 2), QStringLiteral("True"));
        QCOMPARE(val(*second, 2), QStringLiteral("False"));
        const QString tip = second->findChild<QLabel *>(QStringLiteral("lbl_val_2"))->toolTip();
        QVERIFY2(tip.contains(QStringLiteral("busy")), qPrintable(tip));
    }
};

QTEST_MAIN(TestFormCommPty)
#include "tst_form_comm_pty.moc"
