// Garbage in the settings text and the port list text, through the window with the real
// serial layer: what cannot be used is refused, the port goes on with what was in force,
// and frames keep being captured afterwards.
#include "port/portrules.h"
#include "support/reliability.h"

#include <QRandomGenerator>
#include <QTemporaryDir>

using namespace reliability;

namespace {

QString randomText(QRandomGenerator &random, int maxLength, bool unicode)
{
    QString s;
    const int n = random.bounded(maxLength + 1);
    for (int i = 0; i < n; ++i)
        s += unicode ? QChar(char16_t(random.bounded(0x10000)))
                     : QChar(char16_t(random.bounded(256)));
    return s;
}

// After the texts: a few frames are sent and their records must follow what the file
// already holds, with no stall meanwhile. Counts them in the report; says what went wrong.
QByteArray capturesAgain(RunningMonitor &m, const QString &path, TickWatch &ticks, Report &report)
{
    ticks.restart();
    QList<QByteArray> frames;
    for (int i = 0; i < 3; ++i)
        frames.append(numberedFrame(i));
    const QByteArray expected = readFile(path) + recordsOf(frames);
    if (!m.pty->write(frames.join()))
        return "cannot write to the pty";
    const bool captured = waitForContent(path, expected, 10000);
    report.sent = frames.size();
    report.captured = readFile(path).count('\n');
    report.lost = report.sent - report.captured;
    if (!captured)
        return "the frames were not captured after the texts";
    return ticks.stalled() ? ticks.describe() : QByteArray();
}

} // namespace

class TestReliabilityInput : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void garbageSettings_data()
    {
        QTest::addColumn<QStringList>("texts");
        QRandomGenerator random(2026);
        QStringList latin1, unicode;
        for (int i = 0; i < 150; ++i) {
            latin1 << randomText(random, 40, false);
            unicode << randomText(random, 40, true);
        }
        QTest::newRow("random Latin-1 texts") << latin1;
        QTest::newRow("random Unicode texts") << unicode;
        QTest::newRow("very long texts") << QStringList{
            QString(1 << 20, u'9'), QStringLiteral("9600,n,8,") + QString(100000, u'1'),
            QStringLiteral("9600,").repeated(20000)};
        QTest::newRow("near misses") << QStringList{QStringLiteral("99999999999999999999,n,8,1"),
                                                    QStringLiteral("-9600,n,8,1"),
                                                    QStringLiteral("0,n,8,1"),
                                                    QStringLiteral("9600,x,8,1"),
                                                    QStringLiteral("9600,n,9,1"),
                                                    QStringLiteral("9600,n,8,3"),
                                                    QStringLiteral(",,,"),
                                                    QStringLiteral("9600,n,8,1,"),
                                                    QString::fromLatin1("9600\0,n,8,1", 11),
                                                    QStringLiteral("9600;n;8;1"),
                                                    QStringLiteral("   "),
                                                    QStringLiteral("9600,n,8,1.5.5")};
    }
    // Each text is applied with "Reset Comm": a text the serial layer cannot use leaves the
    // settings in force and the port open; one it accepts is what the panel shows. Either
    // way the monitor goes on capturing.
    void garbageSettings()
    {
        QFETCH(QStringList, texts);
        Report report(
            ofRow("garbage settings text"),
            QStringLiteral(
                "refused and the previous settings kept, port open; capture goes on; no hang"));
        RunningMonitor m;
        const QString path = m.captures.newPath();
        QVERIFY(m.startCapture(path));
        auto *settings = m.child<QLineEdit>("txt_Settings");
        // Differs from the start-up text; a pty takes no parity or data bits other than 8.
        const QString inForce = QStringLiteral("19200,n,8,1");
        settings->setText(inForce);
        m.reset();
        QVERIFY(m.portOpen());
        QCOMPARE(m.val(1), inForce);
        // Each text is one event of the window's, watched on its own.
        TickWatch ticks;
        qint64 longestText = 0;
        int refused = 0;
        for (const QString &text : std::as_const(texts)) {
            ticks.restart();
            settings->setText(text);
            m.reset();
            const QString applied = settings->text().trimmed();
            QVERIFY2(m.portOpen(), qPrintable(m.form->serial()->lastError()));
            if (settings->text().isEmpty()) {
                QCOMPARE(m.val(1), inForce); // Reset Comm does nothing
            } else if (!parseSettings(applied)) {
                ++refused;
                QCOMPARE(m.val(1), inForce);
            } else {
                QCOMPARE(parseSettings(m.val(1)), parseSettings(applied));
                settings->setText(inForce);
                m.reset();
            }
            QVERIFY2(!ticks.stalled(), ticks.describe().constData());
            longestText = std::max(longestText, ticks.longestGapMs());
        }
        const QByteArray trouble = capturesAgain(m, path, ticks, report);
        QVERIFY2(trouble.isEmpty(), trouble.constData());
        report.note = QStringLiteral("%1 texts, %2 refused; longest text %3 ms")
                          .arg(texts.size())
                          .arg(refused)
                          .arg(longestText);
    }

    void garbagePortText_data()
    {
        QTest::addColumn<QStringList>("texts");
        QRandomGenerator random(4711);
        QStringList latin1, unicode;
        for (int i = 0; i < 150; ++i) {
            latin1 << randomText(random, 12, false);
            unicode << randomText(random, 12, true);
        }
        QTest::newRow("random Latin-1 texts") << latin1;
        QTest::newRow("random Unicode texts") << unicode;
        QTest::newRow("very long and odd texts")
            << QStringList{QString(100000, u'7'),   QStringLiteral("COM 4") + QString(100000, u'x'),
                           QStringLiteral("COM 0"), QStringLiteral("COM -"),
                           QStringLiteral("     "), QStringLiteral("COM \u0664"),
                           QStringLiteral("COM4"),  QString::fromLatin1("COM \0", 5),
                           QStringLiteral("COM 9")};
    }
    // The fifth character of the port list's text picks the port: a digit opens that port
    // (ports other than 4 lead nowhere here, so they stay closed), anything else keeps port
    // 4. Afterwards "COM 4" opens the instrument again and capture goes on.
    void garbagePortText()
    {
        QFETCH(QStringList, texts);
        Report report(
            ofRow("garbage port text"),
            QStringLiteral(
                "a non-digit keeps the port; a digit picks that port; then COM 4 captures again"));
        RunningMonitor m;
        for (int port = 0; port <= 9; ++port)
            if (port != 4)
                m.map.map(port, QStringLiteral("/nonexistent/tty%1").arg(port));
        const QString path = m.captures.newPath();
        QVERIFY(m.startCapture(path));
        TickWatch ticks;
        qint64 longestText = 0;
        int kept = 0;
        for (const QString &text : std::as_const(texts)) {
            ticks.restart();
            m.reset(text);
            const QString shown = m.child<QComboBox>("cbo_Port")->currentText();
            const QString digit = portNumberText(shown);
            const bool picksPort = digit.size() == 1 && digit[0] >= u'1' && digit[0] <= u'9';
            // Port 4 was in force before each text.
            const qint16 expected = picksPort ? qint16(digit[0].unicode() - u'0') : qint16(4);
            QCOMPARE(m.form->serial()->CommPort(), std::optional<qint16>(expected));
            QCOMPARE(m.portOpen(), expected == 4);
            kept += !picksPort;
            if (expected != 4) {
                m.reset();
                QVERIFY(m.portOpen());
            }
            QVERIFY2(!ticks.stalled(), ticks.describe().constData());
            longestText = std::max(longestText, ticks.longestGapMs());
        }
        const QByteArray trouble = capturesAgain(m, path, ticks, report);
        QVERIFY2(trouble.isEmpty(), trouble.constData());
        report.note = QStringLiteral("%1 texts, %2 kept port 4; longest text %3 ms")
                          .arg(texts.size())
                          .arg(kept)
                          .arg(longestText);
    }
};

QTEST_MAIN(TestReliabilityInput)
#include "tst_reliability_input.moc"
