#include "transmit/filetransfer.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>

bool FileChunkReader::fail(const QString &text)
{
    m_error = text;
    m_file.close();
    return false;
}

QString FileChunkReader::fileName() const
{
    return QFileInfo(m_path).fileName();
}

bool FileChunkReader::open(const QString &path)
{
    m_path = path;
    m_position = 0;
    m_size = 0;
    m_error.clear();
    const QFileInfo info(path);
    if (!info.exists())
        return fail(QStringLiteral("The file %1 does not exist.").arg(path));
    if (info.isDir())
        return fail(QStringLiteral("%1 is a folder; choose a file to send.").arg(path));
    if (!info.isFile())
        return fail(QStringLiteral("%1 is not a regular file (a device or a pipe); only files "
                                   "can be sent.")
                        .arg(path));
    m_file.setFileName(path);
    // Opening is what tells whether the file can be read; permissions alone do not say so.
    if (!m_file.open(QIODevice::ReadOnly))
        return fail(
            QStringLiteral("The file %1 cannot be read: %2.").arg(path, m_file.errorString()));
    m_size = m_file.size();
    if (m_size == 0)
        return fail(QStringLiteral("The file %1 is empty: there is nothing to send.").arg(path));
    return true;
}

std::optional<QByteArray> FileChunkReader::read(qint64 max)
{
    if (!m_file.isOpen())
        return std::nullopt;
    // An open file stays readable after it is deleted; sending the rest of a file the
    // operator removed would finish what they meant to stop.
    if (!QFileInfo::exists(m_path)) {
        fail(QStringLiteral("The file %1 was removed while it was being sent.").arg(m_path));
        return std::nullopt;
    }
    const qint64 want = std::min(max, m_size - m_position);
    QByteArray chunk(want, Qt::Uninitialized);
    const qint64 got = m_file.read(chunk.data(), want);
    if (got < 0) {
        fail(QStringLiteral("The file %1 could not be read any further: %2.")
                 .arg(m_path, m_file.errorString()));
        return std::nullopt;
    }
    if (got < want) {
        fail(QStringLiteral("The file %1 became shorter while it was being sent.").arg(m_path));
        return std::nullopt;
    }
    m_position += got;
    if (atEnd())
        m_file.close();
    return chunk;
}

qint64 SendPacing::next(qint64 queued, qint64 nowMs)
{
    if (m_lastMs >= 0) {
        m_drained += std::max<qint64>(0, m_lastQueued - queued);
        if (queued == 0 && m_lastQueued > 0) {
            // Ran dry: the port takes more than it was given.
            m_target = std::min(m_target * 2, kMax);
            m_measureStartMs = nowMs;
            m_drained = 0;
        } else if (nowMs - m_measureStartMs >= kMeasureMs) {
            const qint64 elapsed = nowMs - m_measureStartMs;
            // A port that took nothing (flow control holding it) keeps the last target.
            if (m_drained > 0)
                m_target = std::clamp(m_drained * kTargetMs / elapsed, kMin, kMax);
            m_measureStartMs = nowMs;
            m_drained = 0;
        }
    } else {
        m_measureStartMs = nowMs;
    }
    m_lastMs = nowMs;
    qint64 write = m_target - queued;
    // Topping up by a few bytes at a time would cost a write per byte on a slow port.
    if (write < m_target / 2)
        write = 0;
    m_lastQueued = queued + write;
    return write;
}

QString bytesOfText(qint64 sent, qint64 total)
{
    return QStringLiteral("%1 of %2 bytes").arg(sent).arg(total);
}

QString rateText(double bytesPerSecond)
{
    if (bytesPerSecond < 1024)
        return QStringLiteral("%1 B/s").arg(qint64(std::lround(bytesPerSecond)));
    if (bytesPerSecond < 1024 * 1024)
        return QStringLiteral("%1 KiB/s").arg(bytesPerSecond / 1024, 0, 'f', 1);
    return QStringLiteral("%1 MiB/s").arg(bytesPerSecond / (1024 * 1024), 0, 'f', 1);
}

QString timeLeftText(qint64 remainingBytes, double bytesPerSecond)
{
    if (bytesPerSecond <= 0)
        return QString();
    const qint64 seconds = qint64(std::ceil(double(remainingBytes) / bytesPerSecond));
    const qint64 h = seconds / 3600;
    const qint64 m = seconds / 60 % 60;
    const qint64 s = seconds % 60;
    const QString two = QStringLiteral("%1");
    if (h > 0)
        return QStringLiteral("%1:%2:%3 left")
            .arg(h)
            .arg(two.arg(m, 2, 10, QLatin1Char('0')), two.arg(s, 2, 10, QLatin1Char('0')));
    return QStringLiteral("%1:%2 left").arg(m).arg(two.arg(s, 2, 10, QLatin1Char('0')));
}
