#include "port/localtransport.h"

#include "port/devicediscovery.h"
#include "port/portmapping.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Modem lines have no notification on Linux; a slow poll is enough for a person watching.
constexpr int kLinePollMs = 100;

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The path an operator recognises for a mapping that leads nowhere: a link's target.
QString shownTarget(const QString &mapped)
{
    const QFileInfo info(mapped);
    return info.isSymLink() ? info.symLinkTarget() : mapped;
}

QSerialPort::Parity toQt(Parity p)
{
    constexpr QSerialPort::Parity kParities[] = {QSerialPort::NoParity, QSerialPort::EvenParity,
                                                 QSerialPort::OddParity, QSerialPort::MarkParity,
                                                 QSerialPort::SpaceParity};
    return kParities[int(p)];
}

QSerialPort::StopBits toQt(StopBits s)
{
    constexpr QSerialPort::StopBits kStops[] = {QSerialPort::OneStop, QSerialPort::OneAndHalfStop,
                                                QSerialPort::TwoStop};
    return kStops[int(s)];
}

QSerialPort::FlowControl toQt(FlowControl f)
{
    constexpr QSerialPort::FlowControl kFlows[] = {
        QSerialPort::NoFlowControl, QSerialPort::SoftwareControl, QSerialPort::HardwareControl};
    return kFlows[int(f)];
}

} // namespace

LocalTransport::LocalTransport(QObject *parent)
    : SerialTransport(parent)
    , m_port(new QSerialPort(this))
    , m_lineTimer(new QTimer(this))
{
    m_port->setObjectName(u"serialPort"_s);
    m_lineTimer->setInterval(kLinePollMs);
    connect(m_port, &QSerialPort::readyRead, this, [this] { sink()->readable(); });
    connect(m_port, &QSerialPort::errorOccurred, this, &LocalTransport::onErrorOccurred);
    connect(m_lineTimer, &QTimer::timeout, this, &LocalTransport::pollLines);
}

LocalTransport::~LocalTransport()
{
    m_port->disconnect(this);
    close();
}

// --- Opening and closing

SerialTransport::Opened LocalTransport::open(const PortMapping &port, const LineSettings &line,
                                             const QString &, qint32 handshaking)
{
    const QString mapped = port.path();
    // Two names of one device must still be one device, for the lock file too.
    const QString device = QFileInfo(mapped).canonicalFilePath();
    if (device.isEmpty())
        return {u"No such device: %1 (port %2)"_s.arg(shownTarget(mapped)).arg(port.port)};
    struct stat st
    {};
    if (::stat(QFile::encodeName(device).constData(), &st) != 0 || !S_ISCHR(st.st_mode))
        return {u"Not a serial device: "_s + device};

    m_port->setPortName(device);
    // Open on settings every device takes; the operator's are applied one by one after,
    // so a value the device refuses does not keep the port closed.
    m_port->setBaudRate(9600);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    m_port->setReadBufferSize(0); // unbounded: never drop a byte
    if (!m_port->open(QIODevice::ReadWrite))
        return {openFailure(device, qint16(port.port))};
    // Root passes TIOCEXCL, and a program without lock files passes QSerialPort's; flock
    // still keeps two holders apart.
    if (::flock(m_port->handle(), LOCK_EX | LOCK_NB) != 0) {
        m_port->close();
        return {u"Port busy: %1 is in use by another program"_s.arg(device)};
    }
    // A legacy port node exists whether or not a UART is behind it, and opens either way.
    if (noSerialHardware(device, serialPortType(m_port->handle()))) {
        m_port->close();
        return {u"no serial hardware behind "_s + device};
    }
    m_device = device;
    m_readErrors = 0;
    m_lossReported = false;

    Opened opened;
    const Line applied = setLine(line, QString());
    opened.line = applied.inForce;
    if (!applied.note.isEmpty())
        opened.notes << applied.note;
    if (!m_port->setFlowControl(toQt(handshakingFlow(handshaking))))
        opened.notes << u"Handshaking %1 not supported by %2"_s.arg(handshaking).arg(m_device);
    m_linesReadable = true;
    if (const auto p = pins()) {
        m_lastPins = *p;
        m_lineTimer->start();
    }
    return opened;
}

QString LocalTransport::openFailure(const QString &device, qint16 port) const
{
    switch (m_port->error()) {
    case QSerialPort::DeviceNotFoundError:
        return u"No such device: %1 (port %2)"_s.arg(device).arg(port);
    case QSerialPort::PermissionError:
        // Qt reports a held lock, a busy device and a denied open alike; the file's mode
        // tells them apart.
        if (::access(QFile::encodeName(device).constData(), R_OK | W_OK) != 0 && errno == EACCES)
            return u"Permission denied: "_s + device;
        return u"Port busy: %1 is in use by another program"_s.arg(device);
    default:
        return u"Cannot open %1: %2"_s.arg(device, m_port->errorString());
    }
}

void LocalTransport::close()
{
    m_lineTimer->stop();
    if (m_port->isOpen()) {
        if (m_break)
            m_port->setBreakEnabled(false);
        m_port->close();
    }
    m_break = false;
    m_linesReadable = false;
    m_readNotifier = nullptr;
}

QString LocalTransport::describe(const PortMapping &port) const
{
    if (m_port->isOpen())
        return m_device;
    const QString mapped = port.path();
    const QString canonical = QFileInfo(mapped).canonicalFilePath();
    return canonical.isEmpty() ? shownTarget(mapped) : canonical;
}

// --- The line

SerialTransport::Line LocalTransport::setLine(const LineSettings &wanted, const QString &)
{
    // Each on its own: Qt keeps the previous value of one the device refuses.
    m_port->setBaudRate(wanted.baudRate);
    m_port->setDataBits(QSerialPort::DataBits(wanted.dataBits));
    m_port->setParity(toQt(wanted.parity));
    m_port->setStopBits(toQt(wanted.stopBits));
    const LineSettings got = lineInForce();
    if (got == wanted)
        return {got, {}};
    return {got, u"Settings partly applied on %1: %2 asked, %3 in force"_s.arg(
                     m_device, settingsText(wanted), settingsText(got))};
}

LineSettings LocalTransport::lineInForce() const
{
    LineSettings s;
    s.baudRate = m_port->baudRate();
    termios t{};
    // Qt reports what it asked for; a pty, for one, silently drops parity and 7 bits.
    if (::tcgetattr(m_port->handle(), &t) != 0) {
        s.dataBits = int(m_port->dataBits());
        return s;
    }
    switch (t.c_cflag & CSIZE) {
    case CS5:
        s.dataBits = 5;
        break;
    case CS6:
        s.dataBits = 6;
        break;
    case CS7:
        s.dataBits = 7;
        break;
    default:
        s.dataBits = 8;
        break;
    }
    if (!(t.c_cflag & PARENB))
        s.parity = Parity::None;
    else if (t.c_cflag & CMSPAR)
        s.parity = (t.c_cflag & PARODD) ? Parity::Mark : Parity::Space;
    else
        s.parity = (t.c_cflag & PARODD) ? Parity::Odd : Parity::Even;
    s.stopBits = (t.c_cflag & CSTOPB) ? StopBits::Two : StopBits::One;
    return s;
}

QString LocalTransport::setFlowControl(qint32 mode)
{
    if (m_port->setFlowControl(toQt(handshakingFlow(mode))))
        return {};
    return u"Handshaking %1 not supported by %2 (%3)"_s.arg(QString::number(mode), m_device,
                                                            m_port->errorString());
}

QString LocalTransport::setBreak(bool on)
{
    if (!m_port->setBreakEnabled(on))
        return u"Break not supported by %1 (%2)"_s.arg(m_device, m_port->errorString());
    m_break = on;
    return {};
}

QString LocalTransport::write(const QByteArray &data)
{
    if (data.isEmpty())
        return {};
    if (m_port->write(data) != data.size())
        return u"Write failed: %1 (%2)"_s.arg(m_device, m_port->errorString());
    return {};
}

// --- Receiving, and the loss of the device

void LocalTransport::fetch(qsizetype max)
{
    if (!m_port->isOpen())
        return;
    const qint64 available = std::min<qint64>(m_port->bytesAvailable(), max);
    if (available <= 0)
        return;
    // The chunk buffer keeps its storage from one read to the next.
    m_chunk.resize(available);
    const qint64 got = m_port->read(m_chunk.data(), available);
    if (got > 0)
        sink()->arrived(QByteArrayView(m_chunk.constData(), got));
}

bool LocalTransport::holdReads(bool hold)
{
    if (!m_port->isOpen())
        return false;
    if (hold) {
        // QSerialPort offers no pause of its reads; its read notifier is a child. One of an
        // earlier open may linger, switched off, until deleted.
        m_readNotifier = nullptr;
        for (QSocketNotifier *n : m_port->findChildren<QSocketNotifier *>()) {
            if (n->type() == QSocketNotifier::Read && n->isEnabled()
                && n->socket() == m_port->handle())
                m_readNotifier = n;
        }
        if (!m_readNotifier)
            return false;
        m_readNotifier->setEnabled(false);
        return true;
    }
    if (!m_readNotifier)
        return false;
    m_readNotifier->setEnabled(true);
    m_readNotifier = nullptr;
    // What came meanwhile is read now rather than at the next turn of the event loop.
    // Asked first, as a wait that finds nothing records a time-out error on the port.
    pollfd pfd{m_port->handle(), POLLIN, 0};
    if (::poll(&pfd, 1, 0) == 1 && (pfd.revents & POLLIN))
        m_port->waitForReadyRead(0);
    return true;
}

qint64 LocalTransport::pending() const
{
    return m_port->isOpen() ? m_port->bytesAvailable() : 0;
}

void LocalTransport::onErrorOccurred(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError || m_lossReported || !m_port->isOpen())
        return;
    switch (error) {
    case QSerialPort::ResourceError:
        reportLoss();
        return;
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
        if (deviceHungUp()) {
            reportLoss();
            return;
        }
        if (error == QSerialPort::WriteError) {
            sink()->failed(u"Write failed: %1 (%2)"_s.arg(m_device, m_port->errorString()));
            return;
        }
        // Read errors without a hang-up that do not stop are as good as a lost device.
        if (!m_readErrorWindow.isValid() || m_readErrorWindow.hasExpired(1000)) {
            m_readErrorWindow.start();
            m_readErrors = 0;
        }
        if (++m_readErrors >= 100)
            reportLoss();
        return;
    default:
        return; // a refused setting or line query: the caller reports it
    }
}

bool LocalTransport::deviceHungUp() const
{
    pollfd p{m_port->handle(), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

void LocalTransport::reportLoss()
{
    // The storm of errors Qt raises until the control closes the port is ignored.
    m_lossReported = true;
    termios t{};
    const QString why =
        ::tcgetattr(m_port->handle(), &t) != 0 ? errnoText(errno) : m_port->errorString();
    sink()->lost(u"Device vanished: %1 (%2)"_s.arg(m_device, why));
}

// --- Line states and counters

std::optional<QSerialPort::PinoutSignals> LocalTransport::pins() const
{
    if (!m_port->isOpen() || !m_linesReadable)
        return std::nullopt;
    m_port->clearError();
    const QSerialPort::PinoutSignals p = m_port->pinoutSignals();
    if (m_port->error() != QSerialPort::NoError) {
        // A device without modem lines (a pty): they read False from now on.
        m_linesReadable = false;
        m_lineTimer->stop();
        return std::nullopt;
    }
    return p;
}

std::optional<ModemLines> LocalTransport::lines() const
{
    const auto p = pins();
    if (!p)
        return std::nullopt;
    return ModemLines{.cts = p->testFlag(QSerialPort::ClearToSendSignal),
                      .dsr = p->testFlag(QSerialPort::DataSetReadySignal),
                      .cd = p->testFlag(QSerialPort::DataCarrierDetectSignal),
                      .dtr = p->testFlag(QSerialPort::DataTerminalReadySignal),
                      .rts = p->testFlag(QSerialPort::RequestToSendSignal)};
}

void LocalTransport::pollLines()
{
    const auto p = pins();
    if (!p)
        return;
    const QSerialPort::PinoutSignals changed = *p ^ m_lastPins;
    m_lastPins = *p;
    const std::pair<QSerialPort::PinoutSignal, qint16> events[] = {
        {QSerialPort::ClearToSendSignal, 3},
        {QSerialPort::DataSetReadySignal, 4},
        {QSerialPort::DataCarrierDetectSignal, 5},
    };
    for (const auto &[signal, event] : events) {
        if (changed.testFlag(signal) && m_port->isOpen())
            sink()->lineChanged(event);
    }
}

qint64 LocalTransport::unsent() const
{
    int queued = 0;
    if (!m_port->isOpen() || ::ioctl(m_port->handle(), TIOCOUTQ, &queued) != 0)
        queued = 0;
    return m_port->bytesToWrite() + queued;
}

std::optional<LineErrorCounts> LocalTransport::errorCounters() const
{
    // A pty or a USB adapter without counters answers the ioctl with an error.
    serial_icounter_struct c{};
    if (!m_port->isOpen() || ::ioctl(m_port->handle(), TIOCGICOUNT, &c) != 0)
        return std::nullopt;
    LineErrorCounts counts;
    counts.framing = quint64(std::max(c.frame, 0));
    counts.parity = quint64(std::max(c.parity, 0));
    counts.overrun = quint64(std::max(c.overrun, 0));
    counts.bufferOverrun = quint64(std::max(c.buf_overrun, 0));
    counts.breaks = quint64(std::max(c.brk, 0));
    return counts;
}
