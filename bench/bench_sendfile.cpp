// Sending a file, end to end, printed as figures: the window offscreen on the real serial
// layer, a pty as the device, a reader thread taking what arrives as fast as it comes.
// Prints the rate, whether every byte arrived in order, the longest time the window's
// event loop went without running a 5 ms timer, the most the port held at once, and the
// peak memory (VmHWM).
//
// Usage: bench_sendfile [megabytes, default 64]

#include "app/form_comm.h"
#include "port/serialcontrol.h"
#include "support/fakeopendialog.h"
#include "support/fakeoptionsprompt.h"
#include "support/fakesavedialog.h"
#include "support/pty.h"
#include "transmit/filesender.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <thread>

namespace {

QByteArray vmHwm()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return "?";
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed();
    }
    return "?";
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qint64 megabytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 64;
    const qint64 size = megabytes * 1024 * 1024;

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.bin"));
    QByteArray content(size, Qt::Uninitialized);
    QRandomGenerator(1).fillRange(reinterpret_cast<quint32 *>(content.data()), size / 4);
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != size) {
            std::fprintf(stderr, "bench_sendfile: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }

    PortMap map;
    Pty pty;
    map.map(4, pty.slavePath());
    auto open = std::make_unique<FakeOpenDialog>();
    open->answers = {path};
    Form_Comm form(std::make_unique<SerialControl>(), std::make_unique<FakeSaveDialog>(),
                   std::make_unique<FakeOptionsPrompt>());
    form.setOpenDialog(std::move(open));
    form.show();

    // The reader compares as it goes, so the file is not held twice.
    std::atomic<qint64> arrived{0};
    std::atomic<bool> inOrder{true};
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        QByteArray buf(1 << 16, Qt::Uninitialized);
        while (!stop && arrived < size) {
            pollfd p{pty.masterFd(), POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const ssize_t n = ::read(pty.masterFd(), buf.data(), size_t(buf.size()));
            if (n <= 0)
                continue;
            const qint64 at = arrived;
            if (at + n > size || std::memcmp(buf.constData(), content.constData() + at, size_t(n)))
                inOrder = false;
            arrived += n;
        }
    });

    qint64 longestGap = 0;
    qint64 maxHeld = 0;
    QElapsedTimer gap;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, gap.restart());
        maxHeld = std::max<qint64>(maxHeld, form.serial()->OutBufferCount().value_or(0));
    });

    auto *sender = form.findChild<FileSender *>(QStringLiteral("FileSender"));
    QElapsedTimer clock;
    clock.start();
    gap.start();
    ticker.start();
    form.findChild<QAction *>(QStringLiteral("act_sendFile"))->trigger();
    while (sender->isRunning() || arrived < size) {
        app.processEvents(QEventLoop::AllEvents, 5);
        if (clock.elapsed() > 600000)
            break;
    }
    const qint64 ms = clock.elapsed();
    stop = true;
    reader.join();

    std::printf("file: %lld MiB through a pty\n", megabytes);
    std::printf("rate: %.1f MiB/s (%lld ms)\n", double(size) / 1048576.0 * 1000.0 / double(ms), ms);
    std::printf("arrived whole and in order: %s (%lld of %lld bytes)\n",
                arrived == size && inOrder ? "yes" : "NO", qint64(arrived), size);
    std::printf("longest event-loop gap (5 ms timer): %lld ms\n", longestGap);
    std::printf("most the port held: %lld bytes\n", maxHeld);
    std::printf("peak memory VmHWM: %s (the file itself is held once, for the comparison)\n",
                vmHwm().constData());
    return arrived == size && inOrder ? 0 : 1;
}
