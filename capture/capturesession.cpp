#include "capture/capturesession.h"

#include "capture/capturerecord.h"
#include "capture/fileservice.h"
#include "capture/module5.h"

namespace {

QString closeFailed(const QString &path, const QString &error)
{
    return QStringLiteral("The capture file \"%1\" was closed with an error: %2").arg(path, error);
}

} // namespace

CaptureSession::CaptureSession() = default;
CaptureSession::~CaptureSession() = default;

CaptureSession::StartResult CaptureSession::start(const QString &path)
{
    std::unique_ptr<TextStream> opened;
    QString error = Module5::OpenCaptureFile(FileSystem, opened, path, QByteArray());
    if (!error.isEmpty())
        return {false, error};
    // The previous file is closed, and its close checked, before records go to the new one.
    if (CaptureStream) {
        const QString closeError = CaptureStream->Close();
        if (!closeError.isEmpty())
            error = closeFailed(CaptureStream->path(), closeError);
    }
    CaptureStream = std::move(opened);
    CaptureEnabled = true;
    return {true, error};
}

QString CaptureSession::stop()
{
    CaptureEnabled = false;
    QString error;
    if (CaptureStream) {
        const QString closeError = CaptureStream->Close();
        if (!closeError.isEmpty())
            error = closeFailed(CaptureStream->path(), closeError);
    }
    FileSystem.reset();
    CaptureStream.reset();
    return error;
}

QString CaptureSession::write(QByteArrayView Prefix, QByteArrayView sData)
{
    if (!CaptureEnabled || !CaptureStream)
        return {};
    m_record.resize(0);
    appendCaptureRecord(m_record, Prefix, sData);
    const QString error = CaptureStream->Write(m_record);
    if (error.isEmpty())
        return {};

    // Stop at the first failure, so the operator gets one message and not one per frame;
    // the stream has already cut off any part of this record.
    const QString path = CaptureStream->path();
    stop();
    return QStringLiteral("Capture stopped: a record could not be written to \"%1\": %2. "
                          "The file keeps every record written before.")
        .arg(path, error);
}

void CaptureSession::setOptions(const QString &source, bool timestamp)
{
    SourceString = trimBlanks(source);
    IncludeTimestamp = timestamp;
}

QString CaptureSession::path() const
{
    return CaptureStream ? CaptureStream->path() : QString();
}
