#pragma once
// A serial control for window tests: holds every property in memory, records what the
// window wrote, can be told to refuse any member, and raises OnComm for data a test feeds
// in, with the same backlog rule as the real layer.

#include "port/portrules.h"
#include "port/serialcontrol.h"

#include <QByteArray>
#include <QSet>
#include <QStringList>

class FakeSerialControl : public SerialControl
{
    Q_OBJECT
public:
    using SerialControl::SerialControl;

    // --- Test controls
    // Members named here (e.g. "PortOpen=", "Settings", "Output=") fail; "X=" is the write,
    // "X" the read.
    QSet<QString> failing;
    // Port numbers that fail to open.
    QSet<qint16> absentPorts;
    // Every write the window made, in order, as "Member=value".
    QStringList calls;
    // Every Output write.
    QList<QByteArray> written;
    // Number of OnComm raised.
    int raised = 0;

    // Feeds received characters and raises OnComm once per character until a handler
    // leaves one unread.
    void receive(const QByteArray &data)
    {
        m_in += data;
        drain();
    }
    // Raises a modem-line event (3 CTS, 4 DSR, 5 CD) without data.
    void raiseEvent(qint16 event)
    {
        m_event = event;
        ++raised;
        Q_EMIT OnComm();
        m_event = CommEvents::Receive;
    }
    qsizetype waiting() const { return m_in.size() - m_readPos; }

    // --- SerialControl
    bool setPortOpen(bool open) override
    {
        if (!allow(QStringLiteral("PortOpen="), QStringLiteral("PortOpen=") + boolText(open)))
            return false;
        if (open && absentPorts.contains(m_port)) {
            m_error = QStringLiteral("No such file or directory: ") + devicePath();
            return false;
        }
        m_open = open;
        if (open)
            m_error.clear();
        return true;
    }
    std::optional<bool> PortOpen() const override
    {
        return get(QStringLiteral("PortOpen"), m_open);
    }
    bool setSettings(const QString &s) override
    {
        if (!allow(QStringLiteral("Settings="), QStringLiteral("Settings=") + s) ||
            !parseSettings(s))
            return false;
        m_settings = s;
        return true;
    }
    std::optional<QString> Settings() const override
    {
        return get(QStringLiteral("Settings"), m_settings);
    }
    bool setCommPort(qint16 p) override
    {
        if (!allow(QStringLiteral("CommPort="), QStringLiteral("CommPort=") + QString::number(p)) ||
            p <= 0 || m_open)
            return false;
        m_port = p;
        return true;
    }
    std::optional<qint16> CommPort() const override
    {
        return get(QStringLiteral("CommPort"), m_port);
    }
    bool setInputLen(qint16 v) override { return set(QStringLiteral("InputLen"), m_inputLen, v); }
    std::optional<qint16> InputLen() const override
    {
        return get(QStringLiteral("InputLen"), m_inputLen);
    }
    bool setRThreshold(qint16 v) override
    {
        return set(QStringLiteral("RThreshold"), m_rThreshold, v);
    }
    std::optional<qint16> RThreshold() const override
    {
        return get(QStringLiteral("RThreshold"), m_rThreshold);
    }
    bool setSThreshold(qint16 v) override
    {
        return set(QStringLiteral("SThreshold"), m_sThreshold, v);
    }
    std::optional<qint16> SThreshold() const override
    {
        return get(QStringLiteral("SThreshold"), m_sThreshold);
    }
    bool setInputMode(qint32 v) override
    {
        return set(QStringLiteral("InputMode"), m_inputMode, v);
    }
    std::optional<qint32> InputMode() const override
    {
        return get(QStringLiteral("InputMode"), m_inputMode);
    }

    std::optional<QByteArray> Input() override
    {
        if (failing.contains(QStringLiteral("Input")))
            return std::nullopt;
        m_readThisEvent = true;
        const qsizetype n = std::min<qsizetype>(std::max<qint16>(m_inputLen, 1), waiting());
        QByteArray out = m_in.mid(m_readPos, n);
        m_readPos += n;
        return out;
    }
    std::optional<qint16> CommEvent() const override
    {
        return get(QStringLiteral("CommEvent"), m_event);
    }
    bool setOutput(const QByteArray &data) override
    {
        if (!allow(QStringLiteral("Output="),
                   QStringLiteral("Output=") + QString::fromLatin1(data.toHex())) ||
            !m_open) {
            if (!m_open)
                m_error = QStringLiteral("The port is not open");
            return false;
        }
        written.append(data);
        return true;
    }
    bool setBreak(bool b) override
    {
        if (!m_open)
            return false;
        return set(QStringLiteral("Break"), m_break, b);
    }
    std::optional<bool> Break() const override { return get(QStringLiteral("Break"), m_break); }
    bool setEOFEnable(bool b) override { return set(QStringLiteral("EOFEnable"), m_eof, b); }
    std::optional<bool> EOFEnable() const override
    {
        return get(QStringLiteral("EOFEnable"), m_eof);
    }
    bool setHandshaking(qint32 m) override
    {
        if (m < 0 || m > 3) {
            m_error = QStringLiteral("Invalid handshaking mode ") + QString::number(m);
            return false;
        }
        return set(QStringLiteral("Handshaking"), m_handshaking, m);
    }
    std::optional<qint32> Handshaking() const override
    {
        return get(QStringLiteral("Handshaking"), m_handshaking);
    }

    std::optional<bool> CDHolding() const override
    {
        return get(QStringLiteral("CDHolding"), false);
    }
    std::optional<bool> CTSHolding() const override
    {
        return get(QStringLiteral("CTSHolding"), false);
    }
    std::optional<bool> DSRHolding() const override
    {
        return get(QStringLiteral("DSRHolding"), false);
    }
    std::optional<bool> DTREnable() const override
    {
        return get(QStringLiteral("DTREnable"), m_open);
    }
    std::optional<bool> RTSEnable() const override
    {
        return get(QStringLiteral("RTSEnable"), m_open);
    }
    std::optional<bool> NullDiscard() const override
    {
        return get(QStringLiteral("NullDiscard"), false);
    }
    std::optional<qint16> InBufferCount() const override
    {
        return get(QStringLiteral("InBufferCount"), qint16(std::min<qsizetype>(waiting(), 32767)));
    }
    std::optional<qint16> InBufferSize() const override
    {
        return get(QStringLiteral("InBufferSize"), qint16(1024));
    }
    std::optional<qint16> OutBufferCount() const override
    {
        return get(QStringLiteral("OutBufferCount"), qint16(0));
    }
    std::optional<qint16> OutBufferSize() const override
    {
        return get(QStringLiteral("OutBufferSize"), qint16(512));
    }
    std::optional<QString> ParityReplace() const override
    {
        return get(QStringLiteral("ParityReplace"), QStringLiteral("?"));
    }

    QString lastError() const override { return m_error; }
    std::optional<LineErrorCounts> errorCounters() const override { return errors; }
    std::optional<LineErrorCounts> errors; // what the "driver" reports; none by default
    QString devicePath() const override
    {
        return QStringLiteral("/dev/fake") + QString::number(m_port);
    }

private:
    static QString boolText(bool b) { return b ? QStringLiteral("True") : QStringLiteral("False"); }
    bool allow(const QString &member, const QString &call)
    {
        if (failing.contains(member)) {
            m_error = QStringLiteral("refused: ") + member;
            return false;
        }
        calls.append(call);
        return true;
    }
    template<typename T>
    bool set(const QString &name, T &field, T value)
    {
        QString shown;
        if constexpr (std::is_same_v<T, bool>)
            shown = boolText(value);
        else
            shown = QString::number(value);
        if (!allow(name + u'=', name + u'=' + shown))
            return false;
        field = value;
        return true;
    }
    template<typename T>
    std::optional<T> get(const QString &name, T value) const
    {
        if (failing.contains(name))
            return std::nullopt;
        return value;
    }
    void drain()
    {
        while (m_open && waiting() > 0) {
            m_readThisEvent = false;
            m_event = CommEvents::Receive;
            ++raised;
            Q_EMIT OnComm();
            if (!m_readThisEvent)
                break; // monitoring off: wait for new characters
        }
    }

    QByteArray m_in;
    qsizetype m_readPos = 0;
    bool m_readThisEvent = false;
    qint16 m_event = CommEvents::Receive;
    bool m_open = false;
    QString m_settings = QStringLiteral("9600,n,8,1");
    qint16 m_port = 4;
    qint16 m_inputLen = 0;
    qint16 m_rThreshold = 0;
    qint16 m_sThreshold = 0;
    qint32 m_inputMode = 1;
    bool m_break = false;
    bool m_eof = false;
    qint32 m_handshaking = 0;
    QString m_error;
};
