// cmake --install into a fresh prefix gives a desktop program: both programs on the path,
// a valid menu entry whose command and icon are the installed ones, man pages that render,
// AppStream metadata that validates, bash completion that completes, and it starts.
#include "support/tables.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

class TestSimInstall : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_prefix;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_prefix.isValid());
        QProcess install;
        install.setProcessChannelMode(QProcess::MergedChannels);
        install.start(QStringLiteral(COMMTEST_CMAKE),
                      {QStringLiteral("--install"), QStringLiteral(COMMTEST_BUILD_DIR),
                       QStringLiteral("--prefix"), m_prefix.path()});
        QVERIFY(install.waitForFinished(60000));
        QVERIFY2(install.exitCode() == 0, install.readAll().constData());
    }

    void installedFiles_data()
    {
        columns<QString, bool>("path", "executable");
        QTest::newRow("monitor") << QStringLiteral("bin/commtest") << true;
        QTest::newRow("simulated instrument") << QStringLiteral("bin/commtest-sim") << true;
        QTest::newRow("menu entry")
            << QStringLiteral("share/applications/commtest.desktop") << false;
        QTest::newRow("icon") << QStringLiteral("share/icons/hicolor/scalable/apps/commtest.svg")
                              << false;
        QTest::newRow("man page") << QStringLiteral("share/man/man1/commtest.1.gz") << false;
        QTest::newRow("simulator's man page")
            << QStringLiteral("share/man/man1/commtest-sim.1.gz") << false;
        QTest::newRow("AppStream metadata")
            << QStringLiteral("share/metainfo/invalid.commtest.commtest.metainfo.xml") << false;
        QTest::newRow("completion")
            << QStringLiteral("share/bash-completion/completions/commtest") << false;
        QTest::newRow("simulator's completion")
            << QStringLiteral("share/bash-completion/completions/commtest-sim") << false;
        QTest::newRow("copyright") << QStringLiteral("share/doc/commtest/copyright") << false;
        QTest::newRow("changelog") << QStringLiteral("share/doc/commtest/changelog.gz") << false;
    }
    void installedFiles()
    {
        QFETCH(QString, path);
        QFETCH(bool, executable);
        const QFileInfo info(m_prefix.filePath(path));
        QVERIFY2(info.isFile(), qPrintable(info.filePath()));
        QCOMPARE(info.isExecutable(), executable);
        QVERIFY(info.size() > 0);
    }

    // Nothing of the build's insides (static libraries, headers, tests) is installed.
    void onlyProgramsAndDesktopFiles()
    {
        QDirIterator it(m_prefix.path(), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString rel = QDir(m_prefix.path()).relativeFilePath(it.next());
            QVERIFY2(rel.startsWith(QStringLiteral("bin/")) ||
                         rel.startsWith(QStringLiteral("share/")),
                     qPrintable(rel));
            QVERIFY2(!rel.endsWith(QStringLiteral(".a")) && !rel.endsWith(QStringLiteral(".h")),
                     qPrintable(rel));
        }
    }

    void desktopEntryIsValid()
    {
        const QString validator =
            QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        if (validator.isEmpty())
            QSKIP("desktop-file-validate is not installed (Debian package desktop-file-utils)");
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(validator,
                {m_prefix.filePath(QStringLiteral("share/applications/commtest.desktop"))});
        QVERIFY(p.waitForFinished(30000));
        const QByteArray out = p.readAll();
        QVERIFY2(p.exitCode() == 0 && out.isEmpty(), out.constData()); // hints count too
    }

    // The entry names the installed program and the installed icon, not some other file.
    void desktopEntryPointsAtTheInstall()
    {
        QSettings entry(m_prefix.filePath(QStringLiteral("share/applications/commtest.desktop")),
                        QSettings::IniFormat);
        entry.beginGroup(QStringLiteral("Desktop Entry"));
        const QString exec = entry.value(QStringLiteral("Exec")).toString().section(u' ', 0, 0);
        QVERIFY(QFileInfo(m_prefix.filePath(QStringLiteral("bin/") + exec)).isExecutable());
        const QString icon = entry.value(QStringLiteral("Icon")).toString();
        QVERIFY(QFileInfo::exists(m_prefix.filePath(
            QStringLiteral("share/icons/hicolor/scalable/apps/") + icon + QStringLiteral(".svg"))));
    }

    // man -l renders each page without a warning from groff or man.
    void manPagesRender_data()
    {
        columns<QString, QString>("page", "name");
        QTest::newRow("commtest") << QStringLiteral("share/man/man1/commtest.1.gz")
                                  << QStringLiteral("commtest - exercise and monitor");
        QTest::newRow("commtest-sim") << QStringLiteral("share/man/man1/commtest-sim.1.gz")
                                      << QStringLiteral("commtest-sim - a simulated bench");
    }
    void manPagesRender()
    {
        QFETCH(QString, page);
        QFETCH(QString, name);
        const QString man = QStandardPaths::findExecutable(QStringLiteral("man"));
        if (man.isEmpty())
            QSKIP("man is not installed (Debian package man-db)");
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("MANWIDTH"), QStringLiteral("80"));
        env.insert(QStringLiteral("MAN_KEEP_FORMATTING"), QStringLiteral("0"));
        env.insert(QStringLiteral("PAGER"), QStringLiteral("cat"));
        p.setProcessEnvironment(env);
        p.start(man, {QStringLiteral("--warnings"), QStringLiteral("-l"), m_prefix.filePath(page)});
        QVERIFY(p.waitForFinished(60000));
        const QByteArray errors = p.readAllStandardError();
        QVERIFY2(p.exitCode() == 0 && errors.isEmpty(), errors.constData());
        // Plain text: bold and underline as overstrikes would hide the words.
        const QString text = QString::fromUtf8(p.readAllStandardOutput())
                                 .remove(QRegularExpression(QStringLiteral(".\\x08")));
        QVERIFY2(text.contains(name), qPrintable(text.left(400)));
    }

    // Valid for software centres, and tied to the installed menu entry.
    void metainfoValidates()
    {
        const QString path = m_prefix.filePath(
            QStringLiteral("share/metainfo/invalid.commtest.commtest.metainfo.xml"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&f);
        QString id;
        QString launchable;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == u"id")
                id = xml.readElementText();
            else if (xml.name() == u"launchable")
                launchable = xml.readElementText();
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(id + QStringLiteral(".metainfo.xml"), QFileInfo(path).fileName());
        QVERIFY(QFileInfo::exists(
            m_prefix.filePath(QStringLiteral("share/applications/") + launchable)));

        const QString validator = QStandardPaths::findExecutable(QStringLiteral("appstreamcli"));
        if (validator.isEmpty())
            QSKIP("appstreamcli is not installed (Debian package appstream)");
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(validator, {QStringLiteral("validate"), QStringLiteral("--no-net"),
                            QStringLiteral("--pedantic"), QStringLiteral("--no-color"), path});
        QVERIFY(p.waitForFinished(60000));
        const QByteArray out = p.readAll();
        QVERIFY2(p.exitCode() == 0, out.constData());
        for (const QByteArray &line : out.split('\n'))
            QVERIFY2(!line.startsWith("E:") && !line.startsWith("W:"), out.constData());
    }

    // The installed completion, sourced into bash, completes options and values.
    void completionCompletes_data()
    {
        columns<QString, QStringList, QStringList>("file", "words", "expected");
        const QString commtest = QStringLiteral("commtest");
        QTest::newRow("options") << commtest << QStringList{commtest, QStringLiteral("--")}
                                 << QStringList{QStringLiteral("--device-for"),
                                                QStringLiteral("--help"),
                                                QStringLiteral("--list"),
                                                QStringLiteral("--port"),
                                                QStringLiteral("--settings"),
                                                QStringLiteral("--version")};
        QTest::newRow("one option") << commtest << QStringList{commtest, QStringLiteral("--se")}
                                    << QStringList{QStringLiteral("--settings")};
        QTest::newRow("ports of the entries")
            << commtest << QStringList{commtest, QStringLiteral("--port"), QString()}
            << QStringList{QStringLiteral("12"), QStringLiteral("3")};
        QTest::newRow("device-for a port")
            << commtest
            << QStringList{commtest, QStringLiteral("--device-for"), QStringLiteral("1")}
            << QStringList{QStringLiteral("12")};
        QTest::newRow("a settings text")
            << commtest << QStringList{commtest, QStringLiteral("--settings"), QStringLiteral("11")}
            << QStringList{QStringLiteral("115200,n,8,1")};
        QTest::newRow("simulator profiles")
            << QStringLiteral("commtest-sim")
            << QStringList{QStringLiteral("commtest-sim"), QStringLiteral("--profile"), QString()}
            << QStringList{QStringLiteral("frame"), QStringLiteral("line")};
    }
    void completionCompletes()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, words);
        QFETCH(QStringList, expected);
        QTemporaryDir config;
        QVERIFY(QDir(config.path()).mkpath(QStringLiteral("commtest/ports/com7")));
        for (const char *entry : {"com3", "com12", "com04", "notes"}) {
            QFile f(config.filePath(QStringLiteral("commtest/ports/") + QLatin1String(entry)));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QVERIFY(QDir(config.path()).rmdir(QStringLiteral("commtest/ports/com7")));
        QString script = QStringLiteral("source \"$1\"; COMP_WORDS=(");
        for (const QString &w : words)
            script += u'\'' + w + QStringLiteral("' ");
        script += QStringLiteral(
                      "); COMP_CWORD=%1; $(complete -p \"$2\" | sed 's/.*-F \\([^ ]*\\).*/\\1/'); "
                      "printf '%s\\n' \"${COMPREPLY[@]}\"")
                      .arg(words.size() - 1);
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("bash"),
                {QStringLiteral("-c"), script, QStringLiteral("bash"),
                 m_prefix.filePath(QStringLiteral("share/bash-completion/completions/") + file),
                 file});
        QVERIFY(p.waitForFinished(30000));
        QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
        QStringList got =
            QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        got.sort();
        QCOMPARE(got, expected);
    }

    void iconIsAnSvgDocument()
    {
        QFile f(
            m_prefix.filePath(QStringLiteral("share/icons/hicolor/scalable/apps/commtest.svg")));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&f);
        QVERIFY(xml.readNextStartElement());
        QCOMPARE(xml.name(), QStringLiteral("svg"));
        QCOMPARE(xml.namespaceUri(), QStringLiteral("http://www.w3.org/2000/svg"));
        while (!xml.atEnd())
            xml.readNext();
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    }

    // The installed monitor starts on its own and ends cleanly (headless, for half a second).
    void installedMonitorStarts()
    {
        QTemporaryDir home;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.remove(QStringLiteral("XDG_CONFIG_HOME"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("COMMTEST_REPORT_PANEL"), QStringLiteral("1"));
        env.insert(QStringLiteral("COMMTEST_QUIT_AFTER_MS"), QStringLiteral("500"));
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(m_prefix.filePath(QStringLiteral("bin/commtest")), QStringList());
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(p.readAllStandardOutput().contains("\nPortOpen: "));
    }
};

QTEST_GUILESS_MAIN(TestSimInstall)
#include "tst_sim_install.moc"
