#include "app/commandline.h"

#include "port/portrules.h"

#include <array>

#ifndef COMMTEST_VERSION
#error "COMMTEST_VERSION comes from the CMake project version (app/CMakeLists.txt)"
#endif

namespace {

// Qt's own options, read by the application object; ours all have two dashes.
constexpr std::array kQtValueOptions{
    "platform",        "platformpluginpath", "platformtheme", "plugin",
    "qwindowgeometry", "qwindowicon",        "qwindowtitle",  "session",
    "display",         "geometry",           "style",         "stylesheet"};
constexpr std::array kQtFlags{"reverse", "nograb", "dograb", "widgetcount"};

bool contains(const auto &names, const QString &name)
{
    for (const char *n : names)
        if (name == QLatin1String(n))
            return true;
    return false;
}

CommandLineExit failure(const QString &text)
{
    return {QStringLiteral("commtest: ") + text + u'\n' + usageText(), 2};
}

std::optional<qint16> portNumber(const QString &text)
{
    const std::optional<qint16> port = portNumberFromText(text);
    if (!port || *port <= 0)
        return std::nullopt;
    return port;
}

} // namespace

QString versionText()
{
    return QStringLiteral("commtest " COMMTEST_VERSION);
}

QString usageText()
{
    return QStringLiteral("usage: commtest [--port N] [--settings TEXT]\n"
                          "       commtest --list\n"
                          "       commtest --device-for N\n"
                          "       commtest --help | --version\n");
}

QString helpText()
{
    return usageText() +
           QStringLiteral(
               "\n"
               "Exercise and monitor one serial (RS-232) port.\n"
               "\n"
               "Options:\n"
               "  --port N           open COM N at start-up instead of COM 4\n"
               "  --settings TEXT    the settings text at start-up, baud,parity,data,stop\n"
               "                     (default 9600,n,8,1)\n"
               "  --list             print each entry of the ports folder and what it maps to,\n"
               "                     then each serial device attached now; no display needed\n"
               "  --device-for N     print the device COM N opens (a network port's URL), and\n"
               "                     \"mapped in ENTRY\" when the ports folder names it; exit 1\n"
               "                     with the reason when it does not open\n"
               "  -h, --help         print this help\n"
               "  --version          print the version\n"
               "\n"
               "COM N is the entry comN in $XDG_CONFIG_HOME/commtest/ports (~/.config by "
               "default),\n"
               "else /dev/ttyS<N-1>. While the window runs, SIGUSR2 releases the port (for a\n"
               "flashing tool) and SIGUSR1 opens it again with the settings in force.\n"
               "Qt's own options (-platform NAME, -style NAME, ...) are passed to Qt.\n"
               "\n"
               "Exit status: 0 done, 1 the port of --device-for does not open, 2 a bad "
               "argument.\n");
}

std::variant<CommandLine, CommandLineExit> parseCommandLine(const QStringList &arguments)
{
    CommandLine line;
    bool query = false;  // --list or --device-for seen
    bool window = false; // --port or --settings seen
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments.at(i);
        if (arg == u"-h" || arg == u"--help")
            return CommandLineExit{helpText(), 0};
        if (arg == u"--version")
            return CommandLineExit{versionText() + u'\n', 0};
        if (!arg.startsWith(u"--")) {
            if (arg.size() > 1 && arg.startsWith(u'-')) {
                const QString name = arg.mid(1).section(u'=', 0, 0);
                if (contains(kQtFlags, name) && !arg.contains(u'='))
                    continue;
                if (contains(kQtValueOptions, name)) {
                    if (!arg.contains(u'=') && ++i >= arguments.size())
                        return failure(QStringLiteral("option '%1' needs a value").arg(arg));
                    continue;
                }
                return failure(QStringLiteral("unknown option '%1'").arg(arg));
            }
            return failure(QStringLiteral("unexpected argument '%1'").arg(arg));
        }

        const qsizetype eq = arg.indexOf(u'=');
        const QString name = eq < 0 ? arg : arg.left(eq);
        const bool takesValue =
            name == u"--port" || name == u"--settings" || name == u"--device-for";
        if (!takesValue && name != u"--list")
            return failure(QStringLiteral("unknown option '%1'").arg(name));
        QString value;
        if (takesValue) {
            if (eq >= 0)
                value = arg.mid(eq + 1);
            else if (i + 1 < arguments.size())
                value = arguments.at(++i);
            else
                return failure(QStringLiteral("option '%1' needs a value").arg(name));
        } else if (eq >= 0) {
            return failure(QStringLiteral("option '%1' takes no value").arg(name));
        }

        if (name == u"--port" || name == u"--device-for") {
            const std::optional<qint16> port = portNumber(value);
            if (!port)
                return failure(QStringLiteral("%1 needs a port number from 1 to 32767, not '%2'")
                                   .arg(name, value));
            line.port = port;
        } else if (name == u"--settings") {
            if (!parseSettings(value))
                return failure(QStringLiteral("--settings: '%1' is not a settings text "
                                              "(baud,parity,data,stop, e.g. 9600,n,8,1)")
                                   .arg(value));
            line.settings = value;
        }
        if (name == u"--list" || name == u"--device-for") {
            if (query)
                return failure(QStringLiteral("only one of --list and --device-for"));
            query = true;
            line.action =
                name == u"--list" ? CommandLine::Action::List : CommandLine::Action::DeviceFor;
        } else {
            window = true;
        }
    }
    if (query && window)
        return failure(QStringLiteral("--port and --settings are for the window, not for "
                                      "--list or --device-for"));
    return line;
}
