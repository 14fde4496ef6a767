#include "transmit/commandhistory.h"

void CommandHistory::push(const QString &command)
{
    m_at = -1;
    m_draft.clear();
    if (command.isEmpty() || (!m_entries.isEmpty() && m_entries.first() == command))
        return;
    m_entries.prepend(command);
    if (m_entries.size() > kLimit)
        m_entries.removeLast();
}

std::optional<QString> CommandHistory::up(const QString &current)
{
    if (m_at + 1 >= m_entries.size())
        return std::nullopt;
    if (m_at < 0)
        m_draft = current;
    return m_entries.at(++m_at);
}

std::optional<QString> CommandHistory::down()
{
    if (m_at < 0)
        return std::nullopt;
    --m_at;
    return m_at < 0 ? m_draft : m_entries.at(m_at);
}
