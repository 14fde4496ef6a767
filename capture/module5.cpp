#include "capture/module5.h"

#include "capture/fileservice.h"

#include <cerrno>

namespace Module5 {

QString OpenCaptureFile(std::unique_ptr<FileService> &fileSystem,
                        std::unique_ptr<TextStream> &stream, const QString &path,
                        const QByteArray &header)
{
    fileSystem = std::make_unique<FileService>();
    const auto failed = [&path](const QString &why) {
        return QStringLiteral("The capture file \"%1\" cannot be opened: %2").arg(path, why);
    };

    StreamResult opened;
    bool created = false;
    if (!fileSystem->FileExists(path)) {
        opened = fileSystem->CreateTextFile(path);
        created = opened.stream != nullptr;
        // Someone made the file after the test: continue it rather than start it again.
        if (opened.errorNumber == EEXIST)
            opened = fileSystem->OpenTextFile(path);
    } else {
        opened = fileSystem->OpenTextFile(path);
    }
    if (!opened.stream)
        return failed(opened.error);

    if (created && !header.isEmpty()) {
        const QString error = opened.stream->Write(header);
        if (!error.isEmpty()) {
            opened.stream->Close();
            return failed(error);
        }
    }
    stream = std::move(opened.stream);
    return {};
}

} // namespace Module5
