#pragma once
// Reading files back in tests: the whole content, or waiting (with the event loop
// running) until a file holds enough.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>

// The whole file; "<cannot read>" when it cannot be opened, so that a missing file never
// passes for an empty one.
QByteArray readFile(const QString &path);

// Runs the event loop until the file holds at least `bytes` bytes; false when it did not
// within timeoutMs.
bool waitForBytes(const QString &path, qint64 bytes, int timeoutMs);

// Runs the event loop until the file holds exactly `content`; false when it did not
// within timeoutMs.
bool waitForContent(const QString &path, const QByteArray &content, int timeoutMs);

// The capture file content for these frames, recorded without a prefix.
QByteArray recordsOf(const QList<QByteArray> &frames);

// A temporary folder that names a new capture file at each call.
class CaptureFolder
{
public:
    bool isValid() const { return m_dir.isValid(); }
    QString newPath() { return m_dir.filePath(QStringLiteral("capture%1.txt").arg(++m_files)); }

private:
    QTemporaryDir m_dir;
    int m_files = 0;
};

// A file of `size` random bytes in the folder; its path, or empty when it was not written.
QString writeRandomFile(const QString &folder, const QString &name, qint64 size);

// While it lives, this thread's file permission checks apply to root as to anyone: the
// capabilities that let root read any file are set aside (and restored at the end). Tests
// run as root, which a file without read permission would not stop otherwise. active() is
// false when they could not be set aside; a non-root user needs none of this.
class PermissionsEnforced
{
public:
    PermissionsEnforced();
    ~PermissionsEnforced();
    PermissionsEnforced(const PermissionsEnforced &) = delete;
    PermissionsEnforced &operator=(const PermissionsEnforced &) = delete;
    bool active() const { return m_active; }

private:
    bool m_active = false;
    bool m_dropped = false;
    quint32 m_saved = 0;
};
