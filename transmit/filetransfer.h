#pragma once
// Pure pieces of sending a file: reading it in chunks with every fault as a message,
// pacing the writes to what the port takes, and the progress texts.
//
//   FileChunkReader --chunk--> SendPacing says how much --> SerialControl::setOutput

#include <QByteArray>
#include <QFile>
#include <QString>

#include <optional>

// Reads a file from the start in chunks. Errors are texts for the operator.
class FileChunkReader
{
public:
    // Opens path for sending; false (error() says why) for a missing file, a folder, a
    // device or pipe, an empty file or one that cannot be read.
    bool open(const QString &path);
    // Up to max further bytes; nullopt (error() says why) when the file was removed,
    // became shorter or could not be read since it was opened.
    std::optional<QByteArray> read(qint64 max);

    qint64 size() const { return m_size; }
    qint64 position() const { return m_position; }
    bool atEnd() const { return m_position >= m_size; }
    QString fileName() const; // without its folder
    QString error() const { return m_error; }

private:
    bool fail(const QString &text);

    QFile m_file;
    QString m_path;
    qint64 m_size = 0;
    qint64 m_position = 0;
    QString m_error;
};

// How many bytes to hand the port at each look: enough to keep it busy, little enough that
// what it holds leaves within about kTargetMs, so that Cancel stops the line soon and memory
// stays bounded whatever the baud rate.
class SendPacing
{
public:
    static constexpr qint64 kStart = 256;
    static constexpr qint64 kMin = 64;
    static constexpr qint64 kMax = 24 * 1024; // below what OutBufferCount can report
    static constexpr qint64 kTargetMs = 100;
    static constexpr qint64 kMeasureMs = 50; // the drain rate is taken over this much time

    // queued: bytes the port holds now; nowMs: any monotonic clock. Returns the bytes to
    // write now (0: wait), and assumes they are written.
    qint64 next(qint64 queued, qint64 nowMs);
    qint64 target() const { return m_target; }

private:
    qint64 m_target = kStart;
    qint64 m_lastQueued = 0; // what the port held after the last write
    qint64 m_lastMs = -1;
    qint64 m_drained = 0; // since m_measureStartMs
    qint64 m_measureStartMs = -1;
};

// "1048576 of 10485760 bytes"
QString bytesOfText(qint64 sent, qint64 total);
// "850 B/s", "12.5 KiB/s", "3.2 MiB/s"
QString rateText(double bytesPerSecond);
// "0:07 left", "1:02:03 left"; "" while the rate is unknown
QString timeLeftText(qint64 remainingBytes, double bytesPerSecond);
