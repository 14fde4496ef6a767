// The capture file: created or continued, written whole, cut back on failure, closed.
#include "capture/capturerecord.h"
#include "capture/fileservice.h"
#include "capture/module5.h"
#include "support/files.h"
#include "support/tables.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

// Records of several lengths, so that a size limit falls inside one of them.
QByteArray sampleRecord(int i)
{
    return captureRecord(QByteArray(), QByteArray(5 + i % 23, char('A' + i % 26)) + '\r');
}

} // namespace

class TestCaptureFile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void createOrAppend_data()
    {
        columns<bool, QByteArray, QByteArray, QByteArray>("present", "before", "header",
                                                          "expectedStart");
        QTest::newRow("absent, empty header")
            << false << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("absent, header written without line end")
            << false << QByteArray() << QByteArray("HEAD") << QByteArray("HEAD");
        QTest::newRow("present, content kept, no header")
            << true << QByteArray("old,[1]\r\npartial") << QByteArray("HEAD")
            << QByteArray("old,[1]\r\npartial");
        QTest::newRow("present and empty") << true << QByteArray() << QByteArray() << QByteArray();
    }
    void createOrAppend()
    {
        QFETCH(bool, present);
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, header);
        QFETCH(QByteArray, expectedStart);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("capture.txt"));
        if (present)
            QVERIFY(writeFile(path, before));

        std::unique_ptr<FileService> fs;
        std::unique_ptr<TextStream> stream;
        QCOMPARE(Module5::OpenCaptureFile(fs, stream, path, header), QString());
        QVERIFY(fs);
        QVERIFY(stream && stream->isOpen());
        const QByteArray a = captureRecord(QByteArray(), "abc\r");
        const QByteArray b = captureRecord(QByteArray("S1,"), "12.5\n");
        QCOMPARE(stream->Write(a), QString());
        QCOMPARE(stream->WriteLine("plain"), QString());
        QCOMPARE(stream->Write(b), QString());
        QCOMPARE(stream->Close(), QString());
        QCOMPARE(readFile(path), expectedStart + a + "plain\r\n" + b);

        // Opened again: continued, never truncated.
        QCOMPARE(Module5::OpenCaptureFile(fs, stream, path, header), QString());
        QCOMPARE(stream->Write(a), QString());
        QCOMPARE(stream->Close(), QString());
        QCOMPARE(readFile(path), expectedStart + a + "plain\r\n" + b + a);
    }

    void everyByteValueSurvives()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("bytes.txt"));
        QByteArray frame;
        for (int c = 0; c < 256; ++c)
            frame += char(c);
        frame += '\n';
        std::unique_ptr<FileService> fs;
        std::unique_ptr<TextStream> stream;
        QCOMPARE(Module5::OpenCaptureFile(fs, stream, path, QByteArray()), QString());
        const QByteArray record = captureRecord(QByteArray(), frame);
        QCOMPARE(stream->Write(record), QString());
        QCOMPARE(stream->Close(), QString());
        const QByteArray content = readFile(path);
        QCOMPARE(content, record);
        QCOMPARE(content.left(256), frame.left(256)); // no byte order mark, no conversion
    }

    void writtenIsReadableAtOnce()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("live.txt"));
        std::unique_ptr<FileService> fs;
        std::unique_ptr<TextStream> stream;
        QCOMPARE(Module5::OpenCaptureFile(fs, stream, path, QByteArray()), QString());
        QByteArray expected;
        for (int i = 0; i < 3; ++i) {
            const QByteArray r = sampleRecord(i);
            QCOMPARE(stream->Write(r), QString());
            expected += r;
            // Another handle sees it while the stream is still open.
            QCOMPARE(readFile(path), expected);
        }
        QCOMPARE(stream->Close(), QString());
        QVERIFY(!stream->isOpen());
        QCOMPARE(stream->Close(), QString()); // a closed stream closes again quietly
        QVERIFY(!stream->Write("x").isEmpty());
    }

    void fullMediumFails()
    {
        std::unique_ptr<FileService> fs;
        std::unique_ptr<TextStream> stream;
        QCOMPARE(Module5::OpenCaptureFile(fs, stream, QStringLiteral("/dev/full"), QByteArray()),
                 QString());
        const QString error = stream->Write(sampleRecord(1));
        QVERIFY2(error.contains(QStringLiteral("No space")), qPrintable(error));
        // Nothing went in, so nothing needs cutting: the error is just the reason.
        QVERIFY2(!error.contains(QStringLiteral("could not be removed")), qPrintable(error));
        QCOMPARE(stream->Close(), QString());
    }

    void sizeLimitLeavesWholeRecords_data()
    {
        columns<QByteArray, int, int>("before", "limit", "perWrite");
        QTest::newRow("new file") << QByteArray() << 1000 << 1;
        QTest::newRow("continued file") << QByteArray("kept,[1]\r\n") << 1500 << 1;
        QTest::newRow("limit inside first record") << QByteArray() << 7 << 1;
        QTest::newRow("five records a write") << QByteArray() << 1000 << 5;
        QTest::newRow("five a write, continued") << QByteArray("kept,[1]\r\n") << 1500 << 5;
    }
    void sizeLimitLeavesWholeRecords()
    {
        QFETCH(QByteArray, before);
        QFETCH(int, limit);
        QFETCH(int, perWrite);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("limited.txt"));
        if (!before.isEmpty())
            QVERIFY(writeFile(path, before));

        int report[2] = {-1, -1};
        QVERIFY(::pipe(report) == 0);
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            // The child writes until the limit stops it; the default SIGXFSZ would kill it.
            ::close(report[0]);
            rlimit rl{rlim_t(limit), rlim_t(limit)};
            ::setrlimit(RLIMIT_FSIZE, &rl);
            ::signal(SIGXFSZ, SIG_DFL); // as a fresh program has it; the writer must change it
            std::unique_ptr<FileService> fs;
            std::unique_ptr<TextStream> stream;
            int written = 0;
            int failures = 0;
            QString lastError;
            if (Module5::OpenCaptureFile(fs, stream, path, QByteArray()).isEmpty()) {
                for (int i = 0; i < 200 && failures < 3; ++i) {
                    QByteArray text;
                    std::vector<qsizetype> ends;
                    for (int k = 0; k < perWrite; ++k) {
                        text += sampleRecord(written + k);
                        ends.push_back(text.size());
                    }
                    qsizetype whole = 0;
                    const QString error = stream->Write(text, ends, &whole);
                    written += int(whole);
                    if (!error.isEmpty())
                        ++failures, lastError = error;
                }
                stream->Close();
            }
            const QByteArray out = QByteArray::number(written) + ' ' +
                                   QByteArray::number(failures) + ' ' + lastError.toUtf8();
            [[maybe_unused]] auto n = ::write(report[1], out.constData(), size_t(out.size()));
            ::_exit(0);
        }
        ::close(report[1]);
        QByteArray answer;
        char buf[512];
        for (ssize_t n; (n = ::read(report[0], buf, sizeof buf)) > 0;)
            answer.append(buf, n);
        ::close(report[0]);
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY2(WIFEXITED(status), "the writer was killed (SIGXFSZ not ignored?)");
        QCOMPARE(WEXITSTATUS(status), 0);

        const QList<QByteArray> parts = answer.split(' ');
        QVERIFY2(parts.size() >= 3, answer.constData());
        const int written = parts[0].toInt();
        QCOMPARE(parts[1].toInt(), 3); // every write past the limit fails
        QVERIFY2(answer.contains("too large"), answer.constData());
        QVERIFY2(!answer.contains("could not be removed"), answer.constData());

        QByteArray expected = before;
        for (int i = 0; i < written; ++i)
            expected += sampleRecord(i);
        QCOMPARE(readFile(path), expected);
        // The next record would not have fitted: the limit stopped it, not something else.
        QVERIFY(expected.size() + sampleRecord(written).size() > limit);
    }

    void openFails_data()
    {
        columns<QString, QString>("kind", "reason");
        QTest::newRow("missing folder")
            << QStringLiteral("missing") << QStringLiteral("No such file");
        QTest::newRow("a folder") << QStringLiteral("folder") << QStringLiteral("Is a directory");
        QTest::newRow("pipe without reader")
            << QStringLiteral("fifo") << QStringLiteral("No such device");
        QTest::newRow("no permission")
            << QStringLiteral("readonly") << QStringLiteral("Permission denied");
        QTest::newRow("empty path") << QStringLiteral("empty") << QStringLiteral("No such file");
    }
    void openFails()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        QString path;
        if (kind == u"missing") {
            path = dir.filePath(QStringLiteral("no/such/folder/capture.txt"));
        } else if (kind == u"folder") {
            path = dir.filePath(QStringLiteral("sub"));
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
        } else if (kind == u"fifo") {
            path = dir.filePath(QStringLiteral("pipe"));
            QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        } else if (kind == u"readonly") {
            if (::geteuid() == 0)
                QSKIP("root is not refused by file permissions");
            path = dir.filePath(QStringLiteral("ro.txt"));
            QVERIFY(writeFile(path, "x"));
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
        }

        // A stream already open must stay as it was.
        const QString keptPath = dir.filePath(QStringLiteral("kept.txt"));
        std::unique_ptr<FileService> fs;
        std::unique_ptr<TextStream> stream;
        QCOMPARE(Module5::OpenCaptureFile(fs, stream, keptPath, QByteArray()), QString());
        TextStream *const kept = stream.get();

        const QString error = Module5::OpenCaptureFile(fs, stream, path, QByteArray());
        QVERIFY2(error.contains(reason), qPrintable(error));
        QVERIFY2(path.isEmpty() || error.contains(path), qPrintable(error));
        QCOMPARE(stream.get(), kept);
        QCOMPARE(stream->Write("still,[1]\r\n"), QString());
        QCOMPARE(stream->Close(), QString());
        QCOMPARE(readFile(keptPath), QByteArray("still,[1]\r\n"));
    }

    void fileExistsOnlyForFiles()
    {
        QTemporaryDir dir;
        FileService fs;
        const QString file = dir.filePath(QStringLiteral("f"));
        QVERIFY(!fs.FileExists(file));
        QVERIFY(writeFile(file, ""));
        QVERIFY(fs.FileExists(file));
        QVERIFY(!fs.FileExists(dir.path()));
        QVERIFY(!fs.FileExists(QString()));
        // Creating over an existing file refuses instead of truncating it.
        QVERIFY(writeFile(file, "keep"));
        const StreamResult r = fs.CreateTextFile(file);
        QVERIFY(!r.stream);
        QCOMPARE(r.errorNumber, EEXIST);
        QCOMPARE(readFile(file), QByteArray("keep"));
    }
};

QTEST_APPLESS_MAIN(TestCaptureFile)
#include "tst_capture_file.moc"
