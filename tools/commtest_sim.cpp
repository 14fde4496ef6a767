// commtest-sim: a bench instrument on a pseudo-terminal, for trying the monitor without
// serial hardware and for our end-to-end tests.
#include "port/portmapping.h"
#include "port/portrules.h"
#include "tools/simulatedinstrument.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <limits>
#include <optional>

namespace {

const char *const kDescription = R"(A simulated bench instrument on a pseudo-terminal.

It prints the path of its serial device (e.g. /dev/pts/7) on the first line of standard
output, then sends readings until it is stopped (SIGTERM, SIGINT, or --count with
--exit-after-count). It waits for no one: what it sends before a monitor opens the device
waits there (up to the pseudo-terminal's buffer, then sending pauses).

Profiles:
  frame  readings framed STX ... CR, e.g. <STX>0001 CH2 +0023.451 <0xB0>C<CR>
         (the monitor's "<select application>" and "Analex PQM" profiles).
         Commands framed STX ... EOT (the "<STX>/<EOT>" suffix):
           READ   ACK, then a reading      ID   ACK, then <STX>COMMTEST-SIM,FRAME,1<CR>
           DLE    ACK alone (the monitor's "<SYN>" message 02 10 04)
           other  EOT alone
         Text without STX, ended by CR or LF or a 100 ms pause: EOT alone.
  line   measurement lines ended by CR LF, e.g. 0001;T1;+0023.45;<0xB0>C<CR><LF>
         (the monitor's "Houillon" profile).
         Commands are lines ended by CR, LF or a 100 ms pause:
           READ   a measurement line       ID   COMMTEST-SIM;LINE;1<CR><LF>
           other  ERR;UNKNOWN COMMAND<CR><LF>
Commands ignore case and surrounding spaces. A frame is never interrupted by an answer.
The same --seed gives the same frames on every machine. Answers to READ come from a
sequence of their own, so they do not change the unsolicited frames.

Exit status: 0 when stopped or done, 1 when the device, link or log fails, 2 for a bad
option.)";

std::optional<qint64> number(const QCommandLineParser &p, const QString &name, qint64 min,
                             qint64 max)
{
    bool ok = false;
    const qint64 v = p.value(name).toLongLong(&ok);
    if (!ok || v < min || v > max)
        return std::nullopt;
    return v;
}

int usage(const QString &text)
{
    std::fprintf(stderr, "commtest-sim: %s\nTry 'commtest-sim --help'.\n", qPrintable(text));
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("commtest-sim"));

    QCommandLineParser p;
    p.setApplicationDescription(QString::fromUtf8(kDescription));
    p.addHelpOption();
    const QString profile = QStringLiteral("profile"), rate = QStringLiteral("rate"),
                  seed = QStringLiteral("seed"), count = QStringLiteral("count"),
                  exitAfter = QStringLiteral("exit-after-count"),
                  hangup = QStringLiteral("hangup-after"), interval = QStringLiteral("interval-ms"),
                  binary = QStringLiteral("binary"), log = QStringLiteral("log"),
                  link = QStringLiteral("link"), port = QStringLiteral("port");
    p.addOptions({
        {profile, QStringLiteral("frame (default) or line."), QStringLiteral("frame|line"),
         QStringLiteral("frame")},
        {rate,
         QStringLiteral("Characters per second; 0: as fast as the reader takes them (default 960, "
                        "about 9600 baud)."),
         QStringLiteral("N"), QStringLiteral("960")},
        {seed, QStringLiteral("Seed of the generated frames (default 1)."), QStringLiteral("S"),
         QStringLiteral("1")},
        {count, QStringLiteral("Send N frames, then only answer commands; the line stays open."),
         QStringLiteral("N")},
        {exitAfter, QStringLiteral("With --count: end once the reader has taken the last frame.")},
        {hangup,
         QStringLiteral("After N frames close the device, as an unplugged adapter does, and end."),
         QStringLiteral("N")},
        {interval, QStringLiteral("Pause after each frame, in milliseconds (default 250)."),
         QStringLiteral("MS"), QStringLiteral("250")},
        {binary,
         QStringLiteral("Payloads of random bytes 0..255 (never a code that ends a frame) instead "
                        "of readings.")},
        {log, QStringLiteral("Write every byte sent, exactly, to FILE."), QStringLiteral("FILE")},
        {link,
         QStringLiteral("Point the link PATH at the device, e.g. ~/.config/commtest/ports/com4; "
                        "removed at the end."),
         QStringLiteral("PATH")},
        {port,
         QStringLiteral(
             "Map the device as COM N: the link comN under $XDG_CONFIG_HOME/commtest/ports "
             "(~/.config by default)."),
         QStringLiteral("N")},
    });
    if (!p.parse(QCoreApplication::arguments()))
        return usage(p.errorText());
    if (p.isSet(QStringLiteral("help")))
        p.showHelp(0);
    if (!p.positionalArguments().isEmpty())
        return usage(QStringLiteral("unexpected argument: ") +
                     p.positionalArguments().constFirst());

    SimOptions o;
    const QString profileName = p.value(profile);
    if (profileName == u"frame")
        o.profile = SimProfile::Frame;
    else if (profileName == u"line")
        o.profile = SimProfile::Line;
    else
        return usage(QStringLiteral("--profile must be frame or line, not ") + profileName);

    constexpr qint64 kMax = std::numeric_limits<qint64>::max() / 1000;
    const auto r = number(p, rate, 0, 100'000'000);
    if (!r)
        return usage(
            QStringLiteral("--rate must be a whole number of characters per second, 0 or more"));
    o.rate = *r;
    bool seedOk = false;
    o.seed = p.value(seed).toULongLong(&seedOk);
    if (!seedOk)
        return usage(QStringLiteral("--seed must be a whole number, 0 or more"));
    const auto iv = number(p, interval, 0, 3'600'000);
    if (!iv)
        return usage(
            QStringLiteral("--interval-ms must be a whole number of milliseconds, 0 to 3600000"));
    o.intervalMs = int(*iv);
    if (p.isSet(count)) {
        const auto c = number(p, count, 0, kMax);
        if (!c)
            return usage(QStringLiteral("--count must be a whole number, 0 or more"));
        o.count = *c;
    }
    o.exitAfterCount = p.isSet(exitAfter);
    if (o.exitAfterCount && o.count < 0)
        return usage(QStringLiteral("--exit-after-count needs --count"));
    if (p.isSet(hangup)) {
        const auto h = number(p, hangup, 0, kMax);
        if (!h)
            return usage(QStringLiteral("--hangup-after must be a whole number, 0 or more"));
        o.hangupAfter = *h;
    }
    o.binary = p.isSet(binary);
    o.logPath = p.value(log);
    if (p.isSet(link) && p.isSet(port))
        return usage(QStringLiteral("give --link or --port, not both"));
    if (p.isSet(link)) {
        o.linkPath = p.value(link);
        if (o.linkPath.isEmpty())
            return usage(QStringLiteral("--link needs a path"));
    }
    if (p.isSet(port)) {
        const std::optional<qint16> n = portNumberFromText(p.value(port));
        if (!n || *n <= 0)
            return usage(QStringLiteral("--port must be a port number from 1 to 32767"));
        o.linkPath = readPortMapping(*n).entry;
    }

    SimulatedInstrument instrument(o);
    if (!instrument.open()) {
        std::fprintf(stderr, "commtest-sim: %s\n", qPrintable(instrument.error()));
        return 1;
    }
    std::printf("%s\n", qPrintable(instrument.slavePath()));
    std::fflush(stdout);
    const int code = instrument.run();
    if (code != 0)
        std::fprintf(stderr, "commtest-sim: %s\n", qPrintable(instrument.error()));
    return code;
}
