#pragma once

#include <QMutex>
#include <QStringList>
#include <vector>

// The last log lines of the running program, as they went to standard error,
// for the log window. A ring: once full, each new line drops the oldest one,
// and the dropped lines are counted. Appending copies no line and takes one
// short lock, so any thread may log into it, as often as it likes; readers
// take a copy of what is kept when they want to show it.
class LogBook
{
public:
    static constexpr int Capacity = 2000; // lines kept

    struct Contents
    {
        QStringList lines; // oldest first
        quint64 dropped = 0; // older lines no longer kept
    };

    void append(QString line);
    // Forgets every line, the dropped ones included.
    void clear();

    Contents contents() const;
    // Changes with every append and clear: a reader compares it with the value
    // it saw last to learn whether there is anything new to show.
    quint64 changeCount() const;

private:
    mutable QMutex m_mutex;
    std::vector<QString> m_ring = std::vector<QString>(Capacity);
    // Lines appended since the last clear; the next one goes to m_appended % Capacity.
    quint64 m_appended = 0;
    quint64 m_changes = 0; // appends and clears
};
