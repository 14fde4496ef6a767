#include "port/tlssetup.h"

#include "port/portmapping.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <QSslKey>
#include <QSslSocket>
#include <QStringList>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

std::variant<QByteArray, QString> readFile(const QString &path, QLatin1StringView what)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return u"Cannot read %1= file %2: %3"_s.arg(what, path, file.errorString());
    return file.readAll();
}

// The certificates in a ca= or cert= file, or why there are none. PEM first, as ser2net's
// and openssl's files are; DER when that finds nothing.
std::variant<QList<QSslCertificate>, QString> certificatesIn(const QString &path,
                                                             QLatin1StringView what)
{
    const auto data = readFile(path, what);
    if (const auto *reason = std::get_if<QString>(&data))
        return *reason;
    QList<QSslCertificate> found = QSslCertificate::fromData(std::get<QByteArray>(data), QSsl::Pem);
    if (found.isEmpty())
        found = QSslCertificate::fromData(std::get<QByteArray>(data), QSsl::Der);
    if (found.isEmpty())
        return u"No certificate in %1= file %2"_s.arg(what, path);
    return found;
}

QString dateText(const QDateTime &when)
{
    return when.toUTC().toString(u"yyyy-MM-dd hh:mm 'UTC'"_s);
}

// The names a certificate is for: its alternative names, else its common name.
QString namesOf(const QSslCertificate &certificate)
{
    QStringList names;
    const auto alternatives = certificate.subjectAlternativeNames();
    for (auto it = alternatives.cbegin(); it != alternatives.cend(); ++it)
        names << it.value();
    if (names.isEmpty())
        names = certificate.subjectInfo(QSslCertificate::CommonName);
    return names.isEmpty() ? u"no name"_s : names.join(u", "_s);
}

} // namespace

std::variant<QSslConfiguration, QString> tlsConfiguration(const TlsFiles &files)
{
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!files.ca.isEmpty()) {
        const auto trusted = certificatesIn(files.ca, "ca"_L1);
        if (const auto *reason = std::get_if<QString>(&trusted))
            return *reason;
        config.setCaCertificates(std::get<QList<QSslCertificate>>(trusted));
    }
    if (!files.cert.isEmpty()) {
        const auto chain = certificatesIn(files.cert, "cert"_L1);
        if (const auto *reason = std::get_if<QString>(&chain))
            return *reason;
        const auto key = readFile(files.key, "key"_L1);
        if (const auto *reason = std::get_if<QString>(&key))
            return *reason;
        QSslKey privateKey;
        for (QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
            for (QSsl::EncodingFormat format : {QSsl::Pem, QSsl::Der}) {
                if (privateKey.isNull())
                    privateKey = QSslKey(std::get<QByteArray>(key), algorithm, format);
            }
        }
        if (privateKey.isNull())
            return u"No private key in key= file %1 (an RSA, EC or DSA key without a "
                   "passphrase)"_s.arg(files.key);
        config.setLocalCertificateChain(std::get<QList<QSslCertificate>>(chain));
        config.setPrivateKey(privateKey);
    }
    return config;
}

QString tlsRefusal(const QList<QSslError> &errors, const QString &host)
{
    QStringList parts;
    for (const QSslError &e : errors) {
        const QSslCertificate &c = e.certificate();
        QString part;
        switch (e.error()) {
        case QSslError::UnableToGetIssuerCertificate:
        case QSslError::UnableToGetLocalIssuerCertificate:
        case QSslError::UnableToVerifyFirstCertificate:
        case QSslError::SelfSignedCertificate:
        case QSslError::SelfSignedCertificateInChain:
        case QSslError::CertificateUntrusted:
        case QSslError::CertificateRejected:
        case QSslError::InvalidCaCertificate:
            part = c.isNull() ? u"untrusted issuer"_s
                              : u"untrusted issuer (%1)"_s.arg(c.issuerDisplayName());
            break;
        case QSslError::CertificateExpired:
            part = u"certificate expired (on %1)"_s.arg(dateText(c.expiryDate()));
            break;
        case QSslError::CertificateNotYetValid:
            part = u"certificate not yet valid (from %1)"_s.arg(dateText(c.effectiveDate()));
            break;
        case QSslError::HostNameMismatch:
            part = u"wrong host (the certificate is for %1, not %2)"_s.arg(namesOf(c), host);
            break;
        case QSslError::NoPeerCertificate:
            part = u"the server sent no certificate"_s;
            break;
        default:
            part = e.errorString();
            break;
        }
        // "No certificates could be verified" repeats what an untrusted issuer said.
        if (!parts.contains(part))
            parts << part;
    }
    return parts.join(u"; "_s);
}

bool answeredInClear(const QString &handshakeError)
{
    // What OpenSSL says when the first bytes from the server are no TLS record, e.g. a
    // Telnet greeting or an echo.
    static const QLatin1StringView kSigns[] = {"wrong version number"_L1,
                                               "packet length too long"_L1, "unknown protocol"_L1,
                                               "http request"_L1, "record layer failure"_L1};
    return std::any_of(std::begin(kSigns), std::end(kSigns), [&](QLatin1StringView sign) {
        return handshakeError.contains(sign, Qt::CaseInsensitive);
    });
}
