#pragma once

#include <QtGlobal>

// Error counters as a serial driver keeps them (framing, parity, overrun, ...).
struct LineErrorCounts
{
    quint64 framing = 0;
    quint64 parity = 0;
    quint64 overrun = 0;       // the UART's own receive register overran
    quint64 bufferOverrun = 0; // the driver's buffer overflowed
    quint64 breaks = 0;
    quint64 total() const { return framing + parity + overrun + bufferOverrun + breaks; }
    friend bool operator==(const LineErrorCounts &, const LineErrorCounts &) = default;
};
