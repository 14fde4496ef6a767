// The end-to-end receive rate with the accessibility bus off and on, on a real X server.
//
// Starts everything it needs and stops it again: Xvfb on a free display, a private D-Bus
// session, the accessibility bus (at-spi-bus-launcher, which starts at-spi2-registryd) and
// a listener that registers for the events a screen reader reads (a11y_listener.py), since
// Qt sends accessibility events only for events somebody listens to. Then runs the end to
// end part of bench_receive twice as a child on the xcb platform, once without and once
// with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1, and prints both rates and their ratio.
//
// Usage: bench_a11y [megabytes, default 20] [--frame-length N, default 46] [--runs N, default 1]
//                   [--cpu [--seconds S, default 10] [--prefill] [--stream RATE/TICK]]
//   --runs N   N pairs of runs, off and on in turn, for a machine whose load varies: prints
//              each pair, then the median of each and the ratio of the medians.
//   --cpu      instead of the flood: the share of one core the window uses while an
//              instrument sends 47-character frames at 1,152 and 11,520 characters/s in
//              writes every 20 ms and every 1 ms, capture on, with accessibility off and on
//              (bench_receive --paced); with --runs, the median of each. --prefill: with
//              both panes at their line limits first, as after a while at the bench.
//              --stream 11520/1: that stream alone (for a profile of one case).
// Exits 77 with a message when Xvfb, dbus-daemon, at-spi2-core or python3-pyatspi is missing.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kSkipped = 77;

QString findProgram(const QString &name, const QStringList &extraPaths = {})
{
    QString found = QStandardPaths::findExecutable(name);
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(name, extraPaths);
    return found;
}

// Reads one line from a child's standard output, waiting at most timeoutMs.
std::optional<QByteArray> readLine(QProcess &p, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!p.canReadLine()) {
        if (deadline.hasExpired() || p.state() == QProcess::NotRunning)
            return std::nullopt;
        p.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
    }
    return p.readLine().trimmed();
}

// The processes this program started, stopped in reverse order however it ends. Each runs
// in a process group of its own, so what it starts in turn (the accessibility bus's
// dbus-daemon, the registry) stops with it.
class Services
{
public:
    ~Services()
    {
        for (auto it = m_started.rbegin(); it != m_started.rend(); ++it) {
            QProcess &p = **it;
            if (p.state() == QProcess::NotRunning)
                continue;
            const pid_t group = pid_t(p.processId());
            ::kill(-group, SIGTERM);
            if (!p.waitForFinished(3000)) {
                ::kill(-group, SIGKILL);
                p.waitForFinished(3000);
            }
        }
    }

    QProcess &start(const QString &program, const QStringList &args, const QProcessEnvironment &env)
    {
        m_started.push_back(std::make_unique<QProcess>());
        QProcess &p = *m_started.back();
        p.setProgram(program);
        p.setArguments(args);
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::SeparateChannels);
        p.setStandardErrorFile(QProcess::nullDevice());
        p.setChildProcessModifier([] { ::setpgid(0, 0); });
        p.start();
        p.waitForStarted(5000);
        return p;
    }

private:
    std::vector<std::unique_ptr<QProcess>> m_started;
};

QString a11yStatus(const QDBusConnection &session)
{
    QDBusInterface status(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                          QStringLiteral("org.a11y.Status"), session);
    return QStringLiteral("IsEnabled=%1 ScreenReaderEnabled=%2")
        .arg(status.property("IsEnabled").toString(),
             status.property("ScreenReaderEnabled").toString());
}

struct Run
{
    double rate = 0; // M characters/s (with --paced: % of one core), 0 when the run failed
    QByteArray events;
};

Run runChild(const QString &bench, const QStringList &args, QProcessEnvironment env,
             bool accessibility, QProcess &listener)
{
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    if (accessibility)
        env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    listener.write("reset\n");
    listener.waitForBytesWritten(5000);
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(bench, args);
    QByteArray out;
    // Bounded only so a hung child cannot keep the bench (and everything it started) alive.
    QDeadlineTimer deadline(900000);
    while (child.state() != QProcess::NotRunning && !deadline.hasExpired()) {
        child.waitForReadyRead(1000);
        const QByteArray part = child.readAll();
        std::fwrite(part.constData(), 1, size_t(part.size()), stdout);
        std::fflush(stdout);
        out += part;
    }
    if (child.state() != QProcess::NotRunning) {
        std::printf("bench_a11y: the child did not finish in 900 s; stopped it\n");
        child.kill();
        child.waitForFinished(5000);
    }
    out += child.readAll();
    Run run;
    listener.write("count\n");
    listener.waitForBytesWritten(5000);
    if (const auto line = readLine(listener, 10000))
        run.events = *line;
    static const QRegularExpression rate(
        QStringLiteral("([0-9.]+)(?: M characters/s sustained|% of one core)"));
    const auto match = rate.match(QString::fromLocal8Bit(out));
    const bool complete = out.contains("capture complete");
    const bool asked =
        out.contains(accessibility ? "accessibility active" : "accessibility inactive");
    if (child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0 && match.hasMatch() &&
        complete && asked)
        run.rate = match.captured(1).toDouble();
    else if (!asked)
        std::printf("bench_a11y: accessibility was not %s in the child\n",
                    accessibility ? "active" : "inactive");
    return run;
}

int skip(const char *what)
{
    std::printf("bench_a11y: skipped: %s\n", what);
    return kSkipped;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString megabytes = QStringLiteral("20");
    QString frameLength = QStringLiteral("46");
    int runs = 1;
    bool cpu = false;
    bool prefill = false;
    QString seconds = QStringLiteral("10");
    QString onlyStream;
    const QStringList args = app.arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == u"--cpu")
            cpu = true;
        else if (args[i] == u"--prefill")
            prefill = true;
        else if (args[i] == u"--stream" && i + 1 < args.size())
            onlyStream = args[++i];
        else if (args[i] == u"--seconds" && i + 1 < args.size())
            seconds = args[++i];
        else if (args[i] == u"--frame-length" && i + 1 < args.size())
            frameLength = args[++i];
        else if (args[i] == u"--runs" && i + 1 < args.size())
            runs = std::max(1, args[++i].toInt());
        else if (args[i].toLongLong() > 0)
            megabytes = args[i];
    }

    const QStringList libexec{QStringLiteral("/usr/libexec"),
                              QStringLiteral("/usr/lib/at-spi2-core"),
                              QStringLiteral("/usr/libexec/at-spi2")};
    const QString xvfb = findProgram(QStringLiteral("Xvfb"));
    const QString dbus = findProgram(QStringLiteral("dbus-daemon"));
    const QString launcher = findProgram(QStringLiteral("at-spi-bus-launcher"), libexec);
    // Debian's python3-pyatspi is there for Debian's python, which another python3 earlier
    // on the PATH (a pyenv, a venv) may hide.
    QString python;
    for (const QString &candidate :
         {QStringLiteral("/usr/bin/python3"), findProgram(QStringLiteral("python3"))}) {
        if (!candidate.isEmpty() && QFileInfo(candidate).isExecutable() &&
            QProcess::execute(candidate,
                              {QStringLiteral("-c"), QStringLiteral("import pyatspi")}) == 0) {
            python = candidate;
            break;
        }
    }
    const QString listenerScript = QStringLiteral(COMMTEST_A11Y_LISTENER);
    const QString bench = QCoreApplication::applicationDirPath() + QStringLiteral("/bench_receive");
    if (xvfb.isEmpty())
        return skip("no Xvfb (apt-get install xvfb)");
    if (dbus.isEmpty())
        return skip("no dbus-daemon (apt-get install dbus-daemon)");
    if (launcher.isEmpty())
        return skip("no at-spi-bus-launcher (apt-get install at-spi2-core)");
    if (python.isEmpty())
        return skip("no python3-pyatspi (apt-get install python3-pyatspi)");
    if (!QFileInfo(bench).isExecutable()) {
        std::printf("bench_a11y: no %s; build the bench_receive target\n", qPrintable(bench));
        return 1;
    }

    QTemporaryDir runtime; // a private XDG_RUNTIME_DIR, so nothing meets the user's buses
    if (!runtime.isValid())
        return 1;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "AT_SPI_BUS_ADDRESS",
                             "QT_ACCESSIBILITY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());

    Services services;
    QProcess &x = services.start(xvfb,
                                 {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                  QStringLiteral("-screen"), QStringLiteral("0"),
                                  QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                                  QStringLiteral("tcp")},
                                 env);
    const auto display = readLine(x, 20000);
    if (!display || display->isEmpty()) {
        std::printf("bench_a11y: Xvfb did not start\n");
        return 1;
    }
    env.insert(QStringLiteral("DISPLAY"), QLatin1Char(':') + QString::fromLatin1(*display));

    QProcess &bus = services.start(dbus,
                                   {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                    QStringLiteral("--print-address=1")},
                                   env);
    const auto address = readLine(bus, 20000);
    if (!address || address->isEmpty()) {
        std::printf("bench_a11y: dbus-daemon did not start\n");
        return 1;
    }
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromLatin1(*address));
    QDBusConnection session =
        QDBusConnection::connectToBus(QString::fromLatin1(*address), QStringLiteral("bench"));

    services.start(launcher, {QStringLiteral("--launch-immediately")}, env);
    QString a11yAddress;
    for (QDeadlineTimer deadline(20000); a11yAddress.isEmpty() && !deadline.hasExpired();) {
        QDBusInterface busIf(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                             QStringLiteral("org.a11y.Bus"), session);
        const QDBusReply<QString> reply = busIf.call(QStringLiteral("GetAddress"));
        if (reply.isValid())
            a11yAddress = reply.value();
        else
            QThread::msleep(100);
    }
    if (a11yAddress.isEmpty()) {
        std::printf("bench_a11y: the accessibility bus did not start\n");
        return 1;
    }

    QProcess &listener = services.start(python, {listenerScript}, env);
    const auto ready = readLine(listener, 30000);
    if (!ready || *ready != "ready") {
        std::printf("bench_a11y: the accessibility listener did not start: %s\n",
                    ready ? ready->constData() : "no answer");
        return 1;
    }
    std::printf("bench_a11y: Xvfb on display :%s, accessibility bus %s, %s; a listener for "
                "text, property and state changes\n",
                display->constData(), qPrintable(a11yAddress), qPrintable(a11yStatus(session)));
    std::fflush(stdout);

    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        const size_t n = v.size();
        return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    };
    if (cpu) {
        std::printf("| stream | accessibility off | accessibility on |\n|---|---|---|\n");
        const std::pair<int, int> streams[] = {{1152, 20}, {11520, 20}, {11520, 1}, {1152, 1}};
        for (const auto &[rate, tick] : streams) {
            if (!onlyStream.isEmpty() && onlyStream != QStringLiteral("%1/%2").arg(rate).arg(tick))
                continue;
            std::vector<double> off;
            std::vector<double> on;
            QStringList paced{QStringLiteral("--window-only"), QStringLiteral("--paced"),
                                    QString::number(rate), QStringLiteral("--tick"),
                                    QString::number(tick), QStringLiteral("--seconds"), seconds};
            if (prefill)
                paced << QStringLiteral("--prefill");
            for (int r = 0; r < runs; ++r) {
                for (bool a11y : {false, true}) {
                    const Run run = runChild(bench, paced, env, a11y, listener);
                    if (run.rate <= 0) {
                        std::printf("bench_a11y: a run failed; see its output above\n");
                        return 1;
                    }
                    (a11y ? on : off).push_back(run.rate);
                    if (a11y)
                        std::printf("  listener heard %s\n", run.events.constData());
                }
            }
            std::printf("| %d characters/s in writes every %d ms | %.1f%% | %.1f%% |\n", rate,
                        tick, median(off), median(on));
            std::fflush(stdout);
        }
        return 0;
    }
    const QStringList childArgs{megabytes, QStringLiteral("--window-only"),
                                QStringLiteral("--frame-length"), frameLength};
    std::vector<double> offRates;
    std::vector<double> onRates;
    for (int r = 0; r < runs; ++r) {
        const Run off = runChild(bench, childArgs, env, false, listener);
        const Run on = runChild(bench, childArgs, env, true, listener);
        std::printf("accessibility off: %.2f M characters/s (listener heard %s)\n", off.rate,
                    off.events.constData());
        std::printf("accessibility on:  %.2f M characters/s (listener heard %s)\n", on.rate,
                    on.events.constData());
        if (off.rate <= 0 || on.rate <= 0) {
            std::printf("bench_a11y: a run failed; see its output above\n");
            return 1;
        }
        offRates.push_back(off.rate);
        onRates.push_back(on.rate);
    }
    const double off = median(offRates);
    const double on = median(onRates);
    if (runs > 1)
        std::printf("median of %d runs: off %.2f, on %.2f M characters/s\n", runs, off, on);
    std::printf("ratio on/off: %.2f (goal: at least 0.80, and at least 3.6 M characters/s with "
                "accessibility on)\n",
                on / off);
    return 0;
}
