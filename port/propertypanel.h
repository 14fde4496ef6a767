#pragma once
// The property panel, one table row per shown property: its caption, its place on the
// panel, how its value is read and shown, and what a click on its name does.
//
//   RefreshPropertyPanel: for each row in order, read(serial) --> value cell text
//   lblfield_Click(name index) --> rowOfName --> click(serial, value cell text) --> refresh
//
// A row's number is the index of its value cell (lbl_val); its name label (lblfield) has
// the same index up to Break and one more from CDHolding on: there is no name label 4.

#include <QString>

#include <array>
#include <optional>

class SerialControl;

namespace PropertyPanel {

enum class Row : qint16 {
    CommPort,
    Settings,
    PortOpen,
    Break,
    CDHolding,
    CTSHolding,
    DSRHolding,
    DTREnable,
    EOFEnable,
    HandShaking,
    RThreshold,
    SThreshold,
    RTSEnable,
    InBufferCount,
    InBufferSize,
    InputLen,
    InputMode,
    NullDiscard,
    OutBufferCount,
    OutBufferSize,
    ParityReplace,
};

inline constexpr int kRowCount = 21;
// Name label indexes run from 0 to kNameCount - 1, with 4 missing.
inline constexpr int kNameCount = 22;

constexpr int valueIndex(Row row)
{
    return int(row);
}
constexpr qint16 nameIndex(Row row)
{
    return row <= Row::Break ? qint16(row) : qint16(int(row) + 1);
}
// The row whose name label has this index; none for 4 and outside 0..21.
std::optional<Row> rowOfName(qint16 nameIndex);

// A click's own work, before the refresh every click ends with. caption is the text of
// the row's value cell, which the action may rewrite. Returns the error text for the
// operator when the serial control refused a write; empty otherwise.
using ClickAction = QString (*)(SerialControl &serial, QString &caption);

// Sizes shared by every row, in twips.
inline constexpr int kNameHeight = 255;
inline constexpr int kValueWidth = 975;
inline constexpr int kValueHeight = 300;

struct RowEntry
{
    Row row;
    const char *caption;
    // Place in the panel frame, in twips: the row's top, its name label's left and width,
    // its value cell's left.
    int top;
    int nameLeft;
    int nameWidth;
    int valueLeft;
    // Reads the property and formats it as shown; none when the read failed.
    std::optional<QString> (*read)(const SerialControl &serial);
    // Null when a click on the name only refreshes.
    ClickAction click;
};

// Every row, in refresh order: kRows[valueIndex(r)].row == r.
extern const std::array<RowEntry, kRowCount> kRows;

inline const RowEntry &entry(Row row)
{
    return kRows[std::size_t(valueIndex(row))];
}

} // namespace PropertyPanel
