#pragma once
// TLS for network ports: what a +tls port connects with, and why a server was refused, in
// words. The server's certificate is always verified (chain, dates, host name): nothing
// here turns that off.
//
//   TlsFiles --tlsConfiguration--> QSslConfiguration --QSslSocket handshake--> errors
//   errors --tlsRefusal--> "untrusted issuer (...)", "certificate expired (...)", ...

#include <QList>
#include <QString>

#include <variant>

class QSslConfiguration;
class QSslError;
struct TlsFiles;

// The client's configuration: only the certificates in files.ca trusted when it is given,
// else the system's; the client certificate and key when given. The reason in words when
// a file cannot be read or holds no certificate or key.
std::variant<QSslConfiguration, QString> tlsConfiguration(const TlsFiles &files);

// Why the server's certificate was refused, e.g. "untrusted issuer (CN=lab CA)"; one part
// per error, joined by "; ". host is the name the certificate had to be for.
QString tlsRefusal(const QList<QSslError> &errors, const QString &host);

// Whether a failed handshake's error text says the server answered in clear.
bool answeredInClear(const QString &handshakeError);
