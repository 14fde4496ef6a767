#include "port/qtserialcontrol.h"

#include "port/qtlinesettings.h"

#include "port/devicediscovery.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QStringList>
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

using namespace QtLine;

namespace {

// Modem lines have no notification on Linux; a slow poll is enough for a person watching.
constexpr int kLinePollMs = 100;

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

qint16 clamp16(qint64 n)
{
    return qint16(std::clamp<qint64>(n, 0, 32767));
}

// The path an operator recognises for a mapping that leads nowhere: a link's target.
QString shownTarget(const QString &mapped)
{
    const QFileInfo info(mapped);
    return info.isSymLink() ? info.symLinkTarget() : mapped;
}

} // namespace

QtSerialControl::QtSerialControl(QObject *parent)
    : StoredSerialControl(parent)
    , m_port(new QSerialPort(this))
    , m_drainTimer(new QTimer(this))
    , m_lineTimer(new QTimer(this))
{
    m_port->setObjectName(QStringLiteral("serialPort"));
    m_drainTimer->setSingleShot(true);
    m_drainTimer->setInterval(0);
    m_lineTimer->setInterval(kLinePollMs);
    connect(m_port, &QSerialPort::readyRead, this, &QtSerialControl::onReadyRead);
    connect(m_port, &QSerialPort::errorOccurred, this, &QtSerialControl::onErrorOccurred);
    connect(m_drainTimer, &QTimer::timeout, this, &QtSerialControl::drain);
    connect(m_lineTimer, &QTimer::timeout, this, &QtSerialControl::pollLines);
}

QtSerialControl::~QtSerialControl()
{
    m_port->disconnect(this);
    closePort();
}

// --- Opening and closing

bool QtSerialControl::setPortOpen(bool open)
{
    if (!open) {
        closePort();
        return true;
    }
    return openPort();
}

std::optional<bool> QtSerialControl::PortOpen() const
{
    return m_port->isOpen();
}

bool QtSerialControl::openPort()
{
    if (m_port->isOpen())
        return fail(QStringLiteral("The port is already open: ") + m_device);
    const QString mapped = deviceForPort(m_commPort);
    if (mapped.isEmpty())
        return fail(QStringLiteral("Invalid port number: ") + QString::number(m_commPort));
    // Two names of one device must still be one device, for the lock file too.
    const QString device = QFileInfo(mapped).canonicalFilePath();
    if (device.isEmpty())
        return fail(QStringLiteral("No such device: %1 (port %2)")
                        .arg(shownTarget(mapped))
                        .arg(m_commPort));
    struct stat st
    {};
    if (::stat(QFile::encodeName(device).constData(), &st) != 0 || !S_ISCHR(st.st_mode))
        return fail(QStringLiteral("Not a serial device: ") + device);

    closePort();
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
        return fail(openFailure(device));
    // Root passes TIOCEXCL, and a program without lock files passes QSerialPort's; flock
    // still keeps two holders apart.
    if (::flock(m_port->handle(), LOCK_EX | LOCK_NB) != 0) {
        m_port->close();
        return fail(QStringLiteral("Port busy: %1 is in use by another program").arg(device));
    }
    // A legacy port node exists whether or not a UART is behind it, and opens either way.
    if (noSerialHardware(device, serialPortType(m_port->handle()))) {
        m_port->close();
        return fail(QStringLiteral("no serial hardware behind ") + device);
    }
    m_device = device;
    ++m_generation;
    m_readErrors = 0;

    QStringList notes;
    if (const QString note = applyLine(m_settings); !note.isEmpty())
        notes << note;
    if (!m_settingsNote.isEmpty())
        notes.prepend(m_settingsNote + QStringLiteral("; in force: ") + m_inForceText);
    m_settingsNote.clear();
    if (!applyFlowControl(m_handshaking))
        notes << QStringLiteral("Handshaking %1 not supported by %2")
                     .arg(m_handshaking)
                     .arg(m_device);

    m_linesReadable = true;
    if (const auto p = pins()) {
        m_lastPins = *p;
        m_lineTimer->start();
    }
    m_error = notes.join(QStringLiteral("\n"));
    return true;
}

QString QtSerialControl::openFailure(const QString &device) const
{
    switch (m_port->error()) {
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("No such device: %1 (port %2)").arg(device).arg(m_commPort);
    case QSerialPort::PermissionError:
        // Qt reports a held lock, a busy device and a denied open alike; the file's mode
        // tells them apart.
        if (::access(QFile::encodeName(device).constData(), R_OK | W_OK) != 0 && errno == EACCES)
            return QStringLiteral("Permission denied: ") + device;
        return QStringLiteral("Port busy: %1 is in use by another program").arg(device);
    default:
        return QStringLiteral("Cannot open %1: %2").arg(device, m_port->errorString());
    }
}

void QtSerialControl::closePort()
{
    m_drainTimer->stop();
    m_lineTimer->stop();
    if (m_port->isOpen()) {
        if (m_break)
            m_port->setBreakEnabled(false);
        m_port->close();
    }
    ++m_generation;
    m_hangUpQueued = false;
    m_lostReason.clear();
    m_in.clear();
    m_readPos = 0;
    m_stalled = false;
    m_break = false;
    m_linesReadable = false;
    m_inForceText.clear();
}

// --- Settings

bool QtSerialControl::setSettings(const QString &settings)
{
    const std::optional<LineSettings> parsed = parseSettings(settings);
    if (!parsed) {
        m_settingsNote = QStringLiteral("Settings rejected: ") +
                         (settings.isEmpty() ? QStringLiteral("(empty)") : settings);
        return fail(m_settingsNote);
    }
    m_settingsText = settings;
    m_settings = *parsed;
    m_settingsNote.clear();
    if (m_port->isOpen()) {
        if (const QString note = applyLine(*parsed); !note.isEmpty())
            m_error = note;
    }
    return true;
}

std::optional<QString> QtSerialControl::Settings() const
{
    return m_port->isOpen() ? m_inForceText : m_settingsText;
}

QString QtSerialControl::applyLine(const LineSettings &wanted)
{
    // Each on its own: Qt keeps the previous value of one the device refuses.
    m_port->setBaudRate(wanted.baudRate);
    m_port->setDataBits(QSerialPort::DataBits(wanted.dataBits));
    m_port->setParity(toQt(wanted.parity));
    m_port->setStopBits(toQt(wanted.stopBits));
    const LineSettings got = lineInForce();
    if (got == wanted) {
        m_inForceText = m_settingsText;
        return {};
    }
    m_inForceText = settingsText(got);
    return QStringLiteral("Settings partly applied on %1: %2 asked, %3 in force")
        .arg(m_device, settingsText(wanted), m_inForceText);
}

LineSettings QtSerialControl::lineInForce() const
{
    LineSettings s;
    s.baudRate = m_port->baudRate();
    termios t{};
    // Qt reports what it asked for; a pty, for one, silently drops parity and 7 bits.
    if (::tcgetattr(m_port->handle(), &t) != 0) {
        s.dataBits = int(m_port->dataBits());
        s.parity = fromQt(m_port->parity());
        s.stopBits = fromQt(m_port->stopBits());
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

bool QtSerialControl::setCommPort(qint16 port)
{
    if (m_port->isOpen())
        return fail(QStringLiteral("The port number cannot change while the port is open"));
    if (port <= 0)
        return fail(QStringLiteral("Invalid port number: ") + QString::number(port));
    m_commPort = port;
    return true;
}

std::optional<qint16> QtSerialControl::CommPort() const
{
    return m_commPort;
}

// --- Receiving

void QtSerialControl::takeIncoming()
{
    if (!m_port->isOpen())
        return;
    const qint64 available = m_port->bytesAvailable();
    if (available <= 0)
        return;
    if (m_readPos == m_in.size()) {
        m_in.resize(0);
        m_readPos = 0;
    } else if (m_readPos >= 65536 && m_readPos * 2 >= m_in.size()) {
        m_in.remove(0, m_readPos);
        m_readPos = 0;
    }
    const qsizetype old = m_in.size();
    m_in.resize(old + available);
    const qint64 got = m_port->read(m_in.data() + old, available);
    m_in.resize(old + std::max<qint64>(got, 0));
    if (got > 0) {
        ++m_arrivals;
        m_stalled = false;
    }
}

void QtSerialControl::onReadyRead()
{
    takeIncoming();
    drain();
}

void QtSerialControl::deliverLater()
{
    m_drainTimer->start();
}

void QtSerialControl::drain()
{
    // A handler waiting in a nested event loop: the pass around it goes on when it returns.
    if (m_emitting)
        return;
    if (deliverWaiting())
        finishLoss();
}

// --- Hang-up

void QtSerialControl::onErrorOccurred(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError || m_hangUpQueued || !m_port->isOpen())
        return;
    switch (error) {
    case QSerialPort::ResourceError:
        queueHangUp();
        return;
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
        if (deviceHungUp()) {
            queueHangUp();
            return;
        }
        if (error == QSerialPort::WriteError) {
            m_error = QStringLiteral("Write failed: %1 (%2)").arg(m_device, m_port->errorString());
            return;
        }
        // Read errors without a hang-up that do not stop are as good as a lost device.
        if (!m_readErrorWindow.isValid() || m_readErrorWindow.hasExpired(1000)) {
            m_readErrorWindow.start();
            m_readErrors = 0;
        }
        if (++m_readErrors >= 100)
            queueHangUp();
        return;
    default:
        return; // a refused setting or line query: the caller reports it
    }
}

bool QtSerialControl::deviceHungUp() const
{
    pollfd p{m_port->handle(), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

void QtSerialControl::queueHangUp()
{
    // Closing inside QSerialPort's own notification is not safe; the storm of errors that
    // Qt raises meanwhile is ignored through m_hangUpQueued.
    m_hangUpQueued = true;
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(
        this, [this, generation] { hangUp(generation); }, Qt::QueuedConnection);
}

void QtSerialControl::hangUp(quint64 generation)
{
    if (generation != m_generation || !m_port->isOpen())
        return;
    termios t{};
    const QString why =
        ::tcgetattr(m_port->handle(), &t) != 0 ? errnoText(errno) : m_port->errorString();
    takeIncoming(); // what QSerialPort already holds is lost at close
    m_lineTimer->stop();
    m_port->close();
    m_hangUpQueued = false;
    m_break = false;
    m_linesReadable = false;
    m_inForceText.clear();
    m_error = QStringLiteral("Device vanished: %1 (%2)").arg(m_device, why);
    m_lostReason = m_error;
    // The hang-up counts as an event: a handler that reads now gets the rest.
    m_stalled = false;
    drain();
}

void QtSerialControl::finishLoss()
{
    if (m_lostReason.isEmpty() || (waiting() > 0 && !m_stalled))
        return;
    const QString reason = m_lostReason;
    m_lostReason.clear();
    Q_EMIT portLost(reason);
}

// --- Sending and line control

bool QtSerialControl::setOutput(const QByteArray &data)
{
    if (!m_port->isOpen())
        return fail(QStringLiteral("The port is not open"));
    if (data.isEmpty())
        return true;
    if (m_port->write(data) != data.size())
        return fail(QStringLiteral("Write failed: %1 (%2)").arg(m_device, m_port->errorString()));
    return true;
}

bool QtSerialControl::setBreak(bool on)
{
    if (!m_port->isOpen())
        return fail(QStringLiteral("The port is not open"));
    if (!m_port->setBreakEnabled(on))
        return fail(
            QStringLiteral("Break not supported by %1 (%2)").arg(m_device, m_port->errorString()));
    m_break = on;
    return true;
}

std::optional<bool> QtSerialControl::Break() const
{
    return m_break;
}

bool QtSerialControl::setEOFEnable(bool on)
{
    m_eofEnable = on;
    return true;
}

std::optional<bool> QtSerialControl::EOFEnable() const
{
    return m_eofEnable;
}

bool QtSerialControl::setHandshaking(qint32 mode)
{
    if (mode < 0 || mode > 3)
        return fail(QStringLiteral("Invalid handshaking mode ") + QString::number(mode));
    if (m_port->isOpen() && !applyFlowControl(mode))
        return fail(QStringLiteral("Handshaking %1 not supported by %2 (%3)")
                        .arg(QString::number(mode), m_device, m_port->errorString()));
    m_handshaking = mode;
    return true;
}

std::optional<qint32> QtSerialControl::Handshaking() const
{
    return m_handshaking;
}

bool QtSerialControl::applyFlowControl(qint32 mode)
{
    return m_port->setFlowControl(flowControlFor(mode));
}

// --- Line states and buffers

std::optional<QSerialPort::PinoutSignals> QtSerialControl::pins() const
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

std::optional<bool> QtSerialControl::pin(QSerialPort::PinoutSignal signal) const
{
    const auto p = pins();
    return p && p->testFlag(signal);
}

void QtSerialControl::pollLines()
{
    // Inside a handler the change waits for the next tick.
    if (m_emitting)
        return;
    const auto p = pins();
    if (!p)
        return;
    const QSerialPort::PinoutSignals changed = *p ^ m_lastPins;
    m_lastPins = *p;
    const std::pair<QSerialPort::PinoutSignal, qint16> events[] = {
        {QSerialPort::ClearToSendSignal, CommEvents::Cts},
        {QSerialPort::DataSetReadySignal, CommEvents::Dsr},
        {QSerialPort::DataCarrierDetectSignal, CommEvents::Cd},
    };
    for (const auto &[signal, event] : events) {
        if (!changed.testFlag(signal) || !m_port->isOpen())
            continue;
        if (raise(event) && waiting() > 0) {
            m_stalled = false;
            m_drainTimer->start();
        }
    }
}

std::optional<bool> QtSerialControl::CDHolding() const
{
    return pin(QSerialPort::DataCarrierDetectSignal);
}

std::optional<bool> QtSerialControl::CTSHolding() const
{
    return pin(QSerialPort::ClearToSendSignal);
}

std::optional<bool> QtSerialControl::DSRHolding() const
{
    return pin(QSerialPort::DataSetReadySignal);
}

std::optional<bool> QtSerialControl::DTREnable() const
{
    return pin(QSerialPort::DataTerminalReadySignal);
}

std::optional<bool> QtSerialControl::RTSEnable() const
{
    return pin(QSerialPort::RequestToSendSignal);
}

std::optional<bool> QtSerialControl::NullDiscard() const
{
    return false;
}

std::optional<qint16> QtSerialControl::InBufferCount() const
{
    // Includes what a lost port left to deliver.
    return clamp16(waiting() + (m_port->isOpen() ? m_port->bytesAvailable() : 0));
}

std::optional<qint16> QtSerialControl::InBufferSize() const
{
    return qint16(1024);
}

std::optional<qint16> QtSerialControl::OutBufferCount() const
{
    if (!m_port->isOpen())
        return qint16(0);
    int queued = 0;
    if (::ioctl(m_port->handle(), TIOCOUTQ, &queued) != 0)
        queued = 0;
    return clamp16(m_port->bytesToWrite() + queued);
}

std::optional<qint16> QtSerialControl::OutBufferSize() const
{
    return qint16(512);
}

std::optional<QString> QtSerialControl::ParityReplace() const
{
    return QStringLiteral("?");
}

QString QtSerialControl::devicePath() const
{
    if (m_port->isOpen())
        return m_device;
    const QString mapped = deviceForPort(m_commPort);
    const QString canonical = QFileInfo(mapped).canonicalFilePath();
    return canonical.isEmpty() ? shownTarget(mapped) : canonical;
}

std::optional<LineErrorCounts> QtSerialControl::errorCounters() const
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
