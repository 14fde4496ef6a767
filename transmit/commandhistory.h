#pragma once
// The command box's history: the commands sent in this run, newest first, walked with Up
// and Down. Kept in memory only.

#include <QString>
#include <QStringList>

#include <optional>

class CommandHistory
{
public:
    static constexpr qsizetype kLimit = 200;

    // Records a command that was sent. An empty command, or the same as the newest, adds
    // nothing; the oldest goes past kLimit. Walking starts again from the draft.
    void push(const QString &command);
    // One step older. The first step keeps current as the draft. Nothing when there is
    // nothing older.
    std::optional<QString> up(const QString &current);
    // One step newer; past the newest, the draft. Nothing when not walking.
    std::optional<QString> down();

    qsizetype size() const { return m_entries.size(); }

private:
    QStringList m_entries; // newest first
    qsizetype m_at = -1;   // index being shown; -1: the draft
    QString m_draft;
};
