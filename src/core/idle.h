#pragma once

#include "core/protocol.h"

// A connection whose last activity lies more than IdleLimitSeconds (60) whole
// seconds away, in either direction, is idle and gets closed by the housekeeping.

inline bool IsIdle(qint64 now, qint64 lastActivity)
{
    const qint64 diff = now - lastActivity;
    return (diff < 0 ? -diff : diff) > Protocol::IdleLimitSeconds;
}
