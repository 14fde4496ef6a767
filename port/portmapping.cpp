#include "port/portmapping.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <functional>
#include <variant>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString entryPath(int port, const QString &configHome)
{
    return portsFolder(configHome) + QStringLiteral("/com") + QString::number(port);
}

bool isCharDevice(const QString &path)
{
    struct stat st
    {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISCHR(st.st_mode);
}

// A URL file is one short line; a larger file is no URL file whatever it holds.
constexpr qint64 kMaxUrlFile = 4096;

// The key=value lines after the URL; other lines are notes. Relative paths are taken from
// folder.
std::variant<TlsFiles, QString> tlsLines(QByteArrayView lines, const PortUrl &url,
                                         const QString &folder)
{
    TlsFiles files;
    const std::pair<QLatin1StringView, QString *> keys[] = {
        {QLatin1StringView("ca"), &files.ca},
        {QLatin1StringView("cert"), &files.cert},
        {QLatin1StringView("key"), &files.key},
    };
    QStringList given;
    for (const QByteArrayView raw : lines.toByteArray().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        const qsizetype equals = line.indexOf(u'=');
        const QString name = line.left(equals).trimmed().toLower();
        for (const auto &[key, field] : keys) {
            if (equals < 0 || name != key)
                continue;
            const QString value = line.sliced(equals + 1).trimmed();
            if (value.isEmpty())
                return QStringLiteral("No file after %1=").arg(key);
            if (!field->isEmpty())
                return QStringLiteral("%1= given twice").arg(key);
            *field = QDir(folder).absoluteFilePath(QDir::fromNativeSeparators(value));
            given << key + u'=';
        }
    }
    if (!given.isEmpty() && !url.tls)
        return QStringLiteral("%1 only for a +tls URL: %2 travels in clear")
            .arg(given.join(QStringLiteral(", ")), portUrlText(url));
    if (files.cert.isEmpty() != files.key.isEmpty())
        return QStringLiteral("A client certificate needs both cert= and key=");
    return files;
}

// The port URL on the first line of a regular file with its TLS files, or why there is
// none (*tlsError: why the lines after a valid URL are wrong).
std::variant<PortUrl, QString> urlInFile(const QString &path, QString *readError, TlsFiles *tls,
                                         QString *tlsError)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *readError = file.errorString();
        return QStringLiteral("Cannot read %1: %2").arg(path, *readError);
    }
    const QByteArray head = file.read(kMaxUrlFile);
    const qsizetype end = head.indexOf('\n');
    if (end < 0 && !file.atEnd())
        return QStringLiteral("No port URL: the first line is longer than %1 bytes (%2)")
            .arg(kMaxUrlFile)
            .arg(path);
    auto url = parsePortUrl(QString::fromUtf8(end < 0 ? head : head.left(end)));
    if (auto *reason = std::get_if<QString>(&url)) {
        *reason += QStringLiteral(" (") + path + u')';
        return url;
    }
    const auto files = tlsLines(end < 0 ? QByteArrayView() : QByteArrayView(head).sliced(end + 1),
                                std::get<PortUrl>(url), QFileInfo(path).absolutePath());
    if (const auto *reason = std::get_if<QString>(&files))
        *tlsError = *reason + QStringLiteral(" (") + path + u')';
    else
        *tls = std::get<TlsFiles>(files);
    return url;
}

// Like mkdir -p, with the reason of the step that failed.
QString makeFolder(const QString &folder)
{
    QString path;
    const QString absolute = QFileInfo(folder).absoluteFilePath();
    for (const QString &part : absolute.split(u'/', Qt::SkipEmptyParts)) {
        path += u'/' + part;
        const QByteArray name = QFile::encodeName(path);
        if (::mkdir(name.constData(), 0777) == 0 || errno == EEXIST) {
            struct stat st
            {};
            if (::stat(name.constData(), &st) == 0 && S_ISDIR(st.st_mode))
                continue;
            return QStringLiteral("Cannot create the ports folder %1: %2 is not a folder")
                .arg(folder, path);
        }
        return QStringLiteral("Cannot create the ports folder %1: %2")
            .arg(folder, errnoText(errno));
    }
    return {};
}

QString portName(int port)
{
    return QStringLiteral("COM ") + QString::number(port);
}

} // namespace

PortMapping readPortMapping(int port, const QString &configHome)
{
    PortMapping m;
    m.port = port;
    if (port <= 0) {
        m.kind = PortMapping::Kind::Garbage;
        m.problem = QStringLiteral("invalid port number");
        return m;
    }
    m.entry = entryPath(port, configHome);
    const QFileInfo info(m.entry);
    if (!info.exists() && !info.isSymLink()) {
        m.target = legacyDevice(port);
        if (isCharDevice(m.target))
            m.device = m.target;
        else
            m.problem = QStringLiteral("no such device");
        return m;
    }
    if (info.isDir() && !info.isSymLink()) {
        m.kind = PortMapping::Kind::Folder;
        m.target = m.entry;
        m.problem = QStringLiteral("com%1 is a folder, not a link to a device").arg(port);
        return m;
    }
    // A URL is read through a link as well as from the file itself.
    QString readError;
    if (info.isFile()) {
        const auto url = urlInFile(m.entry, &readError, &m.tls, &m.urlError);
        if (const auto *u = std::get_if<PortUrl>(&url)) {
            m.kind = PortMapping::Kind::Network;
            m.url = *u;
            m.target = portUrlText(*u);
            return m;
        }
        if (!info.isSymLink())
            m.urlError = std::get<QString>(url);
    }
    const QString resolved = info.canonicalFilePath();
    if (!info.isSymLink()) {
        m.target = m.entry;
        if (isCharDevice(m.entry)) {
            m.kind = PortMapping::Kind::Link;
            m.device = resolved;
            return m;
        }
        m.kind = PortMapping::Kind::Garbage;
        m.problem =
            readError.isEmpty()
                ? QStringLiteral("com%1 holds neither a link to a device nor a URL").arg(port)
                : QStringLiteral("cannot read com%1: %2").arg(port).arg(readError);
        return m;
    }
    m.kind = PortMapping::Kind::Link;
    m.target = info.symLinkTarget();
    if (resolved.isEmpty())
        m.problem = QStringLiteral("no such device (the link leads nowhere)");
    else if (!isCharDevice(resolved))
        m.problem = QStringLiteral("not a serial device: ") + resolved;
    else
        m.device = resolved;
    return m;
}

PortMapping readPortMapping(int port)
{
    return readPortMapping(port, userConfigHome());
}

QString userConfigHome()
{
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!xdg.isEmpty())
        return xdg;
    return QDir::homePath() + QStringLiteral("/.config");
}

QString portsFolder(const QString &configHome)
{
    return configHome + QStringLiteral("/commtest/ports");
}

QString deviceForPort(int port, const QString &configHome)
{
    return readPortMapping(port, configHome).path();
}

QString deviceForPort(int port)
{
    return deviceForPort(port, userConfigHome());
}

QString mappingTarget(const SerialDevice &device)
{
    return device.byIdPath.isEmpty() ? device.path : device.byIdPath;
}

namespace {

// Puts a new entry for port n in place: `make` creates it at a temporary name (returning 0
// or an errno), then one rename replaces the old entry, so a reader sees one or the other.
QString replaceEntry(int port, const QString &configHome,
                     const std::function<int(const QByteArray &temporary)> &make)
{
    const PortMapping old = readPortMapping(port, configHome);
    // Replacing what the operator put there by hand and this program cannot read would
    // lose it for good.
    if (old.kind == PortMapping::Kind::Folder || old.kind == PortMapping::Kind::Garbage)
        return QStringLiteral("%1 not mapped: %2 (%3); remove it first")
            .arg(portName(port), old.problem, old.entry);
    const QString folder = portsFolder(configHome);
    if (const QString error = makeFolder(folder); !error.isEmpty())
        return error;

    const QByteArray entry = QFile::encodeName(old.entry);
    QByteArray temporary;
    for (int attempt = 0;; ++attempt) {
        temporary = QFile::encodeName(QStringLiteral("%1/.com%2.new-%3-%4")
                                          .arg(folder)
                                          .arg(port)
                                          .arg(::getpid())
                                          .arg(attempt));
        const int error = make(temporary);
        if (error == 0)
            break;
        if (error != EEXIST || attempt == 100)
            return QStringLiteral("Cannot write in the ports folder %1: %2")
                .arg(folder, errnoText(error));
    }
    if (::rename(temporary.constData(), entry.constData()) != 0) {
        const int error = errno;
        ::unlink(temporary.constData());
        return QStringLiteral("Cannot replace %1: %2").arg(old.entry, errnoText(error));
    }
    return {};
}

// Writes all of data to a new file; 0 or the errno of the step that failed, with nothing
// left behind on failure.
int writeNewFile(const QByteArray &path, const QByteArray &data)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno;
    qsizetype done = 0;
    int error = 0;
    while (done < data.size() && error == 0) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n > 0)
            done += n;
        else if (errno != EINTR)
            error = errno;
    }
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0)
        ::unlink(path.constData());
    return error;
}

} // namespace

QString writePortMapping(int port, const QString &linkTarget, const QString &configHome)
{
    if (port <= 0)
        return QStringLiteral("Invalid port number: ") + QString::number(port);
    if (linkTarget.isEmpty())
        return QStringLiteral("No device to map %1 to").arg(portName(port));
    const QByteArray target = QFile::encodeName(linkTarget);
    return replaceEntry(port, configHome, [&target](const QByteArray &temporary) {
        return ::symlink(target.constData(), temporary.constData()) == 0 ? 0 : errno;
    });
}

QString networkUrlProblem(const QString &url)
{
    // The network control's own rule, so an entry written here is one it opens.
    const std::variant<PortUrl, QString> parsed = parsePortUrl(url);
    const QString *problem = std::get_if<QString>(&parsed);
    return problem ? *problem : QString();
}

QString writeNetworkPortMapping(int port, const QString &url, const QString &configHome)
{
    if (port <= 0)
        return QStringLiteral("Invalid port number: ") + QString::number(port);
    if (const QString problem = networkUrlProblem(url); !problem.isEmpty())
        return QStringLiteral("%1 not mapped: %2").arg(portName(port), problem);
    QByteArray line = url.trimmed().toUtf8() + '\n';
    // A new URL keeps the entry's TLS files and notes.
    if (QFile old(entryPath(port, configHome));
        readPortMapping(port, configHome).kind == PortMapping::Kind::Network &&
        old.open(QIODevice::ReadOnly)) {
        const QByteArray head = old.read(kMaxUrlFile);
        if (const qsizetype end = head.indexOf('\n'); end >= 0)
            line += head.sliced(end + 1);
    }
    return replaceEntry(port, configHome, [&line](const QByteArray &temporary) {
        return writeNewFile(temporary, line);
    });
}

QString removePortMapping(int port, const QString &configHome)
{
    if (port <= 0)
        return QStringLiteral("Invalid port number: ") + QString::number(port);
    const QString entry = entryPath(port, configHome);
    const QByteArray name = QFile::encodeName(entry);
    struct stat st
    {};
    if (::lstat(name.constData(), &st) != 0)
        return errno == ENOENT
                   ? QString()
                   : QStringLiteral("Cannot remove %1: %2").arg(entry, errnoText(errno));
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("%1 is a folder; it is not removed").arg(entry);
    if (::unlink(name.constData()) != 0)
        return QStringLiteral("Cannot remove %1: %2").arg(entry, errnoText(errno));
    return {};
}

QString mappingText(const PortMapping &mapping, const QList<SerialDevice> &devices)
{
    QString text = portName(mapping.port) + QStringLiteral(" → ");
    if (mapping.kind == PortMapping::Kind::Network)
        return text + QStringLiteral("network port ") + mapping.target;
    text += mapping.target;
    if (!mapping.problem.isEmpty())
        return text + QStringLiteral(": ") + mapping.problem;
    if (mapping.device != mapping.target)
        text += QStringLiteral(" (%1)").arg(mapping.device);
    for (const SerialDevice &d : devices) {
        if (d.path != mapping.device)
            continue;
        if (!d.description.isEmpty())
            text += QStringLiteral(", ") + d.description;
        if (!d.serialNumber.isEmpty())
            text += QStringLiteral(", serial ") + d.serialNumber;
        break;
    }
    return text;
}

QString deviceText(const SerialDevice &device)
{
    QStringList parts;
    if (!device.byIdPath.isEmpty())
        parts << device.byIdPath;
    for (const QString &field : {device.description, device.manufacturer})
        if (!field.isEmpty())
            parts << field;
    if (!device.serialNumber.isEmpty())
        parts << QStringLiteral("serial ") + device.serialNumber;
    if (device.vendorId && device.productId)
        parts << QStringLiteral("USB %1:%2")
                     .arg(uint(*device.vendorId), 4, 16, QLatin1Char('0'))
                     .arg(uint(*device.productId), 4, 16, QLatin1Char('0'));
    return parts.isEmpty() ? device.path
                           : device.path + QStringLiteral(": ") + parts.join(QStringLiteral(", "));
}

PortMenu buildPortMenu(const QList<PortMapping> &mappings, const QList<SerialDevice> &devices)
{
    PortMenu menu;
    for (const PortMapping &m : mappings) {
        const bool removable = m.kind == PortMapping::Kind::Link ||
                               m.kind == PortMapping::Kind::Network ||
                               (m.kind == PortMapping::Kind::Garbage && !m.entry.isEmpty());
        menu.ports.append({m.port, mappingText(m, devices), removable});
    }
    for (const SerialDevice &d : devices) {
        DeviceMenuEntry entry{d, deviceText(d), mappingTarget(d), {}};
        for (const PortMapping &m : mappings) {
            if (!m.device.isEmpty() && m.device == d.path)
                entry.mappedPorts.append(m.port);
        }
        menu.devices.append(entry);
    }
    return menu;
}
