#pragma once
// Opening the capture file: created when absent, continued when present, never truncated.

#include <QByteArray>
#include <QString>

#include <memory>

class FileService;
class TextStream;

namespace Module5 {

// Stores a new file service in fileSystem, then creates path (writing header, without a
// line end, at its start) when no file is there, or opens it for appending when one is;
// no header is written to an existing file. On success stream holds the new stream and the
// result is empty; a stream it held before is released, so a caller that wants that file's
// close checked passes an empty pointer and swaps. On failure the result is the error
// text, naming the path and the system's reason, and stream keeps what it held.
QString OpenCaptureFile(std::unique_ptr<FileService> &fileSystem,
                        std::unique_ptr<TextStream> &stream, const QString &path,
                        const QByteArray &header);

} // namespace Module5
