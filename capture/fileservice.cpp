#include "capture/fileservice.h"

#include <QFile>

#include <algorithm>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString reason(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

// Done at every start of the writer, not once: whatever reset it since is undone.
void ignoreFileSizeSignal()
{
    struct sigaction sa
    {};
    sa.sa_handler = SIG_IGN;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGXFSZ, &sa, nullptr);
}

} // namespace

TextStream::TextStream(int fd, QString path)
    : m_fd(fd)
    , m_path(std::move(path))
{}

TextStream::~TextStream()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

QString TextStream::Write(QByteArrayView text, std::span<const qsizetype> ends, qsizetype *whole)
{
    if (whole)
        *whole = 0;
    if (m_fd < 0)
        return QStringLiteral("The file is not open");
    // A file whose name is gone (the file or its folder deleted) still takes writes that
    // nobody can ever read: refuse them, so capture stops with a report instead. Asking
    // costs as much as the write, so it is asked at most every kRemovalCheckMs.
    if (!m_sinceCheck.isValid() || m_sinceCheck.hasExpired(kRemovalCheckMs)) {
        m_sinceCheck.start();
        struct stat st
        {};
        if (::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 0)
            return QStringLiteral("the file was removed (it, or its folder, was deleted)");
    }
    const char *data = text.data();
    qsizetype done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(m_fd, data + done, size_t(text.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // A write that takes nothing without an error means there is no room.
        const int err = n < 0 ? errno : ENOSPC;
        QString error = reason(err);
        // The records that went in whole stay; the part of the next one goes again, so the
        // file ends on a whole record.
        const auto kept = std::upper_bound(ends.begin(), ends.end(), done);
        const qsizetype keep = kept == ends.begin() ? 0 : *(kept - 1);
        if (whole)
            *whole = kept - ends.begin();
        if (done > keep) {
            struct stat st
            {};
            if (::fstat(m_fd, &st) != 0 || ::ftruncate(m_fd, st.st_size - (done - keep)) != 0)
                error +=
                    QStringLiteral("; the part written could not be removed: ") + reason(errno);
        }
        return error;
    }
    if (whole)
        *whole = qsizetype(ends.size());
    return {};
}

QString TextStream::WriteLine(QByteArrayView text)
{
    m_line.resize(0);
    m_line.reserve(text.size() + 2);
    m_line.append(text.data(), text.size());
    m_line.append("\r\n", 2);
    return Write(m_line);
}

QString TextStream::Close()
{
    if (m_fd < 0)
        return {};
    QString error;
    // Devices and pipes cannot be synced; that is not a failure of the data.
    if (::fsync(m_fd) != 0 && errno != EINVAL && errno != EROFS && errno != ENOTSUP)
        error = reason(errno);
    if (::close(m_fd) != 0 && errno != EINTR && error.isEmpty())
        error = reason(errno);
    m_fd = -1;
    return error;
}

FileService::FileService()
{
    ignoreFileSizeSignal();
}

bool FileService::FileExists(const QString &path) const
{
    struct stat st
    {};
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &st) == 0 &&
           !S_ISDIR(st.st_mode);
}

StreamResult FileService::CreateTextFile(const QString &path) const
{
    return open(path, O_CREAT | O_EXCL);
}

StreamResult FileService::OpenTextFile(const QString &path) const
{
    return open(path, 0);
}

StreamResult FileService::open(const QString &path, int flags) const
{
    if (path.isEmpty())
        return {nullptr, reason(ENOENT), ENOENT};
    // O_NONBLOCK: a pipe without a reader fails at once instead of freezing the window;
    // O_NOCTTY: a terminal named as the file never becomes our controlling terminal.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          flags | O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    if (fd < 0) {
        const int err = errno;
        return {nullptr, reason(err), err};
    }
    return {std::unique_ptr<TextStream>(new TextStream(fd, path)), {}};
}
