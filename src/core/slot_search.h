#pragma once

#include "server_state.h"

// Slots 1..100 may hold connections; 101 only ever refuses one.
constexpr int LastConnectionSlot = SlotCount - 2;

inline bool IsConnectionSlot(int slot)
{
    return slot >= 1 && slot <= LastConnectionSlot;
}

// The slot a new connection goes into: the lowest free one of 1..maxConn, or
// the overflow slot maxConn + 1 when all are in use (that connection is then
// refused).
int FindFreeSlot(const SlotFlags &inUse, int maxConn);
