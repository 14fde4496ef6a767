#include "port/telnetlink.h"

#include "port/rfc2217.h"

#include <cstddef> // libtelnet.h uses size_t without it

#include <libtelnet.h>

namespace {

// What we agree to: binary both ways (every byte value passes unchanged), suppress go-ahead
// as ser2net offers it, and COM-PORT-OPTION from our side. Everything else is refused.
const telnet_telopt_t kOptions[] = {
    {TELNET_TELOPT_BINARY, TELNET_WILL, TELNET_DO},
    {TELNET_TELOPT_SGA, TELNET_WILL, TELNET_DO},
    {Rfc2217::kOption, TELNET_WILL, TELNET_DONT},
    {-1, 0, 0},
};

} // namespace

void TelnetLink::Deleter::operator()(telnet_t *t) const
{
    telnet_free(t);
}

TelnetLink::TelnetLink(Callbacks callbacks)
    : m_callbacks(std::move(callbacks))
    , m_telnet(telnet_init(kOptions, &TelnetLink::onEvent, 0, this))
{}

TelnetLink::~TelnetLink() = default;

void TelnetLink::start()
{
    telnet_negotiate(m_telnet.get(), TELNET_WILL, Rfc2217::kOption);
    telnet_negotiate(m_telnet.get(), TELNET_WILL, TELNET_TELOPT_BINARY);
    telnet_negotiate(m_telnet.get(), TELNET_DO, TELNET_TELOPT_BINARY);
}

void TelnetLink::receive(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return;
    if (m_comPort == ComPort::Asked)
        noticeRefusal(bytes);
    telnet_recv(m_telnet.get(), bytes.data(), size_t(bytes.size()));
}

void TelnetLink::sendData(QByteArrayView bytes)
{
    if (!bytes.isEmpty())
        telnet_send(m_telnet.get(), bytes.data(), size_t(bytes.size()));
}

void TelnetLink::sendComPort(QByteArrayView payload)
{
    telnet_subnegotiation(m_telnet.get(), Rfc2217::kOption, payload.data(), size_t(payload.size()));
}

void TelnetLink::onEvent(telnet_t *, telnet_event_t *event, void *self)
{
    static_cast<TelnetLink *>(self)->handle(*event);
}

void TelnetLink::handle(const telnet_event_t &event)
{
    switch (event.type) {
    case TELNET_EV_DATA:
        m_callbacks.data(QByteArrayView(event.data.buffer, qsizetype(event.data.size)));
        break;
    case TELNET_EV_SEND:
        m_callbacks.send(QByteArrayView(event.data.buffer, qsizetype(event.data.size)));
        break;
    case TELNET_EV_DO:
        if (event.neg.telopt == Rfc2217::kOption)
            m_comPort = ComPort::Agreed;
        break;
    case TELNET_EV_DONT:
        if (event.neg.telopt == Rfc2217::kOption)
            m_comPort = ComPort::Refused;
        break;
    case TELNET_EV_SUBNEGOTIATION:
        if (event.sub.telopt == Rfc2217::kOption)
            m_callbacks.comPort(QByteArrayView(event.sub.buffer, qsizetype(event.sub.size)));
        break;
    case TELNET_EV_ERROR:
        m_callbacks.error(QString::fromLocal8Bit(event.error.msg));
        break;
    default:
        break; // warnings and options we refused: libtelnet has answered them
    }
}

// libtelnet takes a refusal of an option we asked for (DONT or WONT while waiting for DO)
// without an event; until the server has answered, look for IAC DONT/WONT 44 ourselves.
// Data 255 comes doubled, so IAC IAC is never the start of a command.
void TelnetLink::noticeRefusal(QByteArrayView bytes)
{
    for (const char c : bytes) {
        const auto b = uchar(c);
        if (m_refusalScan == 1)
            m_refusalScan = (b == TELNET_DONT || b == TELNET_WONT) ? 2 : 0;
        else if (m_refusalScan == 2) {
            if (b == Rfc2217::kOption)
                m_comPort = ComPort::Refused;
            m_refusalScan = b == TELNET_IAC ? 1 : 0;
        } else if (b == TELNET_IAC)
            m_refusalScan = 1;
    }
}
