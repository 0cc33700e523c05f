#include "log_book.h"

#include <QMutexLocker>

void LogBook::append(QString line)
{
    const QMutexLocker lock(&m_mutex);
    m_ring[m_appended % Capacity] = std::move(line);
    ++m_appended;
    ++m_changes;
}

void LogBook::clear()
{
    const QMutexLocker lock(&m_mutex);
    for (QString &line : m_ring)
        line.clear();
    m_appended = 0;
    ++m_changes;
}

LogBook::Contents LogBook::contents() const
{
    const QMutexLocker lock(&m_mutex);
    Contents contents;
    const quint64 kept = qMin<quint64>(m_appended, Capacity);
    contents.dropped = m_appended - kept;
    contents.lines.reserve(int(kept));
    for (quint64 index = contents.dropped; index < m_appended; ++index)
        contents.lines.append(m_ring[index % Capacity]);
    return contents;
}

quint64 LogBook::changeCount() const
{
    const QMutexLocker lock(&m_mutex);
    return m_changes;
}
