#pragma once

#include "core/server_state.h"

class TcpClient;

// Connects `client` to the service on `port` and returns the slot that turned
// from free to in use in `flags` (0: none within `timeoutMs`).
int ConnectIntoSlot(TcpClient &client, quint16 port, const SlotFlags &flags, int timeoutMs = 10000);

// The number of slots in use.
int CountInUse(const SlotFlags &flags);
