#include "server_text.h"

#include "core/protocol.h"

std::optional<QByteArray> ServerText::takeLine()
{
    const qsizetype end = m_pending.indexOf("\r\n");
    if (end < 0)
        return std::nullopt;
    QByteArray line = m_pending.left(end);
    m_pending.remove(0, end + 2);
    return line;
}

bool ServerText::holdsRefusal(bool connectionClosed) const
{
    if (m_pending.startsWith(Protocol::RefusalText()))
        return true;
    // A close can cut the text short when the server resets the connection.
    return connectionClosed && !m_pending.isEmpty()
        && Protocol::RefusalText().startsWith(m_pending);
}

bool ServerText::isOverlong() const
{
    const qsizetype end = m_pending.indexOf("\r\n");
    return (end < 0 ? m_pending.size() : end) > MaxPendingBytes;
}
