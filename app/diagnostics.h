#pragma once
// Hooks for scripts and headless checks, read from the environment once at start-up:
//   COMMTEST_REPORT_PANEL=1    once the window is up, print the property panel's rows on
//                              standard output, one "Name: value" line each, then the
//                              device and the last error
//   COMMTEST_QUIT_AFTER_MS=N   after N ms close the window as "&Close" does, and end
// Unset, they change nothing.
//
// The command line (app/commandline.h): --help, --version, a bad argument and the queries
// --list and --device-for are answered here, without a window or a display.

#include "app/commandline.h"

#include <variant>

class Form_Comm;

void startDiagnostics(Form_Comm &window);

// The exit status when the command line is answered here; else what the window starts
// with. Call before creating the application object.
std::variant<int, CommandLine> answerCommandLine(int argc, char *argv[]);
