// How fast frames become records, and records reach the file: characters per second.
#include "capture/capturerecord.h"
#include "capture/fileservice.h"
#include "capture/module5.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

QByteArray frameOf(qsizetype length)
{
    QByteArray frame(length - 1, Qt::Uninitialized);
    for (qsizetype i = 0; i < frame.size(); ++i)
        frame[i] = char(32 + (i * 7) % 223);
    return frame + '\r';
}

void formatRecord(benchmark::State &state)
{
    const QByteArray frame = frameOf(state.range(0));
    const QByteArray prefix("12/7/2026 2:03:05 PM, S1,");
    QByteArray out;
    for (auto _ : state) {
        out.resize(0);
        appendCaptureRecord(out, prefix, frame);
        benchmark::DoNotOptimize(out.constData());
    }
    state.SetBytesProcessed(state.iterations() * frame.size());
}
BENCHMARK(formatRecord)->Arg(4)->Arg(16)->Arg(256)->Arg(100000);

// Format and write, as the window does per frame: one write system call per record.
void formatAndWrite(benchmark::State &state)
{
    QTemporaryDir dir;
    std::unique_ptr<FileService> fs;
    std::unique_ptr<TextStream> stream;
    if (!Module5::OpenCaptureFile(fs, stream, dir.filePath(QStringLiteral("bench.txt")),
                                  QByteArray())
             .isEmpty()) {
        state.SkipWithError("cannot open the file");
        return;
    }
    const QByteArray frame = frameOf(state.range(0));
    QByteArray out;
    for (auto _ : state) {
        out.resize(0);
        appendCaptureRecord(out, QByteArray(), frame);
        if (!stream->Write(out).isEmpty()) {
            state.SkipWithError("write failed");
            break;
        }
    }
    stream->Close();
    state.SetBytesProcessed(state.iterations() * frame.size());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(formatAndWrite)->Arg(16)->Arg(256);

} // namespace

BENCHMARK_MAIN();
