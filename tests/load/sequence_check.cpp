#include "sequence_check.h"

#include <algorithm>

void SequenceCheck::take(quint32 sequence)
{
    ++m_received;
    if (sequence < m_next) {
        ++m_outOfOrder;
        return;
    }
    if (sequence > m_next)
        m_gaps.append({ m_next, sequence - 1 });
    m_next = sequence + 1;
}

QString SequenceCheck::judge(quint32 end, const QList<Range> &deviceGone) const
{
    if (m_foreign > 0)
        return QStringLiteral("%1 lines that are no numbered broadcast").arg(m_foreign);
    if (m_outOfOrder > 0)
        return QStringLiteral("%1 broadcasts out of order or twice").arg(m_outOfOrder);
    QList<Range> gaps = m_gaps;
    if (m_next < end)
        gaps.append({ m_next, end - 1 });
    for (const Range &gap : gaps) {
        const bool allowed = std::any_of(deviceGone.cbegin(), deviceGone.cend(),
            [&gap](const Range &gone) { return gap.first >= gone.first && gap.last == gone.last; });
        if (!allowed)
            return QStringLiteral("broadcasts %1 to %2 lost").arg(gap.first).arg(gap.last);
    }
    return QString();
}
