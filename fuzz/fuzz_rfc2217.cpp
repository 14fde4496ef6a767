// The network port's receive side under arbitrary input: COM-PORT-OPTION replies, the
// Telnet stream around them, and the URL line of a ports-folder file. No crash, and what
// is accepted is consistent.

#include "fuzz/fuzzcheck.h"
#include "port/rfc2217.h"
#include "port/telnetlink.h"

#include <QString>

#include <cstdint>

namespace {

void checkReply(QByteArrayView payload)
{
    const auto decoded = Rfc2217::decodeReply(payload);
    if (const auto *reason = std::get_if<QString>(&decoded)) {
        FUZZ_CHECK(!reason->isEmpty());
        return;
    }
    const Rfc2217::Reply &r = std::get<Rfc2217::Reply>(decoded);
    FUZZ_CHECK(int(r.command) == uchar(payload[0]) - Rfc2217::kServerOffset);
    FUZZ_CHECK(r.parity.has_value() == (r.command == Rfc2217::Command::SetParity));
    FUZZ_CHECK(r.stopBits.has_value() == (r.command == Rfc2217::Command::SetStopSize));
    if (r.command == Rfc2217::Command::SetBaudRate)
        FUZZ_CHECK(r.value > 0 && r.value <= 0x7fffffffu);
    if (r.command == Rfc2217::Command::SetDataSize)
        FUZZ_CHECK(r.value >= 5 && r.value <= 8);
}

void checkUrl(const QString &line)
{
    const auto parsed = parsePortUrl(line);
    if (const auto *reason = std::get_if<QString>(&parsed)) {
        FUZZ_CHECK(!reason->isEmpty());
        return;
    }
    const PortUrl &url = std::get<PortUrl>(parsed);
    FUZZ_CHECK(url.port >= 1 && !url.host.isEmpty());
    // Written out, it reads back the same.
    const auto again = parsePortUrl(portUrlText(url));
    FUZZ_CHECK(std::holds_alternative<PortUrl>(again) && std::get<PortUrl>(again) == url);
}

// The bytes as a server's stream, in two pieces split at the first byte's value.
void checkTelnetStream(QByteArrayView bytes)
{
    qsizetype data = 0;
    TelnetLink link({[](QByteArrayView) {}, [&](QByteArrayView d) { data += d.size(); },
                     [](QByteArrayView payload) {
                         if (!payload.isEmpty())
                             checkReply(payload);
                     },
                     [](const QString &) {}});
    link.start();
    const qsizetype split = bytes.isEmpty() ? 0 : uchar(bytes[0]) % (bytes.size() + 1);
    link.receive(bytes.first(split));
    link.receive(bytes.sliced(split));
    FUZZ_CHECK(data <= bytes.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzzBytes(data, size);
    if (!bytes.isEmpty())
        checkReply(bytes);
    checkUrl(QString::fromUtf8(bytes));
    checkTelnetStream(bytes);
    return 0;
}
