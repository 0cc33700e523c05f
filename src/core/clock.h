#pragma once

#include <QElapsedTimer>
#include <QtGlobal>

// Monotonic time for every time rule of the server: whole seconds for the idle
// rule and the splash time, milliseconds for the answer limit and the
// late-answer guard. Only differences of readings mean anything.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual qint64 milliseconds() const = 0;
    qint64 seconds() const { return milliseconds() / 1000; }
    // How long a waiter may sleep before it looks at the clock again, with
    // `remainingMs` left to its deadline: a clock that runs by itself is looked
    // at when the deadline is due, and not before.
    virtual qint64 lookAgainAfterMs(qint64 remainingMs) const { return remainingMs; }
};

// Production clock: monotonic, so setting the wall clock or a daylight-saving
// change never closes connections or cuts a wait short. Its seconds never read
// 0, which the slot tables use for "no time".
class MonotonicClock : public Clock
{
public:
    MonotonicClock() { m_timer.start(); }
    qint64 milliseconds() const override { return 1000 + m_timer.elapsed(); }

private:
    QElapsedTimer m_timer;
};

// Test clock: stands still until it is moved, so a waiter looks at it often.
class ManualClock : public Clock
{
public:
    qint64 milliseconds() const override { return m_nowMs; }
    qint64 lookAgainAfterMs(qint64 remainingMs) const override
    {
        return qMin<qint64>(remainingMs, 25);
    }
    void advance(qint64 seconds) { m_nowMs += seconds * 1000; }
    void advanceMs(qint64 milliseconds) { m_nowMs += milliseconds; }
    void set(qint64 seconds) { m_nowMs = seconds * 1000; }

private:
    qint64 m_nowMs = 1000 * 1000;
};
