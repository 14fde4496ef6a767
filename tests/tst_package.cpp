// The Debian package as cpack makes it: lintian finds no error and every warning left is
// named in the README; the dependencies come from the libraries the programs link; the
// licence, copyright and changelog are where Debian looks for them.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray run(const QString &program, const QStringList &args, int *status = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(240000)) {
        p.kill();
        p.waitForFinished();
    }
    if (status)
        *status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAll();
}

} // namespace

class TestPackage : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString m_deb;

private Q_SLOTS:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("dpkg-shlibdeps")).isEmpty())
            QSKIP("dpkg-shlibdeps is not installed (Debian package dpkg-dev)");
        QVERIFY(m_dir.isValid());
        int status = 0;
        const QByteArray out = run(QStringLiteral(COMMTEST_CPACK),
                                   {QStringLiteral("-G"), QStringLiteral("DEB"),
                                    QStringLiteral("-B"), m_dir.path(), QStringLiteral("--config"),
                                    QStringLiteral(COMMTEST_BUILD_DIR "/CPackConfig.cmake")},
                                   &status);
        QVERIFY2(status == 0, out.constData());
        const QStringList debs = QDir(m_dir.path()).entryList({QStringLiteral("*.deb")});
        QCOMPARE(debs.size(), 1);
        m_deb = m_dir.filePath(debs.first());
    }

    // dpkg-shlibdeps named the libraries' packages, so apt pulls them in.
    void dependsOnTheLinkedLibraries()
    {
        const QString depends = QString::fromUtf8(run(
            QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_deb, QStringLiteral("Depends")}));
        for (const char *package : {"libc6", "libqt6core6", "libqt6widgets6", "libqt6serialport6",
                                    "libqt6network6", "libtelnet2", "qt6-qpa-plugins"})
            QVERIFY2(depends.contains(QLatin1String(package)), qPrintable(depends));
    }

    void documentsWhereDebianLooks()
    {
        const QString files =
            QString::fromUtf8(run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), m_deb}));
        for (const char *path :
             {"./usr/share/doc/commtest/copyright", "./usr/share/doc/commtest/changelog.gz",
              "./usr/share/man/man1/commtest.1.gz", "./usr/share/man/man1/commtest-sim.1.gz"})
            QVERIFY2(files.contains(QLatin1String(path)), path);
    }

    // A new version needs its changelog entry: the newest one names the package's version.
    void changelogNamesThisVersion()
    {
        const QByteArray version = run(QStringLiteral("dpkg-deb"),
                                       {QStringLiteral("-f"), m_deb, QStringLiteral("Version")})
                                       .trimmed();
        QFile changelog(QStringLiteral(COMMTEST_SOURCE_DIR "/dist/changelog"));
        QVERIFY(changelog.open(QIODevice::ReadOnly));
        const QByteArray first = changelog.readLine();
        QVERIFY2(first.startsWith("commtest (" + version + ") "), first.constData());
    }

    void lintianFindsNoError()
    {
        const QString lintian = QStandardPaths::findExecutable(QStringLiteral("lintian"));
        if (lintian.isEmpty())
            QSKIP("lintian is not installed (Debian package lintian)");
        const QString out = QString::fromUtf8(run(lintian, {QStringLiteral("--no-cfg"), m_deb}));
        QFile readme(QStringLiteral(COMMTEST_SOURCE_DIR "/README.md"));
        QVERIFY(readme.open(QIODevice::ReadOnly));
        const QString known = QString::fromUtf8(readme.readAll());
        static const QRegularExpression tag(QStringLiteral("^([EW]): commtest[^:]*: (\\S+)"),
                                            QRegularExpression::MultilineOption);
        for (auto it = tag.globalMatch(out); it.hasNext();) {
            const auto m = it.next();
            QVERIFY2(m.captured(1) != u"E", qPrintable(out));
            // A warning left must be explained where users read about the package.
            QVERIFY2(known.contains(u'`' + m.captured(2) + u'`'), qPrintable(m.captured(0)));
        }
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
