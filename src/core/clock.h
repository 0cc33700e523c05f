#pragma once

#include <QElapsedTimer>
#include <QtGlobal>

// Whole seconds for every time rule of the server: the idle rule, the answer
// time-outs and the splash time. Only differences of readings mean anything.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual qint64 seconds() const = 0;
};

// Production clock: monotonic, so setting the wall clock or a daylight-saving
// change never closes connections or cuts a wait short. Never reads 0, which
// the slot tables use for "no time".
class MonotonicClock : public Clock
{
public:
    MonotonicClock() { m_timer.start(); }
    qint64 seconds() const override { return 1 + m_timer.elapsed() / 1000; }

private:
    QElapsedTimer m_timer;
};

// Test clock: stands still until it is moved.
class ManualClock : public Clock
{
public:
    qint64 seconds() const override { return m_now; }
    void advance(qint64 seconds) { m_now += seconds; }
    void set(qint64 seconds) { m_now = seconds; }

private:
    qint64 m_now = 1000;
};
