#pragma once
// The file service: a thin layer over the operating system's files for the capture file.
//
//   FileService::FileExists / CreateTextFile / OpenTextFile --> TextStream
//   TextStream::Write / WriteLine (one write per call, whole or nothing) --> Close (fsync)
//
// Writes go straight to the descriptor (no user-space buffer), so a text is with the
// operating system when Write returns. Errors come back as text for the operator; empty
// text means success. Nothing throws.

#include <QByteArray>
#include <QByteArrayView>
#include <QElapsedTimer>
#include <QString>

#include <memory>
#include <span>

class TextStream
{
public:
    ~TextStream();
    TextStream(const TextStream &) = delete;
    TextStream &operator=(const TextStream &) = delete;

    static constexpr qint64 kRemovalCheckMs = 10;
    // Appends text in one piece; fails once the file's name is gone (noticed within
    // kRemovalCheckMs of the removal). When the system takes only part of it (disk full, file
    // size limit, medium gone) the part is cut off again, so the file ends after the last
    // whole text; the error says why. A failed stream stays usable for Close().
    QString Write(QByteArrayView text) { return Write(text, {}, nullptr); }
    // The same for several records in one piece: ends are the offsets in text where each
    // record ends. When only part goes in, the file is cut back to the end of the last
    // record that went in whole; *whole (when given) is how many records the file got.
    QString Write(QByteArrayView text, std::span<const qsizetype> ends, qsizetype *whole);
    // The same with CR LF after text, written together with it.
    QString WriteLine(QByteArrayView text);
    // Syncs and closes the file; returns the error text, empty on success. Closing a
    // closed stream does nothing.
    QString Close();

    bool isOpen() const { return m_fd >= 0; }
    const QString &path() const { return m_path; }

private:
    friend class FileService;
    TextStream(int fd, QString path);

    int m_fd = -1;
    QString m_path;
    QElapsedTimer m_sinceCheck; // since the file's name was last seen to exist
    QByteArray m_line;          // WriteLine's scratch, kept to avoid an allocation per line
};

// A stream, or the reason there is none.
struct StreamResult
{
    std::unique_ptr<TextStream> stream;
    QString error;
    int errorNumber = 0; // the system's errno, 0 on success
};

class FileService
{
public:
    // Also makes the process ignore SIGXFSZ, so a file size limit fails a write instead
    // of killing the program.
    FileService();

    // True when path names an existing file (a folder is not a file).
    bool FileExists(const QString &path) const;
    // Creates path, which must not exist yet, for writing. An existing file is never
    // truncated: the error number is then EEXIST.
    StreamResult CreateTextFile(const QString &path) const;
    // Opens the existing file path for appending, without creating it.
    StreamResult OpenTextFile(const QString &path) const;

private:
    StreamResult open(const QString &path, int flags) const;
};
