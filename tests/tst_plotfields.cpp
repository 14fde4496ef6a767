// The Plot window's field rules: which numbers a frame holds, their series and units, and
// that each value is written back exactly as it came.
#include "plot/plotfields.h"
#include "support/tables.h"
#include "tools/framegenerator.h"

#include <QTest>

#include <cmath>

namespace {

// "name=text[unit]" per reading, "; " between; an unnamed number is "#position".
QString describe(const std::vector<PlotReading> &readings)
{
    QStringList parts;
    for (const PlotReading &r : readings) {
        QString text =
            r.name.isEmpty() ? QStringLiteral("#%1").arg(r.position) : QString::fromLatin1(r.name);
        text += u'=';
        text += std::isnan(r.value) ? QStringLiteral("nan")
                                    : QString::fromLatin1(plotNumberText(r.value, r.format));
        if (!r.unit.isEmpty())
            text += u'[' + QString::fromLatin1(r.unit) + u']';
        parts << text;
    }
    return parts.join(QStringLiteral("; "));
}

} // namespace

class TestPlotFields : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rules_data()
    {
        columns<QByteArray, QByteArray, QByteArray>("before", "frame", "readings");
        const QByteArray none;
        auto row = [](const char *name) -> QTestData & { return QTest::newRow(name); };
        row("labelled") << none << QByteArray("temp:23.5,hum=40")
                        << QByteArray("temp=23.5; hum=40");
        row("space after the colon")
            << none << QByteArray("temp: 23.5  hum:   40%") << QByteArray("temp=23.5; hum=40[%]");
        row("labelled, unit in the next field") << none
                                                << QByteArray("temp: 23.4 \xB0"
                                                              "C")
                                                << QByteArray("temp=23.4[°C]");
        row("label before the value, frame profile") << none
                                                     << QByteArray("\x02"
                                                                   "0001 CH2 +0023.451 \xB0"
                                                                   "C")
                                                     << QByteArray("#1=0001; CH2=+0023.451[°C]");
        row("label before the value, line profile") << none
                                                    << QByteArray("0001;T1;+0023.45;\xB0"
                                                                  "C")
                                                    << QByteArray("#1=0001; T1=+0023.45[°C]");
        row("label and comma") << none << QByteArray("S1,12.5") << QByteArray("S1=12.5");
        row("a label starts with a letter") << none << QByteArray("_x 5") << QByteArray("#1=5");
        row("a label is at most 16 characters")
            << none << QByteArray("abcdefghijklmnopq 5,abcdefghijklmnop 6")
            << QByteArray("#1=5; abcdefghijklmnop=6");
        row("positional") << none << QByteArray("1.5, -2  3e2;-1.5e3\t1E+05 1e99")
                          << QByteArray("#1=1.5; #2=-2; #3=3e2; #4=-1.5e3; #5=1E+05; #6=1e99");
        row("positional among unnamed numbers only")
            << none << QByteArray("a:1,7,b:2,8") << QByteArray("a=1; #1=7; b=2; #2=8");
        row("units attached") << none << QByteArray("12.5V 3.2mA 45% 7\xB5S 9kPa")
                              << QByteArray(
                                     "#1=12.5[V]; #2=3.2[mA]; #3=45[%]; #4=7[µS]; #5=9[kPa]");
        row("a unit before a number is a label")
            << none << QByteArray("1 V 2") << QByteArray("#1=1; V=2");
        row("as written: zeros, points, signs")
            << none << QByteArray("+0023.450 -0.0 .5 5. 00001.00000 -1.50E-07")
            << QByteArray("#1=+0023.450; #2=-0.0; #3=.5; #4=5.; #5=00001.00000; #6=-1.50E-07");
        row("header frame gives nothing") << none << QByteArray("time,temp,hum") << QByteArray("");
        row("header names the positional series")
            << QByteArray("time,temp,hum") << QByteArray("12,23.4,55,9")
            << QByteArray("time=12; temp=23.4; hum=55; #4=9");
        row("labels still name their own")
            << QByteArray("time,temp") << QByteArray("x:1 2") << QByteArray("x=1; time=2");
        row("one text field is no header")
            << QByteArray("ready") << QByteArray("1") << QByteArray("#1=1");
        row("control characters separate") << none
                                           << QByteArray("\x02"
                                                         "A:1\x03"
                                                         "B:2\x17\x7F"
                                                         "3\x01")
                                           << QByteArray("A=1; B=2; #1=3");
        row("no number") << none << QByteArray("hello world: ok") << QByteArray("");
        row("empty") << none << QByteArray() << QByteArray("");
        row("nan, inf and out of range are counted")
            << none << QByteArray("nan -INF t:inf 1e999 u:Infinity 1e-400")
            << QByteArray("#1=nan; #2=nan; t=nan; #3=nan; u=nan; #4=nan");
        row("malformed numbers are text")
            << none << QByteArray("1.2.3 --5 12abc3 0x1F . + 1,5 e5") << QByteArray("#1=1; #2=5");
        row("a pair needs a name") << none << QByteArray("1:5 :6 =7") << QByteArray("");
        row("a time is text") << none << QByteArray("12:30:01 ok") << QByteArray("");
        row("Latin-1 letters name") << none << QByteArray("\xE9t\xE9:3") << QByteArray("été=3");
        row("every byte value") << none << allByteValues() << QByteArray("");
    }
    void rules()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, readings);
        PlotHeader header;
        std::vector<PlotReading> out;
        parsePlotFields(before, header, out);
        parsePlotFields(frame, header, out);
        QCOMPARE(describe(out).toUtf8(), readings);
        for (const PlotReading &r : out) {
            if (r.format != kPlotNoFormat)
                QCOMPARE(plotNumberText(r.value, r.format), r.text.toByteArray());
        }
    }

    // More digits than a double holds exactly: the value's shortest exact form.
    void longNumbers_data()
    {
        columns<QByteArray, QByteArray>("frame", "written");
        QTest::newRow("15 digits as written")
            << QByteArray("123456789012345") << QByteArray("123456789012345");
        QTest::newRow("16 digits")
            << QByteArray("1234567890123456") << QByteArray("1234567890123456");
        QTest::newRow("17 digits rounds")
            << QByteArray("0.12345678901234567") << QByteArray("0.12345678901234566");
        QTest::newRow("subnormal") << QByteArray("1e-310") << QByteArray("1e-310");
    }
    void longNumbers()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, written);
        PlotHeader header;
        std::vector<PlotReading> out;
        parsePlotFields(frame, header, out);
        QCOMPARE(out.size(), size_t(1));
        QCOMPARE(plotNumberText(out[0].value, out[0].format), written);
    }

    // The simulated instrument's readings come out as its channel, with the unit.
    void simulatedInstrument_data()
    {
        columns<int>("profile");
        QTest::newRow("frame profile") << int(SimProfile::Frame);
        QTest::newRow("line profile") << int(SimProfile::Line);
    }
    void simulatedInstrument()
    {
        QFETCH(int, profile);
        FrameGenerator generator(SimProfile(profile), 7);
        PlotHeader header;
        std::vector<PlotReading> out;
        for (int i = 0; i < 50; ++i) {
            QByteArray frame = generator.next();
            frame.chop(SimProfile(profile) == SimProfile::Frame ? 1 : 2);
            parsePlotFields(frame, header, out);
            QCOMPARE(out.size(), size_t(2));
            const PlotReading &r = out[1];
            QVERIFY2(frame.contains(' ' + r.name.toByteArray() + ' ') ||
                         frame.contains(';' + r.name.toByteArray() + ';'),
                     frame.constData());
            QVERIFY(!r.unit.isEmpty() && frame.endsWith(r.unit.toByteArray()));
            QVERIFY(frame.contains(plotNumberText(r.value, r.format)));
        }
    }
};

QTEST_GUILESS_MAIN(TestPlotFields)
#include "tst_plotfields.moc"
