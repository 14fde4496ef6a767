#pragma once
// Hooks for scripts and headless checks, read from the environment once at start-up:
//   COMMTEST_REPORT_PANEL=1    once the window is up, print the property panel's rows on
//                              standard output, one "Name: value" line each, then the
//                              device and the last error
//   COMMTEST_QUIT_AFTER_MS=N   after N ms close the window as "&Close" does, and end
// Unset, they change nothing.

class Form_Comm;

void startDiagnostics(Form_Comm &window);
