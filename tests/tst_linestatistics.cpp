// Rates over the last second from timer-tick samples, and counters since a reset.
#include "port/serialcontrol.h"
#include "receive/linestatistics.h"
#include "support/fakeserialcontrol.h"
#include "support/tables.h"

#include <QStringList>
#include <QTest>

using Samples = QList<QPair<qint64, quint64>>; // tick time in ms, characters received by then

namespace {

// Characters arrive, at the last receive time, until total have been received.
void receivedUpTo(LineStatistics &s, quint64 total)
{
    s.noteReceived(s.lastReceiveMs(), qsizetype(total - s.received()));
}

} // namespace

class TestLineStatistics : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void rate_data()
    {
        columns<Samples, double, double>("ticks", "rate", "peak");

        QTest::newRow("one tick") << Samples{{0, 100}} << 0.0 << 0.0;
        QTest::newRow("half a second") << Samples{{0, 0}, {500, 600}} << 1200.0 << 1200.0;
        QTest::newRow("steady, window of one second")
            << Samples{{0, 0}, {500, 500}, {1000, 1000}, {1500, 1500}} << 1000.0 << 1000.0;
        QTest::newRow("burst then quiet")
            << Samples{{0, 0}, {500, 5000}, {1000, 5000}, {1500, 5000}, {2000, 5000}} << 0.0
            << 10000.0;
        QTest::newRow("late tick covers its whole gap")
            << Samples{{0, 0}, {500, 100}, {3500, 700}} << 200.0 << 200.0;
        QTest::newRow("samples past the ring")
            << Samples{{0, 0},      {500, 50},   {1000, 100}, {1500, 150}, {2000, 200},
                       {2500, 250}, {3000, 300}, {3500, 350}, {4000, 400}, {4500, 1400}}
            << 1050.0 << 1050.0;
    }
    void rate()
    {
        QFETCH(Samples, ticks);
        QFETCH(double, rate);
        QFETCH(double, peak);
        LineStatistics s;
        for (const auto &[ms, received] : ticks) {
            receivedUpTo(s, received);
            s.tick(ms);
        }
        QCOMPARE(s.rate(), rate);
        QCOMPARE(s.peakRate(), peak);
    }

    // A reset (every open) keeps the ticks going: characters that arrive before the next
    // tick make a rate, over the same second as without the reset.
    void rateAcrossAReset_data()
    {
        columns<Samples, qint64, double>("before", "resetAt", "rate");
        QTest::newRow("steady ticks before") << Samples{{0, 5}, {500, 9}, {1000, 20}} << 1100ll
                                             << 1000.0;
        QTest::newRow("first open") << Samples{} << 1000ll << 2000.0;
    }
    void rateAcrossAReset()
    {
        QFETCH(Samples, before);
        QFETCH(qint64, resetAt);
        QFETCH(double, rate);
        LineStatistics s;
        for (const auto &[ms, received] : before) {
            receivedUpTo(s, received);
            s.tick(ms);
        }
        s.reset(resetAt, std::nullopt);
        receivedUpTo(s, 1000); // one burst before the next tick
        s.tick(1500);
        QCOMPARE(s.rate(), rate);
        QCOMPARE(s.peakRate(), rate);
    }

    void resetAndErrors()
    {
        LineStatistics s;
        s.noteReceived(1234);
        s.noteSent(5);
        s.noteFrames(2);
        s.noteRecords(1);
        s.tick(0);
        receivedUpTo(s, 500);
        s.tick(500);
        QCOMPARE(s.lastReceiveMs(), 1234);
        QVERIFY(s.rate() > 0);

        const LineErrorCounts atReset{3, 2, 1, 0, 4};
        s.reset(600, atReset);
        QCOMPARE(s.received(), 0u);
        QCOMPARE(s.sent() + s.frames() + s.records(), 0u);
        QCOMPARE(s.lastReceiveMs(), -1);
        QCOMPARE(s.rate(), 0.0);
        QCOMPARE(s.peakRate(), 0.0);

        QVERIFY(!s.errorsSinceReset(std::nullopt));
        const LineErrorCounts later{5, 2, 4, 1, 4};
        QCOMPARE(*s.errorsSinceReset(later), (LineErrorCounts{2, 0, 3, 1, 0}));
        QCOMPARE(s.errorsSinceReset(later)->total(), 6u);
        // Counters that went back (the device was re-created) count from zero again.
        QCOMPARE(*s.errorsSinceReset(LineErrorCounts{1, 0, 0, 0, 0}),
                 (LineErrorCounts{1, 0, 0, 0, 0}));
    }

    void shownFigures()
    {
        LineStatistics s;
        receivedUpTo(s, 46);
        s.noteSent(7);
        s.noteFrames(2);
        s.noteRecords(1);
        s.tick(0);
        receivedUpTo(s, 1046);
        s.tick(1000);
        const QDateTime last(QDate(2026, 12, 8), QTime(14, 3, 5, 123));

        const QList<StatisticsRow> none = statisticsRows(s, std::nullopt, QDateTime());
        QStringList shown;
        for (const StatisticsRow &r : none)
            shown << r.caption + u'=' + r.value;
        QCOMPARE(shown.mid(0, 7).join(u'|'),
                 u"Characters received=1046|Characters sent=7|Frames=2|Records written=1|"
                 u"Rate (characters/s)=1000|Peak rate (characters/s)=1000|"
                 u"Last character=none yet");
        QCOMPARE(shown.size(), 12);
        for (const QString &row : shown.mid(7))
            QVERIFY2(row.endsWith(u"=not reported by this device"), qPrintable(row));
        QCOMPARE(receiveIndicatorTip(s, std::nullopt),
                 u"Receiving 1000 characters/s; line errors not reported by this device");

        const LineErrorCounts errors{1, 2, 3, 4, 5};
        const QList<StatisticsRow> counted = statisticsRows(s, errors, last);
        QCOMPARE(counted.at(6).value, u"2026-12-08 14:03:05.123");
        QCOMPARE(counted.at(7).value + counted.at(11).value, u"15");
        QCOMPARE(receiveIndicatorTip(s, errors), u"Receiving 1000 characters/s; 15 line errors");
    }

    // The device's counters reach the window through the control while the port is open.
    void controlPassesTheDeviceCounters()
    {
        FakeSerialControl control;
        control.errors = LineErrorCounts{7, 0, 1, 0, 2};
        QCOMPARE(control.errorCounters(), std::nullopt);
        QVERIFY(control.setPortOpen(true));
        QCOMPARE(control.errorCounters(), std::optional(LineErrorCounts{7, 0, 1, 0, 2}));
    }
};

QTEST_APPLESS_MAIN(TestLineStatistics)
#include "tst_linestatistics.moc"
