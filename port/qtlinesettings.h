#pragma once
// Our line settings in QSerialPort's terms and back, and their text form.

#include "port/portrules.h"

#include <QSerialPort>
#include <QString>

namespace QtLine {

// "9600,n,8,1" style text of settings, as the Settings property shows them.
QString settingsText(const LineSettings &s);
QSerialPort::Parity toQt(Parity p);
QSerialPort::StopBits toQt(StopBits s);
Parity fromQt(QSerialPort::Parity p);
StopBits fromQt(QSerialPort::StopBits s);
// The flow control of a Handshaking mode 0 to 3.
QSerialPort::FlowControl flowControlFor(qint32 mode);

} // namespace QtLine
