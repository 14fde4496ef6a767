#include "port/storedserialcontrol.h"

bool StoredSerialControl::fail(const QString &reason) const
{
    m_error = reason;
    return false;
}

QString StoredSerialControl::lastError() const
{
    return m_error;
}

bool StoredSerialControl::setInputLen(qint16 value)
{
    if (value < 0)
        return fail(QStringLiteral("Invalid InputLen: ") + QString::number(value));
    m_inputLen = value;
    return true;
}

std::optional<qint16> StoredSerialControl::InputLen() const
{
    return m_inputLen;
}

bool StoredSerialControl::setRThreshold(qint16 value)
{
    if (value < 0)
        return fail(QStringLiteral("Invalid RThreshold: ") + QString::number(value));
    m_rThreshold = value;
    return true;
}

std::optional<qint16> StoredSerialControl::RThreshold() const
{
    return m_rThreshold;
}

bool StoredSerialControl::setSThreshold(qint16 value)
{
    if (value < 0)
        return fail(QStringLiteral("Invalid SThreshold: ") + QString::number(value));
    m_sThreshold = value;
    return true;
}

std::optional<qint16> StoredSerialControl::SThreshold() const
{
    return m_sThreshold;
}

bool StoredSerialControl::setInputMode(qint32 value)
{
    // 0 text, 1 binary: both hand out the bytes as they came.
    if (value != 0 && value != 1)
        return fail(QStringLiteral("Invalid InputMode: ") + QString::number(value));
    m_inputMode = value;
    return true;
}

std::optional<qint32> StoredSerialControl::InputMode() const
{
    return m_inputMode;
}
