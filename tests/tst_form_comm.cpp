#include "app/form_comm.h"
#include "capture/savedialog.h"
#include "support/fakeserialcontrol.h"

#include <QTest>

class TestFormComm : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void placeholder() { QVERIFY(true); }
};

QTEST_MAIN(TestFormComm)
#include "tst_form_comm.moc"
