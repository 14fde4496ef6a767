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
CaptureSession::~CaptureSession()
{
    (void)flush(); // nobody is left to tell of a failure
}

CaptureSession::StartResult CaptureSession::start(const QString &path)
{
    std::unique_ptr<TextStream> opened;
    QString error = Module5::OpenCaptureFile(FileSystem, opened, path, QByteArray());
    if (!error.isEmpty())
        return {false, error};
    // Records queued for the previous file go there.
    const QString flushError = flush().error;
    // The previous file is closed, and its close checked, before records go to the new one.
    if (CaptureStream) {
        const QString closeError = CaptureStream->Close();
        if (!closeError.isEmpty())
            error = closeFailed(CaptureStream->path(), closeError);
    }
    CaptureStream = std::move(opened);
    CaptureEnabled = true;
    return {true, flushError.isEmpty() ? error : flushError};
}

QString CaptureSession::stop()
{
    const Flushed flushed = flush(); // a failure has stopped capture and says so
    if (!flushed.error.isEmpty())
        return flushed.error;
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
    queue(Prefix, sData);
    return flush().error;
}

void CaptureSession::queue(QByteArrayView Prefix, QByteArrayView sData)
{
    if (!CaptureEnabled || !CaptureStream)
        return;
    appendCaptureRecord(m_queued, Prefix, sData);
    m_ends.push_back(m_queued.size());
}

CaptureSession::Flushed CaptureSession::flush()
{
    if (m_ends.empty())
        return {};
    Flushed flushed;
    // Queued while capture was on: written even if it was turned off since.
    const QString error = CaptureStream ? CaptureStream->Write(m_queued, m_ends, &flushed.records)
                                        : QStringLiteral("The file is not open");
    m_queued.resize(0);
    m_ends.clear();
    if (error.isEmpty())
        return flushed;

    // Stop at the first failure, so the operator gets one message and not one per frame;
    // the stream has already cut off any part of a record.
    const QString path = CaptureStream ? CaptureStream->path() : QString();
    stop();
    flushed.error = QStringLiteral("Capture stopped: a record could not be written to \"%1\": %2. "
                                   "The file keeps every record written before.")
                        .arg(path, error);
    return flushed;
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
