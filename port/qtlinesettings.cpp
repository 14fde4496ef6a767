#include "port/qtlinesettings.h"

namespace QtLine {

QString settingsText(const LineSettings &s)
{
    static const char parity[] = {'n', 'e', 'o', 'm', 's'};
    QString stop;
    switch (s.stopBits) {
    case StopBits::One:
        stop = QStringLiteral("1");
        break;
    case StopBits::OneAndHalf:
        stop = QStringLiteral("1.5");
        break;
    case StopBits::Two:
        stop = QStringLiteral("2");
        break;
    }
    return QString::number(s.baudRate) + u',' + QLatin1Char(parity[int(s.parity)]) + u',' +
           QString::number(s.dataBits) + u',' + stop;
}

QSerialPort::Parity toQt(Parity p)
{
    switch (p) {
    case Parity::None:
        return QSerialPort::NoParity;
    case Parity::Even:
        return QSerialPort::EvenParity;
    case Parity::Odd:
        return QSerialPort::OddParity;
    case Parity::Mark:
        return QSerialPort::MarkParity;
    case Parity::Space:
        return QSerialPort::SpaceParity;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits toQt(StopBits s)
{
    switch (s) {
    case StopBits::One:
        return QSerialPort::OneStop;
    case StopBits::OneAndHalf:
        return QSerialPort::OneAndHalfStop;
    case StopBits::Two:
        return QSerialPort::TwoStop;
    }
    return QSerialPort::OneStop;
}

Parity fromQt(QSerialPort::Parity p)
{
    switch (p) {
    case QSerialPort::EvenParity:
        return Parity::Even;
    case QSerialPort::OddParity:
        return Parity::Odd;
    case QSerialPort::MarkParity:
        return Parity::Mark;
    case QSerialPort::SpaceParity:
        return Parity::Space;
    default:
        return Parity::None;
    }
}

StopBits fromQt(QSerialPort::StopBits s)
{
    switch (s) {
    case QSerialPort::OneAndHalfStop:
        return StopBits::OneAndHalf;
    case QSerialPort::TwoStop:
        return StopBits::Two;
    default:
        return StopBits::One;
    }
}

// QSerialPort has no mode for RTS/CTS together with XON/XOFF, so 3 falls back to RTS/CTS.
QSerialPort::FlowControl flowControlFor(qint32 mode)
{
    switch (mode) {
    case 1:
        return QSerialPort::SoftwareControl;
    case 2:
    case 3:
        return QSerialPort::HardwareControl;
    default:
        return QSerialPort::NoFlowControl;
    }
}

} // namespace QtLine
