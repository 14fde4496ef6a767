// Repeated commands and files through the real serial layer to a pseudo-terminal: what the
// other end reads, how each stops, and that the window keeps handling events meanwhile.
#include "support/files.h"
#include "support/monitor.h"
#include "support/reliability.h"
#include "transmit/filesender.h"
#include "transmit/sendfilewindow.h"

#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

struct Bench : PtyMonitor
{
    QTemporaryDir dir;
    QByteArray got; // everything read from the master side so far

    Bench() { form->show(); }
    FileSender *sender() const { return form->findChild<FileSender *>(u"FileSender"_qs); }

    // Runs the event loop, reading the master side, until until() holds or the time is up.
    bool pump(const std::function<bool()> &until, int timeoutMs)
    {
        QByteArray buf(1 << 16, Qt::Uninitialized);
        for (QDeadlineTimer deadline(timeoutMs); !until();) {
            if (deadline.hasExpired())
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            for (ssize_t n; pty && pty->masterFd() >= 0 &&
                            (n = ::read(pty->masterFd(), buf.data(), size_t(buf.size()))) > 0;)
                got.append(buf.constData(), n);
        }
        return true;
    }
    // Reads for a while and returns what arrived: for showing that nothing more does.
    QByteArray more(int ms = 300)
    {
        const qsizetype before = got.size();
        QElapsedTimer t;
        t.start();
        pump([&] { return t.elapsed() >= ms; }, ms + 1000);
        return got.mid(before);
    }

    // Sends a file of `size` random bytes through the open-file dialog; its content.
    QByteArray sendFile(qint64 size)
    {
        const QString path = writeRandomFile(dir.path(), u"big.bin"_qs, size);
        openDialog->answers = {path};
        child<QAction>("act_sendFile")->trigger();
        return readFile(path);
    }
    // "… 123 of 456 bytes …" in text: the 123.
    static qint64 bytesIn(const QString &text)
    {
        const QRegularExpressionMatch m =
            QRegularExpression(u"(\\d+) of (\\d+) bytes"_qs).match(text);
        return m.hasMatch() ? m.captured(1).toLongLong() : -1;
    }
};

constexpr qint64 kTenMiB = 10 * 1024 * 1024;

} // namespace

class TestTransmitBulkPty : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void repeatSendsExactlyTheCount()
    {
        Bench b;
        QVERIFY(b.portOpen());
        b.child<QComboBox>("cbo_SuffixCommand")->setCurrentText(u"CrLf"_qs);
        b.repeat(u"MEAS?"_qs, 20, 50);
        QVERIFY2(b.box()->toolTip().startsWith(u"Repeating every 20 ms: "_qs),
                 qPrintable(b.box()->toolTip()));
        const QByteArray one("MEAS?\r\n");
        QVERIFY(b.pump([&] { return b.form->repeatStatus().isEmpty(); }, 60000));
        b.more();
        QCOMPARE(b.got.size(), one.size() * 50);
        QVERIFY(b.got == one.repeated(50));
        QCOMPARE(b.form->lineStatistics().sent(), quint64(one.size() * 50));
        QCOMPARE(b.form->shownError(), QString());
    }

    void escapeStopsTheRepeat()
    {
        Bench b;
        QVERIFY(b.portOpen());
        b.repeat(u"P"_qs, 20, 0);
        QVERIFY(b.pump([&] { return b.got.size() >= 3; }, 30000));
        QTest::keyClick(b.box(), Qt::Key_Escape);
        QCOMPARE(b.form->repeatStatus(), QString());
        b.more(); // what was written before the Escape
        QCOMPARE(b.more(), QByteArray());
        QVERIFY(b.got == QByteArray("P").repeated(b.got.size()));
        QCOMPARE(b.form->shownError(), QString());
    }

    // A 10 ms repeat on a port that takes nothing (the other end does not read): ticks are
    // skipped and counted, the port never holds more than one command, and once the other
    // end reads, what arrives is whole commands, as many as were counted sent.
    void repeatOnAPortThatCannotKeepUp()
    {
        Bench b;
        QVERIFY(b.portOpen());
        const QByteArray command(4000, 'x');
        b.repeat(QString::fromLatin1(command), 10, 0);
        const QRegularExpression status(u"^Repeating every 10 ms: (\\d+) sent, (\\d+) skipped"_qs);
        qint64 maxHeld = 0;
        QTRY_VERIFY_WITH_TIMEOUT(
            (maxHeld = std::max<qint64>(maxHeld, b.serial->OutBufferCount().value_or(-1)),
             status.match(b.form->repeatStatus()).captured(2).toInt() >= 50),
            30000);
        QVERIFY2(maxHeld <= command.size(), qPrintable(QString::number(maxHeld)));
        QTest::keyClick(b.box(), Qt::Key_Escape);
        QVERIFY(b.pump([&] { return b.serial->OutBufferCount().value_or(-1) == 0; }, 30000));
        b.more();
        QCOMPARE(b.got.size() % command.size(), 0);
        QCOMPARE(quint64(b.got.size()), b.form->lineStatistics().sent());
        QVERIFY(b.got.size() < 20 * command.size()); // far fewer than the ticks
    }

    // A hang-up ends the repeat, told once; the re-open after the replug sends nothing.
    void hangUpStopsTheRepeatOnce()
    {
        reliability::StderrTap errors;
        Bench b;
        QVERIFY(b.portOpen());
        b.repeat(u"P"_qs, 20, 0);
        QVERIFY(b.pump([&] { return b.got.size() >= 3; }, 30000));
        b.pty->closeMaster();
        QTRY_COMPARE_WITH_TIMEOUT(b.form->repeatStatus(), QString(), 10000);
        QTRY_VERIFY(b.form->shownError().startsWith(u"Repeating stopped after "_qs));
        QVERIFY2(b.form->shownError().contains(u"Device vanished"_qs),
                 qPrintable(b.form->shownError()));
        b.replug();
        QTRY_VERIFY_WITH_TIMEOUT(b.portOpen(), 10000);
        b.got.clear();
        QCOMPARE(b.more(), QByteArray());
        QCOMPARE(b.form->repeatStatus(), QString());
        QCOMPARE(errors.count("Repeating stopped"), 1);
    }

    // 10 MiB arrive byte for byte; the window keeps handling events, the port never holds
    // more than the pacing allows, the progress window shows it and closes at the end.
    void tenMiBArriveWhole()
    {
        Bench b;
        QVERIFY(b.portOpen());
        reliability::TickWatch watch;
        const QByteArray content = b.sendFile(kTenMiB);
        QCOMPARE(content.size(), kTenMiB);
        SendFileWindow *w = b.form->sendFileWindow();
        QVERIFY(w && w->isVisible());
        QCOMPARE(w->windowTitle(), u"Sending file"_qs);
        QCOMPARE(w->valueLabel(u"File"_qs)->text(), u"big.bin"_qs);
        qint64 maxHeld = 0;
        QString midway;
        QVERIFY(b.pump(
            [&] {
                maxHeld = std::max<qint64>(maxHeld, b.serial->OutBufferCount().value_or(-1));
                if (midway.isEmpty() && b.got.size() > kTenMiB / 2 && w)
                    midway = w->valueLabel(u"Sent"_qs)->text();
                return !b.sender()->isRunning();
            },
            120000));
        watch.stop();
        qInfo("10 MiB: %s", watch.describe().constData());
        QVERIFY2(!watch.stalled(), watch.describe());
        b.more();
        QCOMPARE(b.got.size(), content.size());
        QVERIFY(b.got == content);
        QVERIFY2(maxHeld <= SendPacing::kMax, qPrintable(QString::number(maxHeld)));
        QVERIFY2(midway.endsWith(u" of 10485760 bytes"_qs), qPrintable(midway));
        QTRY_VERIFY(!b.form->sendFileWindow()); // closed when done
        QCOMPARE(b.form->shownError(), QString());
        QCOMPARE(b.form->lineStatistics().sent(), quint64(0)); // commands only
    }

    // Cancel stops at once: what arrives is what the window says was sent, the file's start.
    void cancelStopsAtOnce()
    {
        Bench b;
        QVERIFY(b.portOpen());
        const QByteArray content = b.sendFile(kTenMiB);
        SendFileWindow *w = b.form->sendFileWindow();
        QVERIFY(w);
        QVERIFY(b.pump([&] { return b.got.size() >= 256 * 1024; }, 60000));
        const qint64 atClick = b.got.size();
        QTest::mouseClick(w->cancelButton(), Qt::LeftButton);
        QVERIFY(!b.sender()->isRunning());
        const QString status = w->valueLabel(u"Status"_qs)->text();
        QVERIFY2(status.startsWith(u"Cancelled: "_qs), qPrintable(status));
        QCOMPARE(w->cancelButton()->text(), u"Close"_qs);
        const qint64 said = Bench::bytesIn(status);
        QVERIFY2(said - atClick <= SendPacing::kMax, qPrintable(status));
        QVERIFY(b.pump([&] { return b.got.size() >= said; }, 10000));
        b.more();
        QCOMPARE(b.got.size(), said);
        QVERIFY(content.startsWith(b.got));
        QAccessibleInterface *a =
            QAccessible::queryAccessibleInterface(w->valueLabel(u"Status"_qs));
        QCOMPARE(a->text(QAccessible::Name), status);
        QCOMPARE(b.form->shownError(), QString());
    }

    // change: what happens midway. A hang-up loses what the port held; a removed file
    // stops the reading and what the port held still goes.
    void stopsMidway_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("told");
        QTest::newRow("hang-up") << u"hang-up"_qs << u"big.bin stopped: the port"_qs;
        QTest::newRow("file removed") << u"removed"_qs << u"was removed while it was being sent"_qs;
    }
    void stopsMidway()
    {
        QFETCH(QString, change);
        QFETCH(QString, told);
        reliability::StderrTap errors;
        Bench b;
        QVERIFY(b.portOpen());
        const QByteArray content = b.sendFile(kTenMiB);
        QVERIFY(b.pump([&] { return b.got.size() >= 256 * 1024; }, 60000));
        if (change == u"hang-up") {
            // Once the window has seen the bytes read so far leave, the report counts them.
            QTRY_VERIFY_WITH_TIMEOUT(b.sender()->sent() >= b.got.size(), 10000);
            b.pty->closeMaster();
        } else {
            QVERIFY(QFile::remove(b.dir.filePath(u"big.bin"_qs)));
        }
        QVERIFY(b.pump([&] { return !b.sender()->isRunning(); }, 30000));
        const QString shown = b.form->shownError();
        QVERIFY2(shown.contains(told), qPrintable(shown));
        const qint64 said = Bench::bytesIn(shown);
        QVERIFY2(said >= b.got.size() && said < kTenMiB, qPrintable(shown));
        QCOMPARE(b.form->sendFileWindow()->valueLabel(u"Status"_qs)->text(), shown);
        if (change == u"removed") {
            QVERIFY(b.pump([&] { return b.got.size() >= said; }, 10000));
            b.more();
            QCOMPARE(b.got.size(), said);
        } else {
            b.replug();
            QTRY_VERIFY_WITH_TIMEOUT(b.portOpen(), 10000);
            b.got.clear();
            QCOMPARE(b.more(), QByteArray()); // the re-open does not start it again
            QVERIFY(!b.sender()->isRunning());
        }
        QVERIFY(content.startsWith(b.got));
        reliability::RunningMonitor::settle();
        QCOMPARE(errors.count(told.toUtf8()), 1);
    }
};

QTEST_MAIN(TestTransmitBulkPty)
#include "tst_transmit_bulk_pty.moc"
