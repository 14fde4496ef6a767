#pragma once
// The simulated instrument on a pseudo-terminal: sends generated frames at a chosen pace,
// answers commands, can hang up, and logs exactly what it sent.
//
//   FrameGenerator --> queue --> pty master ==> slave (/dev/pts/N, the monitor's "COM n")
//   CommandResponder <-- pty master <== what the monitor sends
//
// The instrument keeps a descriptor of the slave side open for its whole life, so a
// monitor that closes and re-opens the port (Reset Comm) loses nothing in between.

#include "tools/framegenerator.h"

#include <QString>

#include <cstdint>

struct SimOptions
{
    SimProfile profile = SimProfile::Frame;
    std::uint64_t seed = 1;
    bool binary = false;
    qint64 rate = 960;    // characters per second; 0: as fast as the reader takes them
    int intervalMs = 250; // pause after each frame
    qint64 count = -1;    // frames to send; -1: no end
    bool exitAfterCount = false;
    qint64 hangupAfter = -1; // hang up after this many frames; -1: never
    QString linkPath;        // a comN entry to point at the slave side; empty: none
    QString logPath;         // file that receives every byte sent; empty: none
    int quietMs = 100;       // a command without its end is complete after this pause
};

class SimulatedInstrument
{
public:
    explicit SimulatedInstrument(SimOptions options);
    ~SimulatedInstrument();
    SimulatedInstrument(const SimulatedInstrument &) = delete;
    SimulatedInstrument &operator=(const SimulatedInstrument &) = delete;

    // Opens the pty, places the link and opens the log. False with error() on failure.
    bool open();
    QString slavePath() const { return m_slavePath; }
    // Runs until the instrument is done (count reached with exitAfterCount, hang-up) or
    // SIGTERM, SIGINT or SIGHUP arrives. The result is the process exit code.
    int run();
    QString error() const { return m_error; }

private:
    bool placeLink();
    void removeLink();
    bool logSent(const char *data, qsizetype size);
    void waitUntilTaken(int timeoutMs);
    void closePty();

    SimOptions m_options;
    int m_master = -1;
    int m_slave = -1;
    int m_log = -1;
    bool m_linkPlaced = false;
    QString m_slavePath;
    QString m_error;
};
