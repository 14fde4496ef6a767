#pragma once
// The command line as a value: arguments in, either what to start (the window on a port,
// or a query answered without a display) or text to print with the exit status.
//
//   argv --parseCommandLine--> CommandLine (window, --list, --device-for N)
//                          \-> CommandLineExit (--help, --version, a bad argument)
//
// No option: the window starts as it always has (COM 4, the settings box's text).

#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

struct CommandLine
{
    enum class Action {
        Window,    // show the monitor window
        List,      // --list: the ports folder's entries and the devices attached now
        DeviceFor, // --device-for N: which device port N opens
    };
    Action action = Action::Window;
    // --port N for the window, N of --device-for for the query.
    std::optional<qint16> port;
    // --settings TEXT: a text parseSettings takes, as given.
    std::optional<QString> settings;
    friend bool operator==(const CommandLine &, const CommandLine &) = default;
};

// What to print and the exit status: status 0 prints on standard output, any other on
// standard error.
struct CommandLineExit
{
    QString text;
    int status = 0;
    friend bool operator==(const CommandLineExit &, const CommandLineExit &) = default;
};

// arguments without the program name. Options take their value as the next argument or
// after "=" (--port=5). Qt's own toolkit options (-platform NAME, -style NAME, -reverse and
// the like, one dash) are let through for the application object. --help and --version
// answer at once; anything unknown, a missing value or a value out of range is status 2.
std::variant<CommandLine, CommandLineExit> parseCommandLine(const QStringList &arguments);

// "commtest 0.1.0": the project's version.
QString versionText();
// The synopsis, as printed after an error.
QString usageText();
// The synopsis and every option, for --help.
QString helpText();
