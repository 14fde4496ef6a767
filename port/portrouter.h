#pragma once
// The serial control the window uses: a local one and a network one, and per port number
// the one its comN entry calls for. A regular file in the ports folder names a network
// port (rfc2217:// or tcp://); anything else is a local device.
//
//   Form_Comm --> PortRouter --comN is a file--> NetworkSerialControl
//                            \-otherwise------> QtSerialControl
//
// Both keep the same stored properties; the choice is made when the port number changes
// and again at each open, so a ports-folder entry edited meanwhile takes effect.

#include "port/serialcontrol.h"

#include <memory>

class PortRouter : public SerialControl
{
    Q_OBJECT
public:
    explicit PortRouter(QObject *parent = nullptr);
    // Takes both controls; tests pass their own.
    PortRouter(std::unique_ptr<SerialControl> local, std::unique_ptr<SerialControl> network,
               QObject *parent = nullptr);
    ~PortRouter() override;

    // True when port n's entry names a network port.
    static bool isNetworkPort(int port);
    // The control that answers now.
    SerialControl *current() const { return m_current; }

    bool setPortOpen(bool open) override;
    std::optional<bool> PortOpen() const override;
    bool setSettings(const QString &settings) override;
    std::optional<QString> Settings() const override;
    bool setCommPort(qint16 port) override;
    std::optional<qint16> CommPort() const override;
    bool setInputLen(qint16 value) override;
    std::optional<qint16> InputLen() const override;
    bool setRThreshold(qint16 value) override;
    std::optional<qint16> RThreshold() const override;
    bool setSThreshold(qint16 value) override;
    std::optional<qint16> SThreshold() const override;
    bool setInputMode(qint32 value) override;
    std::optional<qint32> InputMode() const override;
    std::optional<QByteArray> Input() override;
    std::optional<qint16> CommEvent() const override;
    bool setOutput(const QByteArray &data) override;
    bool setBreak(bool on) override;
    std::optional<bool> Break() const override;
    bool setEOFEnable(bool on) override;
    std::optional<bool> EOFEnable() const override;
    bool setHandshaking(qint32 mode) override;
    std::optional<qint32> Handshaking() const override;
    std::optional<bool> CDHolding() const override;
    std::optional<bool> CTSHolding() const override;
    std::optional<bool> DSRHolding() const override;
    std::optional<bool> DTREnable() const override;
    std::optional<bool> RTSEnable() const override;
    std::optional<bool> NullDiscard() const override;
    std::optional<qint16> InBufferCount() const override;
    std::optional<qint16> InBufferSize() const override;
    std::optional<qint16> OutBufferCount() const override;
    std::optional<qint16> OutBufferSize() const override;
    std::optional<QString> ParityReplace() const override;
    QString lastError() const override;
    QString devicePath() const override;
    std::optional<LineErrorCounts> errorCounters() const override;

private:
    SerialControl *routed() const;
    SerialControl *other() const { return m_current == m_local ? m_network : m_local; }
    // Sets a stored property on the current control and, when it took it, on the other.
    template<typename F>
    bool setOnBoth(F set)
    {
        if (!set(*m_current))
            return false;
        set(*other());
        return true;
    }

    SerialControl *m_local = nullptr;
    SerialControl *m_network = nullptr;
    SerialControl *m_current = nullptr;
};
