#pragma once
// What the simulated instrument sends, as pure values: the same profile and seed always
// give the same frames, on every machine, so a test knows the expected bytes.
//
//   frame profile:  STX "0001 CH2 +0023.451 °C" CR   (a reading; ACK and EOT only answer)
//   line profile:   "0001;T1;+0023.45;°C" CR LF      (a measurement line)
//
// Characters are single bytes (Latin-1): "°" is 0xB0, "µ" 0xB5.

#include <QByteArray>

#include <cstdint>

enum class SimProfile {
    Frame,
    Line
};

namespace SimCodes {
inline constexpr char STX = 2;
inline constexpr char EOT = 4;
inline constexpr char ACK = 6;
inline constexpr char LF = 10;
inline constexpr char CR = 13;
inline constexpr char DLE = 16;
} // namespace SimCodes

// A small generator of our own: std:: distributions differ between library versions, and
// a seed must mean the same frames wherever the tests run.
class SimRandom
{
public:
    explicit SimRandom(std::uint64_t seed)
        : m_state(seed)
    {}
    std::uint64_t next();
    // Uniform enough in [0, bound) for bound well below 2^32.
    std::uint32_t below(std::uint32_t bound) { return std::uint32_t(next() % bound); }

private:
    std::uint64_t m_state = 0;
};

class FrameGenerator
{
public:
    // binary: payloads of random bytes 0..255 instead of readable readings; the codes that
    // would end a frame early in the monitor (CR, LF, ACK, EOT in the frame profile, LF in
    // the line profile) never occur inside a payload.
    FrameGenerator(SimProfile profile, std::uint64_t seed, bool binary = false);

    // The next frame, its end code(s) included.
    QByteArray next();
    // Frames handed out so far.
    std::uint64_t produced() const { return m_produced; }

private:
    QByteArray reading();
    QByteArray binaryPayload();

    SimProfile m_profile = SimProfile::Frame;
    bool m_binary = false;
    SimRandom m_random;
    std::uint64_t m_produced = 0;
};
