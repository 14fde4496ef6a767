#include "transmit/filesender.h"

#include "port/serialcontrol.h"

FileSender::FileSender(SerialControl *port, QObject *parent)
    : QObject(parent)
    , m_port(port)
{
    m_timer.setInterval(kTickMs);
    connect(&m_timer, &QTimer::timeout, this, &FileSender::pump);
}

bool FileSender::start(const QString &path)
{
    if (m_running)
        return false;
    m_outcomeText.clear();
    if (!m_reader.open(path))
        return false;
    m_pacing = SendPacing();
    m_handed = 0;
    m_sent = 0;
    m_running = true;
    m_clock.start();
    m_lastProgressMs = 0;
    m_samples.assign(1, {0, 0});
    m_timer.start();
    pump();
    return true;
}

double FileSender::rate() const
{
    if (m_samples.size() < 2)
        return 0.0;
    const auto &[fromMs, fromSent] = m_samples.front();
    const auto &[toMs, toSent] = m_samples.back();
    return toMs > fromMs ? double(toSent - fromSent) * 1000.0 / double(toMs - fromMs) : 0.0;
}

void FileSender::stop(Outcome outcome, const QString &by, bool portGone)
{
    if (!m_running)
        return;
    m_running = false;
    m_timer.stop();
    // What the port still holds leaves after a stop by the operator or a file fault; a lost
    // port took it with it.
    if (!portGone)
        m_sent = m_handed;
    const QString name = fileName();
    switch (outcome) {
    case Outcome::Done:
        m_outcomeText = QStringLiteral("Sent %1: %2 bytes.").arg(name).arg(m_sent);
        break;
    case Outcome::Stopped:
        m_outcomeText = QStringLiteral("%1: %2 sent.").arg(by, bytesOfText(m_sent, total()));
        break;
    case Outcome::Failed:
        m_outcomeText = QStringLiteral("Sending %1 stopped: %2 %3 were sent.")
                            .arg(name, by, bytesOfText(m_sent, total()));
        break;
    }
    Q_EMIT finished(outcome, m_outcomeText);
}

void FileSender::pump()
{
    // Once closed, the port reports nothing held: that must not pass for "all sent".
    if (!m_port->PortOpen().value_or(false)) {
        const QString why = m_port->lastError();
        stop(Outcome::Failed,
             why.isEmpty() ? QStringLiteral("the port is closed.")
                           : QStringLiteral("the port is closed (%1).").arg(why),
             true);
        return;
    }
    const std::optional<qint16> queued = m_port->OutBufferCount();
    if (!queued) {
        stop(Outcome::Failed, QStringLiteral("the port's output buffer could not be read (%1).")
                                  .arg(m_port->lastError()));
        return;
    }
    m_sent = std::max<qint64>(0, m_handed - *queued);
    if (m_reader.atEnd()) {
        if (*queued == 0)
            stop(Outcome::Done, QString());
        return;
    }
    const qint64 now = m_clock.elapsed();
    if (const qint64 n = m_pacing.next(*queued, now); n > 0) {
        const std::optional<QByteArray> chunk = m_reader.read(n);
        if (!chunk) {
            stop(Outcome::Failed, m_reader.error());
            return;
        }
        if (!m_port->setOutput(*chunk)) {
            stop(Outcome::Failed,
                 QStringLiteral("the port refused the data (%1).").arg(m_port->lastError()), true);
            return;
        }
        m_handed += chunk->size();
    }
    if (now - m_lastProgressMs >= 100) {
        m_lastProgressMs = now;
        // A recent rate: a port that stalls shows as stalled, not as slowly averaging down.
        m_samples.emplace_back(now, m_sent);
        while (m_samples.size() > 2 && now - m_samples[1].first >= 2000)
            m_samples.pop_front();
        Q_EMIT progressed();
    }
}
