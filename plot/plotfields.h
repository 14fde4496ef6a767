#pragma once
// The numbers in one received frame, for the Plot window: a pure function of the frame's
// bytes (Latin-1) and the header seen before.
//
// Fields are separated by commas, semicolons, tabs, runs of spaces and control characters.
//   name:value, name: value, name=value    a point of series "name"
//   12.5  -1.5e3  +0023.451                a number; a unit may follow directly (12.5V,
//                                          45%) or as the next field (+0023.451 °C)
//   CH2 +0023.451                          a short text field (a letter first, at most 16
//                                          characters) directly before a number names it
//   other numbers                          series "1", "2", ... by their position among
//                                          the frame's unnamed numbers
//   time,temp,hum                          a frame of text fields only (two or more, each
//                                          starting with a letter) names the positional
//                                          series from then on
// nan, inf and values out of range (1e999) take their place as a reading that is not a
// number; they are counted, never plotted.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <vector>

// How a number was written, packed in 32 bits so a stored value can be written back
// exactly as it came (plotNumberText); kPlotNoFormat when it cannot be (more than 15
// significant digits, say), and the value's shortest exact form is written instead.
inline constexpr quint32 kPlotNoFormat = 0xFFFFFFFFu;

struct PlotReading
{
    QByteArrayView name; // the series' name; empty for an unnamed number
    int position = 0;    // 1, 2, ... among the frame's unnamed numbers (0 when named)
    QByteArrayView unit; // empty when none
    QByteArrayView text; // the number as written
    double value = 0;    // NaN when not a number (nan, inf, out of range)
    quint32 format = kPlotNoFormat;
};

// What a caller keeps between frames: the names a header frame gave.
struct PlotHeader
{
    QList<QByteArray> names;
};

// Replaces readings with the frame's readings, in the order they came. Views point into
// frame and header; a header frame changes header and gives no readings.
void parsePlotFields(QByteArrayView frame, PlotHeader &header, std::vector<PlotReading> &readings);

// The text of a number as it came, from its value and format.
QByteArray plotNumberText(double value, quint32 format);
