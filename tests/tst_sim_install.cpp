// cmake --install into a fresh prefix gives a desktop program: both programs on the path,
// a valid menu entry whose command and icon are the installed ones, and it starts.
#include "support/tables.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
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
