#pragma once

#include <QList>
#include <QString>

// What one reading broadcast client received of the numbered broadcasts, and whether that is
// sound: every number once, in rising order, none missing but where the device itself went away.
class SequenceCheck
{
public:
    struct Range
    {
        quint32 first = 0;
        quint32 last = 0; // inclusive

        bool operator==(const Range &other) const
        {
            return first == other.first && last == other.last;
        }
    };

    explicit SequenceCheck(quint32 first = 0)
        : m_next(first)
    { }

    void take(quint32 sequence);
    // A line that is no numbered broadcast at all.
    void takeForeign() { ++m_foreign; }

    quint32 next() const { return m_next; } // one past the highest number received
    qint64 received() const { return m_received; }
    qint64 outOfOrder() const { return m_outOfOrder; } // repeated or older than one before
    qint64 foreign() const { return m_foreign; }
    const QList<Range> &gaps() const { return m_gaps; }

    // Empty when sound; otherwise what is wrong. `end` is one past the last number emitted.
    // A gap is allowed only as the tail of a range the device emitted while it was being
    // unplugged: what was still on its way when the line went dead, up to the last number
    // emitted before it.
    QString judge(quint32 end, const QList<Range> &deviceGone) const;

private:
    quint32 m_next = 0;
    qint64 m_received = 0;
    qint64 m_outOfOrder = 0;
    qint64 m_foreign = 0;
    QList<Range> m_gaps;
};
