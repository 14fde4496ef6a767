#pragma once
// Certificates for TLS tests, made at run time with the openssl command in a folder of
// their own, so none is kept in the repository to expire there. EC P-256 keys: quick.
//
//   ca.crt          the test CA           other-ca.crt  a CA nobody trusts here
//   server.crt/key  localhost and 127.0.0.1, signed by the CA
//   wrong-host.crt  elsewhere.invalid, signed by the CA, same key
//   expired.crt     localhost, signed by the CA, valid in January 2020 only
//   self-signed.crt localhost, same key, signed by itself
//   client.crt/key  self-signed, CN=commtest, allowed by authdir (ser2net's clientauth)

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class TestCertificates
{
public:
    static bool installed()
    {
        return !QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty();
    }

    // Makes them all; false with error() set when openssl failed.
    bool make()
    {
        const QString ec = QStringLiteral("ec_paramgen_curve:prime256v1");
        const auto selfSigned = [&](const QString &name, const QString &subject) {
            return openssl({u"req"_qs, u"-x509"_qs, u"-newkey"_qs, u"ec"_qs, u"-pkeyopt"_qs, ec,
                            u"-nodes"_qs, u"-keyout"_qs, name + u".key"_qs, u"-out"_qs,
                            name + u".crt"_qs, u"-days"_qs, u"2"_qs, u"-subj"_qs, subject});
        };
        const auto request = [&](const QString &name, const QString &subject) {
            return openssl({u"req"_qs, u"-new"_qs, u"-key"_qs, u"server.key"_qs, u"-out"_qs,
                            name + u".csr"_qs, u"-subj"_qs, subject});
        };
        const auto sign = [&](const QString &name, const QString &names) {
            return write(name + u".ext"_qs, u"subjectAltName="_qs + names + u'\n') &&
                   openssl({u"x509"_qs, u"-req"_qs, u"-in"_qs, name + u".csr"_qs, u"-CA"_qs,
                            u"ca.crt"_qs, u"-CAkey"_qs, u"ca.key"_qs, u"-set_serial"_qs,
                            QString::number(++m_serial), u"-days"_qs, u"2"_qs, u"-extfile"_qs,
                            name + u".ext"_qs, u"-out"_qs, name + u".crt"_qs});
        };
        const QString localhost = u"DNS:localhost,IP:127.0.0.1"_qs;
        return selfSigned(u"ca"_qs, u"/CN=commtest test CA"_qs) &&
               selfSigned(u"other-ca"_qs, u"/CN=commtest other CA"_qs) &&
               openssl({u"genpkey"_qs, u"-algorithm"_qs, u"ec"_qs, u"-pkeyopt"_qs, ec, u"-out"_qs,
                        u"server.key"_qs}) &&
               request(u"server"_qs, u"/CN=localhost"_qs) && sign(u"server"_qs, localhost) &&
               request(u"wrong-host"_qs, u"/CN=elsewhere.invalid"_qs) &&
               sign(u"wrong-host"_qs, u"DNS:elsewhere.invalid"_qs) && makeExpired(localhost) &&
               openssl({u"req"_qs, u"-x509"_qs, u"-key"_qs, u"server.key"_qs, u"-subj"_qs,
                        u"/CN=localhost"_qs, u"-addext"_qs, u"subjectAltName="_qs + localhost,
                        u"-days"_qs, u"2"_qs, u"-out"_qs, u"self-signed.crt"_qs}) &&
               selfSigned(u"client"_qs, u"/CN=commtest"_qs) && allowClient();
    }

    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString folder() const { return m_dir.path(); }
    // ser2net's authdir: the client certificate is allowed for user "commtest".
    QString authDir() const { return path(u"auth"_qs); }
    // A ser2net ssl layer serving certificate name (server, wrong-host, expired, self-signed).
    QString sslLayer(const QString &name, bool clientAuth = false) const
    {
        return QStringLiteral("ssl(key=%1,cert=%2%3)")
            .arg(path(u"server.key"_qs), path(name + u".crt"_qs),
                 clientAuth ? u",clientauth"_qs : QString());
    }
    QString error() const { return m_error; }

private:
    // openssl x509 of this version sets no dates in the past; openssl ca does.
    bool makeExpired(const QString &names)
    {
        return write(u"index.txt"_qs, {}) &&
               write(u"ca.cnf"_qs,
                     u"[ca]\ndefault_ca = test\n[test]\ndatabase = index.txt\nnew_certs_dir = .\n"
                     "serial = serial\ndefault_md = sha256\npolicy = any\nunique_subject = no\n"
                     "[any]\ncommonName = supplied\n"_qs) &&
               write(u"serial"_qs, u"1000\n"_qs) &&
               write(u"expired.ext"_qs, u"subjectAltName="_qs + names + u'\n') &&
               openssl({u"ca"_qs, u"-batch"_qs, u"-notext"_qs, u"-config"_qs, u"ca.cnf"_qs,
                        u"-cert"_qs, u"ca.crt"_qs, u"-keyfile"_qs, u"ca.key"_qs, u"-in"_qs,
                        u"server.csr"_qs, u"-startdate"_qs, u"20200101000000Z"_qs, u"-enddate"_qs,
                        u"20200201000000Z"_qs, u"-extfile"_qs, u"expired.ext"_qs, u"-out"_qs,
                        u"expired.crt"_qs});
    }
    // ser2net looks a client's certificate up in <authdir>/<its common name>/allowed_certs.
    bool allowClient()
    {
        const QString allowed = authDir() + u"/commtest/allowed_certs"_qs;
        return QDir().mkpath(allowed) &&
               QFile::copy(path(u"client.crt"_qs), allowed + u"/client.crt"_qs) &&
               openssl({u"rehash"_qs, allowed});
    }
    bool write(const QString &name, const QString &text)
    {
        QFile f(path(name));
        return f.open(QIODevice::WriteOnly) && f.write(text.toUtf8()) == text.toUtf8().size();
    }
    bool openssl(const QStringList &arguments)
    {
        QProcess p;
        p.setWorkingDirectory(m_dir.path());
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral("openssl"), arguments);
        if (p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
            return true;
        m_error =
            u"openssl "_qs + arguments.join(u' ') + u": "_qs + QString::fromLocal8Bit(p.readAll());
        return false;
    }

    QTemporaryDir m_dir;
    QString m_error;
    int m_serial = 0;
};
