#include "tools/framegenerator.h"

#include <array>

std::uint64_t SimRandom::next()
{
    // splitmix64: fixed arithmetic, identical on every platform.
    std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

FrameGenerator::FrameGenerator(SimProfile profile, std::uint64_t seed, bool binary)
    : m_profile(profile)
    , m_binary(binary)
    , m_random(seed)
{}

namespace {

struct Channel
{
    const char *frameName;
    const char *lineName;
    const char *unit; // Latin-1
};

constexpr std::array<Channel, 6> kChannels{{
    {"CH1", "U1", "V"},
    {"CH2", "T1",
     "\xB0"
     "C"},
    {"CH3", "I1", "A"},
    {"CH4", "F1", "Hz"},
    {"CH5", "P1", "kPa"},
    {"CH6", "G1", "\xB5S"},
}};

QByteArray digits(std::uint64_t value, int width)
{
    return QByteArray::number(qulonglong(value)).rightJustified(width, '0', true);
}

} // namespace

QByteArray FrameGenerator::next()
{
    ++m_produced;
    const QByteArray payload = m_binary ? binaryPayload() : reading();
    if (m_profile == SimProfile::Frame)
        return SimCodes::STX + payload + SimCodes::CR;
    return payload + SimCodes::CR + SimCodes::LF;
}

QByteArray FrameGenerator::reading()
{
    const Channel &ch = kChannels[m_random.below(kChannels.size())];
    const bool negative = m_random.below(4) == 0;
    const std::uint32_t whole = m_random.below(10000);
    const std::uint32_t fraction = m_random.below(m_profile == SimProfile::Frame ? 1000 : 100);
    const QByteArray sequence = digits(m_produced % 10000, 4);
    const QByteArray value = (negative ? "-" : "+") + digits(whole, 4) + '.' +
                             digits(fraction, m_profile == SimProfile::Frame ? 3 : 2);
    if (m_profile == SimProfile::Frame)
        return sequence + ' ' + ch.frameName + ' ' + value + ' ' + ch.unit;
    return sequence + ';' + ch.lineName + ';' + value + ';' + ch.unit;
}

QByteArray FrameGenerator::binaryPayload()
{
    const int length = 1 + int(m_random.below(64));
    QByteArray out;
    out.reserve(length);
    while (out.size() < length) {
        const char c = char(m_random.below(256));
        const bool endsFrame = m_profile == SimProfile::Frame
                                   ? (c == SimCodes::CR || c == SimCodes::LF ||
                                      c == SimCodes::ACK || c == SimCodes::EOT)
                                   : c == SimCodes::LF;
        if (!endsFrame)
            out.append(c);
    }
    return out;
}
