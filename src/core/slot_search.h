#pragma once

#include "server_state.h"

// The slot a new connection goes into: the lowest free one of 1..maxConn, or
// the overflow slot maxConn + 1 when all are in use (that connection is then
// refused).
int FindFreeSlot(const SlotFlags &inUse, int maxConn);
