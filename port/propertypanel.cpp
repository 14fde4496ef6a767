#include "port/propertypanel.h"

#include "port/serialcontrol.h"

#include <type_traits>

namespace PropertyPanel {

namespace {

template<typename T>
std::optional<QString> shown(const std::optional<T> &v)
{
    if (!v)
        return std::nullopt;
    if constexpr (std::is_same_v<T, bool>)
        return *v ? QStringLiteral("True") : QStringLiteral("False");
    else if constexpr (std::is_same_v<T, QString>)
        return *v;
    else
        return QString::number(*v);
}

QString refused(const char *caption, const SerialControl &s)
{
    return QString::fromLatin1(caption) + QStringLiteral(" could not be changed: ") + s.lastError();
}

QString invertBreak(SerialControl &s, QString &)
{
    if (const std::optional<bool> b = s.Break(); b && !s.setBreak(!*b))
        return refused("Break", s);
    return {};
}

QString invertEOFEnable(SerialControl &s, QString &)
{
    if (const std::optional<bool> b = s.EOFEnable(); b && !s.setEOFEnable(!*b))
        return refused("EOFEnable", s);
    return {};
}

// Steps from the number shown, not from the control's value; a cell that holds no number
// is left alone.
QString stepHandshaking(SerialControl &s, QString &caption)
{
    bool ok = false;
    const int shownMode = caption.trimmed().toShort(&ok);
    if (!ok)
        return {};
    caption = shownMode < 3 ? QString::number(shownMode + 1) : QStringLiteral("0");
    const qint32 mode = caption.trimmed().toShort();
    if (!s.setHandshaking(mode))
        return refused("HandShaking", s);
    return {};
}

// Columns of the grid: name left, name width (wider on the right for three long
// captions), value left.
constexpr int L = 240, LV = 1440;
constexpr int M = 2880, MV = 4200;
constexpr int R = 5880, RV = 7200;
constexpr int W = 975, WR = 1215;

#define READ(member) [](const SerialControl &s) { return shown(s.member()); }

constexpr std::array<RowEntry, kRowCount> kTable = {{
    {Row::CommPort, "CommPort", 720, L, W, LV, READ(CommPort), nullptr},
    {Row::Settings, "Settings", 720, M, W, MV, READ(Settings), nullptr},
    {Row::PortOpen, "PortOpen", 720, R, W, RV, READ(PortOpen), nullptr},
    {Row::Break, "Break", 1080, L, W, LV, READ(Break), invertBreak},
    {Row::CDHolding, "CDHolding", 1440, L, W, LV, READ(CDHolding), nullptr},
    {Row::CTSHolding, "CTSHolding", 1800, L, W, LV, READ(CTSHolding), nullptr},
    {Row::DSRHolding, "DSRHolding", 2160, L, W, LV, READ(DSRHolding), nullptr},
    {Row::DTREnable, "DTREnable", 2520, L, W, LV, READ(DTREnable), nullptr},
    {Row::EOFEnable, "EOFEnable", 2880, L, W, LV, READ(EOFEnable), invertEOFEnable},
    {Row::HandShaking, "HandShaking", 3240, L, W, LV, READ(Handshaking), stepHandshaking},
    {Row::RThreshold, "RThreshold", 3840, L, W, LV, READ(RThreshold), nullptr},
    {Row::SThreshold, "SThreshold", 3840, M, W, MV, READ(SThreshold), nullptr},
    {Row::RTSEnable, "RTSEnable", 3840, R, W, RV, READ(RTSEnable), nullptr},
    {Row::InBufferCount, "InBufferCount", 1080, M, W, MV, READ(InBufferCount), nullptr},
    {Row::InBufferSize, "InBufferSize", 1440, M, W, MV, READ(InBufferSize), nullptr},
    {Row::InputLen, "InputLen", 1800, M, W, MV, READ(InputLen), nullptr},
    {Row::InputMode, "InputMode", 2160, M, W, MV, READ(InputMode), nullptr},
    {Row::NullDiscard, "NullDiscard", 2520, M, W, MV, READ(NullDiscard), nullptr},
    {Row::OutBufferCount, "OutBufferCount", 1080, R, WR, RV, READ(OutBufferCount), nullptr},
    {Row::OutBufferSize, "OutBufferSize", 1440, R, WR, RV, READ(OutBufferSize), nullptr},
    {Row::ParityReplace, "ParityReplace", 1800, R, WR, RV, READ(ParityReplace), nullptr},
}};

#undef READ

constexpr bool inRefreshOrder()
{
    for (int i = 0; i < kRowCount; ++i) {
        if (kTable[std::size_t(i)].row != Row(i))
            return false;
    }
    return true;
}
static_assert(inRefreshOrder(), "a row of the table is out of place");

} // namespace

const std::array<RowEntry, kRowCount> kRows = kTable;

std::optional<Row> rowOfName(qint16 nameIndex)
{
    if (nameIndex < 0 || nameIndex >= kNameCount || nameIndex == 4)
        return std::nullopt;
    return Row(nameIndex < 4 ? nameIndex : nameIndex - 1);
}

} // namespace PropertyPanel
