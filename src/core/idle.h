#pragma once

#include <QtGlobal>

// A connection whose last activity lies more than 60 whole seconds away, in
// either direction, is idle and gets closed by the housekeeping.
constexpr qint64 IdleLimitSeconds = 60;

inline bool IsIdle(qint64 now, qint64 lastActivity)
{
    const qint64 diff = now - lastActivity;
    return (diff < 0 ? -diff : diff) > IdleLimitSeconds;
}
