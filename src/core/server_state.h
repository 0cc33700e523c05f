#pragma once

#include "command_ring.h"

#include <QByteArray>
#include <array>

// Slot tables are indexed 0..101: 0 is the listening socket, 1..MaxConn the
// connection slots, MaxConn + 1 the overflow slot that only refuses.
constexpr int SlotCount = 102;
constexpr int DefaultMaxConn = 100;

using SlotFlags = std::array<qint16, SlotCount>; // 1 in use, 0 free
using SlotTimes = std::array<qint64, SlotCount>; // Clock seconds of the last activity, 0 when free

// The shared state of the server. One instance, owned by the Server; every
// subsystem works on it through a reference and owns no shared state of its
// own. Everything runs on the one event thread, so there is no locking.
struct ServerState
{
    bool WaitAnswer = false;    // a device transaction is open; Transaction sets and clears it
    bool ProgMode = false;      // the device is in programming mode; set by the worker, cleared by
                                // the worker (21 81 A0) or the housekeeping (no command client left)
    QByteArray InpStr;          // bytes from the device not yet cut out as answers or broadcasts;
                                // never cleared by start or stop
    bool T1InUse = false;       // the housekeeping tick is running
    bool T2InUse = false;       // the worker step is running, from taking an entry until its answer
                                // has been handed to the client
    bool GlobalIFFound = false; // the server runs with the device found (start/restart set it,
                                // stop clears it)
    int MaxConn = DefaultMaxConn; // connection slots per service

    SlotFlags CmdInUse{};                   // command slot in use
    SlotTimes CmdLastTime{};                // last activity on a command connection
    std::array<QByteArray, SlotCount> CmdInpStr; // partial line, or the pending line with its CR
    SlotFlags BcInUse{};                    // broadcast slot in use
    SlotTimes BcLastTime{};                 // last activity on a broadcast connection

    CommandRing Ring; // QueueCmd, QueueSocket, QueueIn, QueueOut
};
