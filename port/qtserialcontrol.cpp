// Scaffold: replaced by the serial layer over QSerialPort.
#include "port/qtserialcontrol.h"

QtSerialControl::QtSerialControl(QObject *parent) : SerialControl(parent) {}
QtSerialControl::~QtSerialControl() = default;
bool QtSerialControl::setPortOpen(bool /*open*/) { return false; }
std::optional<bool> QtSerialControl::PortOpen() const { return {}; }
bool QtSerialControl::setSettings(const QString &) { return false; }
std::optional<QString> QtSerialControl::Settings() const { return {}; }
bool QtSerialControl::setCommPort(qint16 /*port*/) { return false; }
std::optional<qint16> QtSerialControl::CommPort() const { return {}; }
bool QtSerialControl::setInputLen(qint16 /*value*/) { return false; }
std::optional<qint16> QtSerialControl::InputLen() const { return {}; }
bool QtSerialControl::setRThreshold(qint16 /*value*/) { return false; }
std::optional<qint16> QtSerialControl::RThreshold() const { return {}; }
bool QtSerialControl::setSThreshold(qint16 /*value*/) { return false; }
std::optional<qint16> QtSerialControl::SThreshold() const { return {}; }
bool QtSerialControl::setInputMode(qint32 /*value*/) { return false; }
std::optional<qint32> QtSerialControl::InputMode() const { return {}; }
std::optional<QByteArray> QtSerialControl::Input() { return {}; }
std::optional<qint16> QtSerialControl::CommEvent() const { return {}; }
bool QtSerialControl::setOutput(const QByteArray &) { return false; }
bool QtSerialControl::setBreak(bool /*on*/) { return false; }
std::optional<bool> QtSerialControl::Break() const { return {}; }
bool QtSerialControl::setEOFEnable(bool /*on*/) { return false; }
std::optional<bool> QtSerialControl::EOFEnable() const { return {}; }
bool QtSerialControl::setHandshaking(qint32 /*mode*/) { return false; }
std::optional<qint32> QtSerialControl::Handshaking() const { return {}; }
std::optional<bool> QtSerialControl::CDHolding() const { return {}; }
std::optional<bool> QtSerialControl::CTSHolding() const { return {}; }
std::optional<bool> QtSerialControl::DSRHolding() const { return {}; }
std::optional<bool> QtSerialControl::DTREnable() const { return {}; }
std::optional<bool> QtSerialControl::RTSEnable() const { return {}; }
std::optional<bool> QtSerialControl::NullDiscard() const { return {}; }
std::optional<qint16> QtSerialControl::InBufferCount() const { return {}; }
std::optional<qint16> QtSerialControl::InBufferSize() const { return {}; }
std::optional<qint16> QtSerialControl::OutBufferCount() const { return {}; }
std::optional<qint16> QtSerialControl::OutBufferSize() const { return {}; }
std::optional<QString> QtSerialControl::ParityReplace() const { return {}; }
QString QtSerialControl::lastError() const { return {}; }
QString QtSerialControl::devicePath() const { return {}; }
