#pragma once
// The Telnet layer of an rfc2217:// port, over libtelnet: option negotiation,
// sub-negotiation and the doubling of byte 255 are libtelnet's; this class only asks for
// BINARY both ways and COM-PORT-OPTION, and sorts what arrives into data and COM-PORT
// payloads. No socket: bytes in through receive(), bytes out through the send callback.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <memory>

struct telnet_t;

class TelnetLink
{
public:
    enum class ComPort {
        Asked,   // WILL COM-PORT-OPTION sent, no answer yet
        Agreed,  // the server said DO
        Refused, // the server said DONT
    };
    struct Callbacks
    {
        std::function<void(QByteArrayView)> send;    // to the socket
        std::function<void(QByteArrayView)> data;    // serial data, unescaped
        std::function<void(QByteArrayView)> comPort; // a COM-PORT-OPTION payload
        std::function<void(const QString &)> error;  // the stream cannot be followed
    };

    explicit TelnetLink(Callbacks callbacks);
    ~TelnetLink();
    TelnetLink(const TelnetLink &) = delete;
    TelnetLink &operator=(const TelnetLink &) = delete;

    // Opens the negotiation: WILL COM-PORT-OPTION, WILL and DO BINARY.
    void start();
    void receive(QByteArrayView bytes);
    void sendData(QByteArrayView bytes);
    void sendComPort(QByteArrayView payload);
    ComPort comPort() const { return m_comPort; }

private:
    struct Deleter
    {
        void operator()(telnet_t *t) const;
    };
    static void onEvent(telnet_t *, union telnet_event_t *event, void *self);
    void handle(const union telnet_event_t &event);
    void noticeRefusal(QByteArrayView bytes);

    Callbacks m_callbacks;
    std::unique_ptr<telnet_t, Deleter> m_telnet;
    ComPort m_comPort = ComPort::Asked;
    int m_refusalScan = 0; // see noticeRefusal
};
