#pragma once
// The serial control over QSerialPort. (Scaffold: completed with the serial layer.)

#include "port/serialcontrol.h"

#include <memory>

class QtSerialControl : public SerialControl
{
    Q_OBJECT
public:
    explicit QtSerialControl(QObject *parent = nullptr);
    ~QtSerialControl() override;

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
};
