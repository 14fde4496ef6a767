#pragma once
// The capture session: the one owner of the capture file, its stream and the record
// options that the capture set-up chose.
//
//   set-up --> setOptions, start(path) --> Module5::OpenCaptureFile --> CaptureStream
//   frame end --> queue(prefix, frame) --> capture record; end of the delivery pass -->
//   flush() --> one write of the queued records --> CaptureStream (write() does both)
//   unchecking, a failed write, shutdown --> stop()
//
// Errors come back as text for the operator (empty: none); nothing is shown from here.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>
#include <vector>

class FileService;
class TextStream;

class CaptureSession
{
public:
    CaptureSession();
    ~CaptureSession();
    CaptureSession(const CaptureSession &) = delete;
    CaptureSession &operator=(const CaptureSession &) = delete;

    struct StartResult
    {
        bool started = false; // records now go to the new file
        QString error;        // the failed open, or a failed close of the previous file
    };
    // Opens path as the capture file (created when absent, continued when present) and
    // turns capture on. The previous file is closed only once the new one is open: when
    // the open fails, nothing changes.
    StartResult start(const QString &path);
    // Closes the file and turns capture off; returns the close's error, naming the file.
    QString stop();
    // Writes the record of frame sData while capture is on. A failed write stops capture
    // and returns the error; the file keeps every whole record written before.
    QString write(QByteArrayView Prefix, QByteArrayView sData);
    // The same in two steps, for a burst of frames: queue() keeps the record (while capture
    // is on), flush() writes what was queued in one write. A write per frame costs more
    // than the rest of the frame's work. flush() fails as write() does, keeping in the file
    // every record that went in whole; stop(), start() and the end of the session flush.
    void queue(QByteArrayView Prefix, QByteArrayView sData);
    struct Flushed
    {
        qsizetype records = 0; // written whole
        QString error;
    };
    Flushed flush();
    qsizetype queuedRecords() const { return qsizetype(m_ends.size()); }

    // The options of the line-mode record prefix: the source string (leading and trailing
    // blanks are removed here; empty for none) and whether a timestamp leads it.
    void setOptions(const QString &source, bool timestamp);
    // Capture writes only while enabled and a file is open; start() enables it.
    void setCaptureEnabled(bool on) { CaptureEnabled = on; }

    bool captureEnabled() const { return CaptureEnabled; }
    const QString &sourceString() const { return SourceString; }
    bool includeTimestamp() const { return IncludeTimestamp; }
    // The open capture file's path as opened; empty when none is open.
    QString path() const;

private:
    bool CaptureEnabled = false;
    std::unique_ptr<FileService> FileSystem;
    std::unique_ptr<TextStream> CaptureStream;
    QString SourceString;
    bool IncludeTimestamp = false;
    QByteArray m_queued;           // records not yet written, kept so a burst costs no allocation
    std::vector<qsizetype> m_ends; // where each queued record ends in m_queued
};
