// The capture set-up through the window: options and save dialogs answered from scripts,
// file, label, and records written while the dialogs are up; then the real options dialog
// on its own.
#include "capture/capturerecord.h"
#include "capture/form_outputcfg.h"
#include "port/serialcontrol.h"
#include "support/files.h"
#include "support/monitor.h"
#include "support/tables.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <utility>

namespace {

// Whether this process still has a descriptor open on path.
bool fileIsOpenHere(const QString &path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd :
         fds.entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)) {
        if (QFile::symLinkTarget(fds.filePath(fd)) == target)
            return true;
    }
    return false;
}

// Options prompts left with no answer, across one test function.
int g_unexpectedPrompts = 0;

QColor buttonFace()
{
    return QApplication::palette().color(QPalette::Button);
}

// Clicks a check box on its indicator, as the operator does; the empty space right of a
// short caption does not toggle it.
void clickBox(QCheckBox *box)
{
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
}

// Shown, as the operator has it; the options prompts it leaves unanswered are counted.
struct Window : Monitor
{
    explicit Window(std::unique_ptr<SerialControl> control = std::make_unique<FakeSerialControl>())
        : Monitor(std::move(control))
    {
        form->show();
        (void)QTest::qWaitForWindowExposed(form.get());
    }
    ~Window() { g_unexpectedPrompts += options->unexpected; }
    QCheckBox *chkFile() const { return child<QCheckBox>("chk_file"); }
    QLabel *label() const { return form->findChild<QLabel *>(QStringLiteral("lbl_filename")); }
    QColor labelColour() const { return label()->palette().color(label()->backgroundRole()); }
    // One operator click on "output to file", the options answered with answer and the
    // save dialog with fileName.
    void setUp(const OutputOptions &answer, const QString &fileName)
    {
        options->answers.push_back(answer);
        save->answers.append(fileName);
        clickBox(chkFile());
    }
    // Capture on with the dialog's initial options; the box must be unchecked before.
    void captureTo(const QString &path) { setUp(FakeOptionsPrompt::ok(), path); }
    // Unchecks the box without running its handler, so capture goes on and the next click
    // starts another set-up.
    void uncheckQuietly() const
    {
        const QSignalBlocker blocker(chkFile());
        chkFile()->setChecked(false);
    }
    QString labelRead() const
    {
        return QAccessible::queryAccessibleInterface(label())->text(QAccessible::Name);
    }
    void dismissError() const
    {
        if (auto *box = form->findChild<QMessageBox *>(QStringLiteral("errorBox")))
            box->hide();
    }
};

} // namespace

class TestCaptureSetup : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        // The button-face colour must differ from white, or the label tests prove nothing.
        QVERIFY(QApplication::palette().color(QPalette::Button) != QColor(Qt::white));
    }
    void cleanup()
    {
        const int unexpected = std::exchange(g_unexpectedPrompts, 0);
        QCOMPARE(unexpected, 0);
    }

    void firstSetUpWithDefaults()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("capture.txt"));
        Window w;
        QCOMPARE(w.labelColour(), buttonFace());
        QCOMPARE(w.labelRead(), QStringLiteral("No capture file"));
        // Nothing is opened before the save dialog has answered.
        bool existedDuringOptions = true;
        w.options->whileShown = [&] { existedDuringOptions = QFile::exists(path); };
        w.captureTo(path);
        QVERIFY(!existedDuringOptions);
        QCOMPARE(w.options->shown, 1); // one click, one set-up
        QCOMPARE(w.options->owner, w.form.get());
        QCOMPARE(w.save->shown, 1);
        QCOMPARE(w.save->owner, w.form.get());
        QVERIFY(w.form->sourceString().isEmpty());
        QCOMPARE(w.form->includeTimestamp(), true);
        QCOMPARE(w.form->captureEnabled(), true);
        QVERIFY(w.chkFile()->isChecked());
        QCOMPARE(w.label()->text(), path);
        QCOMPARE(w.labelRead(), path);
        QCOMPARE(w.labelColour(), QColor(Qt::white));
        QCOMPARE(readFile(path), QByteArray()); // created empty

        // Each record is in the file as soon as WriteToFile returns.
        w.form->WriteToFile(QByteArray(), "abc\r");
        QCOMPARE(readFile(path), QByteArray("abc,[97:98:99:13]\r\n"));
        w.form->WriteToFile("12/7/2026 2:03:05 PM, S1,", "12.5\n");
        QCOMPARE(
            readFile(path),
            QByteArray("abc,[97:98:99:13]\r\n12/7/2026 2:03:05 PM, S1,12.5,[49:50:46:53:10]\r\n"));
    }

    void options_data()
    {
        columns<bool, QString, bool, QString>("sourceChecked", "typed", "timestampChecked",
                                              "expectedSource");
        QTest::newRow("source trimmed")
            << true << QStringLiteral("  S1 bench  ") << true << QStringLiteral("S1 bench");
        QTest::newRow("source blanks only") << true << QStringLiteral("   ") << true << QString();
        QTest::newRow("source tab kept")
            << true << QStringLiteral(" \tS1 ") << true << QStringLiteral("\tS1");
        QTest::newRow("text typed, source unchecked")
            << false << QStringLiteral("S1") << true << QString();
        QTest::newRow("timestamp unchecked") << false << QString() << false << QString();
        QTest::newRow("source without timestamp")
            << true << QStringLiteral("S2") << false << QStringLiteral("S2");
    }
    void options()
    {
        QFETCH(bool, sourceChecked);
        QFETCH(QString, typed);
        QFETCH(bool, timestampChecked);
        QFETCH(QString, expectedSource);
        QTemporaryDir dir;
        Window w;
        w.setUp({.bIsOk = true,
                 .chk_TimeStamp = timestampChecked,
                 .chk_Source = sourceChecked,
                 .txt_source = typed},
                dir.filePath(QStringLiteral("c.txt")));
        QCOMPARE(w.form->sourceString(), expectedSource);
        QCOMPARE(w.form->includeTimestamp(), timestampChecked);
        QCOMPARE(w.form->captureEnabled(), true);
    }

    void notOk_data()
    {
        QTest::addColumn<bool>("captureBefore");
        QTest::newRow("first set-up") << false;
        QTest::newRow("while capturing") << true;
    }
    void notOk()
    {
        QFETCH(bool, captureBefore);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("first.txt"));
        Window w;
        if (captureBefore) {
            // A source and no timestamp, so that options taken from the answer would show.
            w.setUp({.bIsOk = true,
                     .chk_TimeStamp = false,
                     .chk_Source = true,
                     .txt_source = QStringLiteral("S9")},
                    path);
            QCOMPARE(w.form->captureEnabled(), true);
            w.uncheckQuietly();
        }
        const int shownBefore = w.save->shown;
        const QString sourceBefore = w.form->sourceString();
        const bool timestampBefore = w.form->includeTimestamp();
        const bool captureEnabledBefore = w.form->captureEnabled();
        const QString labelBefore = w.label()->text();

        // Options as a Cancel leaves them, which must not be taken.
        w.options->answers.push_back({.bIsOk = false,
                                      .chk_TimeStamp = true,
                                      .chk_Source = true,
                                      .txt_source = QStringLiteral("X")});
        clickBox(w.chkFile());

        QCOMPARE(w.options->shown, captureBefore ? 2 : 1);
        QCOMPARE(w.save->shown, shownBefore); // no save dialog
        QVERIFY(w.chkFile()->isChecked());
        QCOMPARE(w.form->sourceString(), sourceBefore);
        QCOMPARE(w.form->includeTimestamp(), timestampBefore);
        QCOMPARE(w.form->captureEnabled(), captureEnabledBefore);
        QCOMPARE(w.label()->text(), labelBefore);
        if (captureBefore) {
            w.form->WriteToFile(QByteArray(), "x\r");
            QCOMPARE(readFile(path), QByteArray("x,[120:13]\r\n"));
        }
    }

    void emptyFileName_data()
    {
        QTest::addColumn<bool>("captureBefore");
        QTest::newRow("first set-up") << false;
        QTest::newRow("capture running") << true;
    }
    void emptyFileName()
    {
        QFETCH(bool, captureBefore);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("running.txt"));
        Window w;
        if (captureBefore) {
            w.captureTo(path);
            w.uncheckQuietly();
        }
        w.setUp({.bIsOk = true,
                 .chk_TimeStamp = false,
                 .chk_Source = true,
                 .txt_source = QStringLiteral(" S3 ")},
                QString());
        // The new options are in place either way.
        QCOMPARE(w.form->sourceString(), QStringLiteral("S3"));
        QCOMPARE(w.form->includeTimestamp(), false);
        if (!captureBefore) {
            QVERIFY(!w.chkFile()->isChecked());
            QVERIFY(w.label()->text().isEmpty());
            QCOMPARE(w.labelColour(), buttonFace());
            QCOMPARE(w.form->captureEnabled(), false);
            QCOMPARE(w.options->shown, 1); // the nested run on unchecking asks nothing
        } else {
            // No file chosen leaves the running capture alone.
            QVERIFY(w.chkFile()->isChecked());
            QCOMPARE(w.label()->text(), path);
            QCOMPARE(w.form->captureEnabled(), true);
            w.form->WriteToFile(QByteArray(), "y\n");
            QCOMPARE(readFile(path), QByteArray("y,[121:10]\r\n"));
        }
    }

    void pathWithBlanks_data()
    {
        columns<QString, QString>("answer", "shown");
        QTest::newRow("trailing blank") << QStringLiteral("dir/name with blanks.txt ")
                                        << QStringLiteral("dir/name with blanks.txt");
        QTest::newRow("leading and trailing blanks")
            << QStringLiteral("  lead.txt  ") << QStringLiteral("lead.txt");
    }
    void pathWithBlanks()
    {
        QFETCH(QString, answer);
        QFETCH(QString, shown);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("dir")));
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path())); // relative answers land in the temporary folder
        {
            Window w;
            w.captureTo(answer);
            QCOMPARE(w.label()->text(), shown);
            QCOMPARE(w.labelColour(), QColor(Qt::white));
            w.form->WriteToFile(QByteArray(), "z\r");
            // Opened as returned, blanks included; nothing under the trimmed name.
            QCOMPARE(readFile(dir.filePath(answer)), QByteArray("z,[122:13]\r\n"));
            QVERIFY(!QFile::exists(dir.filePath(shown)));
        }
        QDir::setCurrent(previous);
    }

    void uncheckingEndsCapture()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("c.txt"));
        Window w;
        w.captureTo(path);
        w.form->WriteToFile(QByteArray(), "a\r");
        QVERIFY(fileIsOpenHere(path));
        clickBox(w.chkFile());
        QVERIFY(!w.chkFile()->isChecked());
        QCOMPARE(w.form->captureEnabled(), false);
        QVERIFY(w.label()->text().isEmpty());
        QCOMPARE(w.labelColour(), buttonFace());
        QCOMPARE(w.labelRead(), QStringLiteral("No capture file"));
        QVERIFY(!fileIsOpenHere(path));
        w.form->WriteToFile(QByteArray(), "b\r");
        QCOMPARE(readFile(path), QByteArray("a,[97:13]\r\n"));
        QCOMPARE(w.options->shown, 1);
        QCOMPARE(w.save->shown, 1);
    }

    void anotherFileClosesThePrevious()
    {
        QTemporaryDir dir;
        const QString first = dir.filePath(QStringLiteral("first.txt"));
        const QString second = dir.filePath(QStringLiteral("second.txt"));
        Window w;
        w.captureTo(first);
        w.form->WriteToFile(QByteArray(), "1\r");
        w.uncheckQuietly();
        w.captureTo(second);
        QCOMPARE(w.label()->text(), second);
        QVERIFY(!fileIsOpenHere(first));
        QVERIFY(fileIsOpenHere(second));
        w.form->WriteToFile(QByteArray(), "2\r");
        QCOMPARE(readFile(first), QByteArray("1,[49:13]\r\n"));
        QCOMPARE(readFile(second), QByteArray("2,[50:13]\r\n"));
    }

    void openFails_data()
    {
        QTest::addColumn<bool>("captureBefore");
        QTest::newRow("no capture before") << false;
        QTest::newRow("capture running") << true;
    }
    void openFails()
    {
        QFETCH(bool, captureBefore);
        QTemporaryDir dir;
        const QString running = dir.filePath(QStringLiteral("running.txt"));
        const QString missing = dir.filePath(QStringLiteral("no/such/folder/c.txt"));
        Window w;
        if (captureBefore) {
            w.captureTo(running);
            w.uncheckQuietly();
        }
        w.captureTo(missing);
        const QString error = w.form->shownError();
        QVERIFY2(error.contains(missing), qPrintable(error));
        QVERIFY2(error.contains(QStringLiteral("No such file or directory")), qPrintable(error));
        QCOMPARE(w.form->captureEnabled(), captureBefore);
        QCOMPARE(w.label()->text(), captureBefore ? running : QString());
        // The window goes on: a record goes to the running file, or nowhere.
        w.form->WriteToFile(QByteArray(), "k\r");
        if (captureBefore)
            QCOMPARE(readFile(running), QByteArray("k,[107:13]\r\n"));
        QVERIFY(!QFile::exists(missing));
    }

    void writeFailureStopsCaptureOnce()
    {
        Window w;
        w.captureTo(QStringLiteral("/dev/full"));
        QCOMPARE(w.form->captureEnabled(), true);
        w.form->WriteToFile(QByteArray(), "abc\r");
        const QString error = w.form->shownError();
        QVERIFY2(error.contains(QStringLiteral("/dev/full")), qPrintable(error));
        QVERIFY2(error.contains(QStringLiteral("No space left")), qPrintable(error));
        QCOMPARE(w.form->captureEnabled(), false);
        QVERIFY(!w.chkFile()->isChecked());
        QVERIFY(w.label()->text().isEmpty());
        QCOMPARE(w.labelColour(), buttonFace());
        // Later frames do not bring the message back.
        w.dismissError();
        for (int i = 0; i < 5; ++i)
            w.form->WriteToFile(QByteArray(), "def\r");
        QVERIFY(w.form->shownError().isEmpty());
        QCOMPARE(w.options->shown, 1);
        // Set up again, the operator captures once more.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("again.txt"));
        w.captureTo(path);
        w.form->WriteToFile(QByteArray(), "g\r");
        QCOMPARE(readFile(path), QByteArray("g,[103:13]\r\n"));
    }

    void recordsWhileDialogsAreUp()
    {
        QTemporaryDir dir;
        const QString first = dir.filePath(QStringLiteral("first.txt"));
        const QString second = dir.filePath(QStringLiteral("second.txt"));
        Window w;
        w.captureTo(first);
        w.uncheckQuietly();
        QByteArray seenDuringOptions;
        w.save->whileShown = [&] { w.form->WriteToFile(QByteArray(), "during save\r"); };
        w.options->whileShown = [&] {
            // A frame completed while the options dialog waits goes to the open file.
            w.form->WriteToFile(QByteArray(), "during options\r");
            seenDuringOptions = readFile(first);
        };
        w.captureTo(second);
        w.form->WriteToFile(QByteArray(), "after\r");
        QCOMPARE(seenDuringOptions, captureRecord(QByteArray(), "during options\r"));
        QCOMPARE(readFile(first), captureRecord(QByteArray(), "during options\r") +
                                      captureRecord(QByteArray(), "during save\r"));
        QCOMPARE(readFile(second), captureRecord(QByteArray(), "after\r"));
    }

    void receivedFramesWhileDialogsAreUp_data()
    {
        QTest::addColumn<bool>("captureBefore");
        QTest::newRow("capture running") << true;
        QTest::newRow("first set-up") << false;
    }
    void receivedFramesWhileDialogsAreUp()
    {
        QFETCH(bool, captureBefore);
        QTemporaryDir dir;
        const QString first = dir.filePath(QStringLiteral("first.txt"));
        const QString second = dir.filePath(QStringLiteral("second.txt"));
        Window w;
        w.monitor(true);
        if (captureBefore) {
            w.captureTo(first);
            w.uncheckQuietly();
        }
        QByteArray seenDuringOptions;
        w.save->whileShown = [&] { w.fake->receive("cd\r"); };
        w.options->whileShown = [&] {
            w.fake->receive("ab\r");
            seenDuringOptions = readFile(first);
        };
        w.captureTo(second);
        w.fake->receive("ef\r");
        const QByteArray ab = captureRecord(QByteArray(), "ab\r");
        const QByteArray cd = captureRecord(QByteArray(), "cd\r");
        const QByteArray ef = captureRecord(QByteArray(), "ef\r");
        if (captureBefore) {
            QCOMPARE(seenDuringOptions, ab);
            QCOMPARE(readFile(first), ab + cd);
        } else {
            QVERIFY(!QFile::exists(first));
        }
        QCOMPARE(readFile(second), ef); // frames before the file was open are not in it
        QVERIFY(w.form->frameBuffer().isEmpty());
    }

    void portEventsWhileOptionsDialogWaits()
    {
        // The real serial layer on a pty: its events are handled inside the set-up's wait.
        PtyPort p(4);
        QVERIFY(p.ok());
        QTemporaryDir dir;
        const QString first = dir.filePath(QStringLiteral("first.txt"));
        Window w(std::make_unique<SerialControl>());
        QVERIFY(w.form->serial()->PortOpen().value_or(false));
        w.monitor(true);
        w.captureTo(first);
        w.uncheckQuietly();
        const QByteArray expected =
            captureRecord(QByteArray(), "ab\r") + captureRecord(QByteArray(), "12\n");
        bool wroteWhileUp = false;
        w.options->whileShown = [&] {
            QVERIFY(p.pty->write("ab\r12\n"));
            QTRY_COMPARE_WITH_TIMEOUT(readFile(first), expected, 10000);
            wroteWhileUp = true;
        };
        w.setUp(OutputOptions{}, QString()); // cancelled
        QVERIFY(wroteWhileUp);
        QCOMPARE(w.form->captureEnabled(), true);
    }

    void writeFailureWhileOptionsDialogIsUp()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("new.txt"));
        Window w;
        w.captureTo(QStringLiteral("/dev/full"));
        w.uncheckQuietly();
        // Fails: capture stops, the box is unchecked.
        w.options->whileShown = [&] { w.form->WriteToFile(QByteArray(), "lost\r"); };
        w.captureTo(path);
        // The set-up the operator finished still turns capture on, box and all.
        QVERIFY(w.form->shownError().contains(QStringLiteral("/dev/full")));
        QCOMPARE(w.form->captureEnabled(), true);
        QVERIFY(w.chkFile()->isChecked());
        QCOMPARE(w.label()->text(), path);
        QCOMPARE(w.options->shown, 2);
        w.form->WriteToFile(QByteArray(), "kept\r");
        QCOMPARE(readFile(path), captureRecord(QByteArray(), "kept\r"));
    }

    void closingTheWindowClosesTheFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("c.txt"));
        QByteArray expected;
        {
            Window w;
            w.captureTo(path);
            for (int i = 0; i < 50; ++i) {
                const QByteArray frame = QByteArray::number(i) + '\r';
                w.form->WriteToFile(QByteArray(), frame);
                expected += captureRecord(QByteArray(), frame);
            }
            QTest::mouseClick(w.form->findChild<QPushButton *>(QStringLiteral("com_Close")),
                              Qt::LeftButton);
            QVERIFY(!w.form->isVisible());
            QVERIFY(!fileIsOpenHere(path));
            QVERIFY(w.form->shownError().isEmpty());
        }
        QCOMPARE(readFile(path), expected);
    }

    // The real options dialog on its own, through the prompt the window uses by default:
    // every set-up gets a fresh dialog, modal over its owner, and only OK counts.
    void realOptionsDialog_data()
    {
        columns<QString, bool>("wayOut", "ok");
        QTest::newRow("OK") << QStringLiteral("ok") << true;
        QTest::newRow("Cancel") << QStringLiteral("cancel") << false;
        QTest::newRow("Escape") << QStringLiteral("escape") << false;
        QTest::newRow("close box") << QStringLiteral("close") << false;
    }
    void realOptionsDialog()
    {
        QFETCH(QString, wayOut);
        QFETCH(bool, ok);
        QWidget owner;
        owner.show();
        OutputCfgPrompt prompt;
        QList<OutputOptions> answers;
        QStringList trouble;
        for (int round = 0; round < 2; ++round) {
            // Queued before the modal wait begins, so it runs inside it with the dialog up.
            QTimer::singleShot(0, &owner, [&, round] {
                auto *d = owner.findChild<Form_OutputCfg *>();
                if (!d)
                    return trouble.append(QStringLiteral("no dialog"));
                if (QApplication::activeModalWidget() != d)
                    trouble << QStringLiteral("not modal");
                if (!d->chk_TimeStamp->isChecked() || d->chk_Source->isChecked() ||
                    d->txt_source->isEnabled() || !d->txt_source->text().isEmpty())
                    trouble << QStringLiteral("not fresh in round %1").arg(round);
                if (round == 1)
                    return QTest::mouseClick(d->cmd_Cancel, Qt::LeftButton);
                clickBox(d->chk_TimeStamp);
                clickBox(d->chk_Source);
                QTest::keyClicks(d->txt_source, QStringLiteral(" S1 "));
                clickBox(d->chk_Source); // off again: the text stays, disabled
                if (d->txt_source->isEnabled() || d->txt_source->text() != u" S1 ")
                    trouble << QStringLiteral("source field while unchecked");
                clickBox(d->chk_Source);
                if (wayOut == u"ok")
                    QTest::mouseClick(d->cmd_ok, Qt::LeftButton);
                else if (wayOut == u"cancel")
                    QTest::mouseClick(d->cmd_Cancel, Qt::LeftButton);
                else if (wayOut == u"escape")
                    QTest::keyClick(d, Qt::Key_Escape);
                else
                    d->close();
            });
            answers << prompt.ShowOptions(&owner);
        }
        QCOMPARE(trouble, QStringList());
        QCOMPARE(answers[0].bIsOk, ok);
        QCOMPARE(answers[0].chk_TimeStamp, false);
        QCOMPARE(answers[0].chk_Source, true);
        QCOMPARE(answers[0].txt_source, QStringLiteral(" S1 "));
        QCOMPARE(answers[1].bIsOk, false);
        QVERIFY(!owner.findChild<Form_OutputCfg *>()); // each dialog is destroyed after use
    }

    void realOptionsDialogLayout()
    {
        QWidget owner;
        QFont ownerFont = owner.font();
        ownerFont.setPointSizeF(7.5);
        owner.setFont(ownerFont);
        Form_OutputCfg d(&owner);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QCOMPARE(d.windowTitle(), QStringLiteral("Write to File Configuration"));
        QCOMPARE(d.lbl_intro->text(),
                 QStringLiteral("Additional information call be included in the output file.  "
                                "Please check the items that you would like to include."));
        QCOMPARE(d.chk_TimeStamp->text(), QStringLiteral("Include timestamp"));
        QCOMPARE(d.chk_Source->text(), QStringLiteral("Include a source string"));
        QCOMPARE(d.cmd_ok->text(), QStringLiteral("&OK"));
        QCOMPARE(d.cmd_Cancel->text(), QStringLiteral("&Cancel"));
        QVERIFY(!d.bIsOk);
        const qreal dpi = d.screen()->logicalDotsPerInchY();
        auto tw = [dpi](int v) { return int(std::lround(v * dpi / 1440.0)); };
        QCOMPARE(d.size(), QSize(tw(4575), tw(2220)));
        QCOMPARE(d.lbl_intro->geometry(), QRect(tw(90), tw(60), tw(4425), tw(615)));
        QCOMPARE(d.chk_TimeStamp->geometry(), QRect(tw(210), tw(810), tw(3495), tw(285)));
        QCOMPARE(d.chk_Source->geometry(), QRect(tw(210), tw(1170), tw(2145), tw(285)));
        QCOMPARE(d.txt_source->geometry(), QRect(tw(2280), tw(1170), tw(2175), tw(285)));
        QCOMPARE(d.cmd_ok->geometry(), QRect(tw(2340), tw(1770), tw(1005), tw(325)));
        QCOMPARE(d.cmd_Cancel->geometry(), QRect(tw(3450), tw(1770), tw(1005), tw(325)));
        QCOMPARE(d.font(), owner.font());
        // Focus order, starting at the timestamp box.
        QCOMPARE(d.focusWidget(), d.chk_TimeStamp);
        QCOMPARE(d.chk_TimeStamp->nextInFocusChain(), d.chk_Source);
        QCOMPARE(d.chk_Source->nextInFocusChain(), d.txt_source);
        QCOMPARE(d.txt_source->nextInFocusChain(), d.cmd_ok);
        QCOMPARE(d.cmd_ok->nextInFocusChain(), d.cmd_Cancel);
        // The intro's two lines fit its box.
        QVERIFY(d.lbl_intro->heightForWidth(d.lbl_intro->width()) <= d.lbl_intro->height());
    }
};

QTEST_MAIN(TestCaptureSetup)
#include "tst_capture_setup.moc"
