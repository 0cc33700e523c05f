#pragma once

#include "core/command_ring.h"
#include "core/protocol.h"

#include <QByteArray>
#include <array>

// Slot tables are indexed 0..101: 0 is the listening socket, 1..MaxConn the
// connection slots, MaxConn + 1 the overflow slot that only refuses.
constexpr int SlotCount = Protocol::MaxConnections + 2;

using SlotFlags = std::array<qint16, SlotCount>; // 1 in use, 0 free
using SlotTimes = std::array<qint64, SlotCount>; // Clock seconds of the last activity, 0 when free

// What the server does: stopped; searching its device (at a start, after the
// device was lost, or headless until it first answers); running with the
// device found and both services listening.
enum class ServerPhase
{
    Stopped,
    Searching,
    Running
};

// What the serial line does: nothing; a request written and its answer
// awaited; a request timed out and its late answer still possible; or the
// device search owns the port (its probes' waits are its own).
enum class LinkState
{
    Idle,
    WaitingForAnswer,
    LateAnswerGuard,
    Searching
};

// The shared state of the server. One instance, owned by the Server; every
// subsystem works on it through a reference and owns no shared state of its
// own. Everything runs on the one event thread, so there is no locking.
struct ServerState
{
    ServerPhase Phase = ServerPhase::Stopped; // start, stop and restart switch it
    LinkState Link = LinkState::Idle; // the transaction writes it, the search while it runs
    bool WaitAnswer = false; // a caller waits for the device's answer: the transaction's
                             // request is written or held back by the guard
    bool ProgMode = false; // the device is in programming mode; set by the worker, cleared by
                           // the worker (21 81 A0) or the housekeeping (no command client left)
    QByteArray InpStr; // bytes from the device not yet read as frames: at most one
                       // incomplete frame; never cleared by start or stop
    bool T1InUse = false; // the housekeeping tick is running
    bool T2InUse = false; // the worker step is running, from taking an entry until its answer
                          // has been handed to the client
    bool GlobalIFFound = false; // the server has been started with the device found and not
                                // stopped since (still true while a lost device is searched)
    int MaxConn = Protocol::MaxConnections; // connection slots per service

    SlotFlags CmdInUse {}; // command slot in use
    SlotTimes CmdLastTime {}; // last activity on a command connection
    std::array<QByteArray, SlotCount> CmdInpStr; // partial line, or the pending line with its CR
    SlotFlags BcInUse {}; // broadcast slot in use
    SlotTimes BcLastTime {}; // last activity on a broadcast connection

    CommandRing Ring; // QueueCmd, QueueSocket, QueueIn, QueueOut
};
