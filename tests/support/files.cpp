#include "support/files.h"

#include "capture/capturerecord.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>

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
