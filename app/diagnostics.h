#pragma once
// Hooks for scripts and headless checks, read from the environment once at start-up:
//   COMMTEST_REPORT_PANEL=1    once the window is up, print the property panel's rows on
//                              standard output, one "Name: value" line each, then the
//                              device and the last error
//   COMMTEST_QUIT_AFTER_MS=N   after N ms close the window as "&Close" does, and end
// Unset, they change nothing.
//
// A query answered from the command line, without a window or a display:
//   commtest --device-for N    opens port N as the window would and closes it again; prints
//                              the device on standard output, then "mapped in ENTRY" when
//                              the ports folder names it. Exit status 0 when it opened, 1
//                              with the reason on standard error when it did not, 2 for a
//                              bad port number.

#include <optional>

class Form_Comm;

void startDiagnostics(Form_Comm &window);

// The exit status when the arguments are a command-line query (answered here), nothing
// when the window should start. Call before creating the application object.
std::optional<int> answerQuery(int argc, char *argv[]);
