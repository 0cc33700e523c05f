#include "command_ring.h"

bool CommandRing::put(const QueuedCommand &entry)
{
    if (isFull())
        return false;
    m_queueIn = next(m_queueIn);
    m_entries[m_queueIn] = entry;
    return true;
}

std::optional<QueuedCommand> CommandRing::take()
{
    if (isEmpty())
        return std::nullopt;
    m_queueOut = next(m_queueOut);
    QueuedCommand entry = std::move(m_entries[m_queueOut]);
    m_entries[m_queueOut] = QueuedCommand();
    return entry;
}
