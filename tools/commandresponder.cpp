#include "tools/commandresponder.h"

CommandResponder::CommandResponder(SimProfile profile, std::uint64_t seed)
    : m_profile(profile)
    , m_replies(profile, replySeed(seed))
{}

namespace {

QByteArray normalized(const QByteArray &command)
{
    QByteArray t = command;
    while (t.startsWith(' '))
        t.remove(0, 1);
    while (t.endsWith(' '))
        t.chop(1);
    return t.toUpper();
}

} // namespace

void CommandResponder::keep(char c)
{
    if (m_command.size() < kMaxCommand)
        m_command.append(c);
}

QList<QByteArray> CommandResponder::feed(QByteArrayView received)
{
    QList<QByteArray> answers;
    for (const char c : received) {
        if (m_profile == SimProfile::Line) {
            if (c == SimCodes::CR || c == SimCodes::LF) {
                // CR LF is one line end, not an empty second command.
                if (!m_command.isEmpty())
                    answers.append(answerLine(m_command));
                m_command.clear();
            } else {
                keep(c);
            }
            continue;
        }
        if (c == SimCodes::STX) {
            // A new command starts; bare text before it was noise.
            m_inCommand = true;
            m_command.clear();
        } else if (m_inCommand) {
            if (c == SimCodes::EOT) {
                answers.append(answerFramed(m_command));
                m_inCommand = false;
                m_command.clear();
            } else {
                keep(c);
            }
        } else if (c == SimCodes::CR || c == SimCodes::LF) {
            if (!m_command.isEmpty())
                answers.append(QByteArray(1, SimCodes::EOT));
            m_command.clear();
        } else {
            keep(c);
        }
    }
    return answers;
}

QList<QByteArray> CommandResponder::quiet()
{
    QList<QByteArray> answers;
    if (m_profile == SimProfile::Line) {
        if (!m_command.isEmpty())
            answers.append(answerLine(m_command));
    } else if (!m_inCommand && !m_command.isEmpty()) {
        answers.append(QByteArray(1, SimCodes::EOT));
    }
    m_inCommand = false;
    m_command.clear();
    return answers;
}

QByteArray CommandResponder::answerFramed(const QByteArray &command)
{
    const QByteArray ack(1, SimCodes::ACK);
    if (command == QByteArray(1, SimCodes::DLE))
        return ack;
    const QByteArray name = normalized(command);
    if (name == "READ")
        return ack + m_replies.next();
    if (name == "ID")
        return ack + SimCodes::STX + "COMMTEST-SIM,FRAME,1" + SimCodes::CR;
    return QByteArray(1, SimCodes::EOT);
}

QByteArray CommandResponder::answerLine(const QByteArray &command)
{
    const QByteArray name = normalized(command);
    if (name == "READ")
        return m_replies.next();
    if (name == "ID")
        return QByteArray("COMMTEST-SIM;LINE;1\r\n");
    return QByteArray("ERR;UNKNOWN COMMAND\r\n");
}
