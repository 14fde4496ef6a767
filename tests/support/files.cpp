#include "support/files.h"

#include "capture/capturerecord.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTest>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "<cannot read>";
    return f.readAll();
}

bool waitForBytes(const QString &path, qint64 bytes, int timeoutMs)
{
    for (QDeadlineTimer deadline(timeoutMs); QFileInfo(path).size() < bytes;) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(10);
    }
    return true;
}

bool waitForContent(const QString &path, const QByteArray &content, int timeoutMs)
{
    for (QDeadlineTimer deadline(timeoutMs); readFile(path) != content;) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(10);
    }
    return true;
}

QByteArray recordsOf(const QList<QByteArray> &frames)
{
    QByteArray out;
    for (const QByteArray &f : frames)
        appendCaptureRecord(out, QByteArrayView(), f);
    return out;
}

QString writeRandomFile(const QString &folder, const QString &name, qint64 size)
{
    const QString path = folder + u'/' + name;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return QString();
    QRandomGenerator generator{quint32(size)}; // the same bytes at every run
    QByteArray block(1 << 16, Qt::Uninitialized);
    for (qint64 left = size; left > 0; left -= block.size()) {
        generator.fillRange(reinterpret_cast<quint32 *>(block.data()), block.size() / 4);
        if (f.write(block.constData(), std::min<qint64>(left, block.size())) < 0)
            return QString();
    }
    return f.flush() ? path : QString();
}

namespace {

constexpr quint32 kOverrides = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);

bool capabilities(__user_cap_data_struct (&data)[2], bool set)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(set ? SYS_capset : SYS_capget, &header, data) == 0;
}

} // namespace

PermissionsEnforced::PermissionsEnforced()
{
    if (::geteuid() != 0) {
        m_active = true;
        return;
    }
    __user_cap_data_struct data[2]{};
    if (!capabilities(data, false))
        return;
    m_saved = data[0].effective;
    data[0].effective &= ~kOverrides;
    m_dropped = m_active = capabilities(data, true);
}

PermissionsEnforced::~PermissionsEnforced()
{
    if (!m_dropped)
        return;
    __user_cap_data_struct data[2]{};
    if (capabilities(data, false)) {
        data[0].effective = m_saved;
        capabilities(data, true);
    }
}
