#include "housekeeping.h"

#include "broadcast/broadcast_service.h"
#include "command/command_service.h"
#include "core/clock.h"
#include "core/hex_line.h"
#include "core/idle.h"
#include "core/presentation.h"
#include "core/protocol.h"
#include "core/server_state.h"
#include "link/serial_link.h"
#include "net/close_reason.h"

Housekeeping::Housekeeping(const Parts &parts, QObject *parent)
    : QObject(parent)
    , m_parts(parts)
{ }

void Housekeeping::Timer1_Timer()
{
    ServerState &state = m_parts.state;
    if (state.T1InUse)
        return;
    state.T1InUse = true;

    m_parts.link.checkDsr();
    closeIdleConnections();
    const Counts counts = countConnections();
    m_parts.presentation.showCounts(counts.command, counts.broadcast);
    leaveProgModeWithoutClients(counts.command);

    state.T1InUse = false;
}

void Housekeeping::closeIdleConnections()
{
    const ServerState &state = m_parts.state;
    const qint64 now = m_parts.clock.seconds();
    const int maxConn = state.MaxConn;
    for (int slot = 1; slot <= maxConn; ++slot) {
        if (state.CmdInUse[slot] == 1 && IsIdle(now, state.CmdLastTime[slot]))
            m_parts.commands.connections().close(slot, CloseReason::Idle);
        if (state.BcInUse[slot] == 1 && IsIdle(now, state.BcLastTime[slot]))
            m_parts.broadcasts.connections().close(slot, CloseReason::Idle);
    }
}

Housekeeping::Counts Housekeeping::countConnections() const
{
    const ServerState &state = m_parts.state;
    Counts counts;
    for (int slot = 1; slot <= state.MaxConn; ++slot) {
        counts.command += state.CmdInUse[slot] == 1;
        counts.broadcast += state.BcInUse[slot] == 1;
    }
    return counts;
}

void Housekeeping::leaveProgModeWithoutClients(int commandConnections)
{
    // Nobody is left to end it: the server's own command does, and its answer reaches no client.
    if (commandConnections != 0 || !m_parts.state.ProgMode)
        return;
    m_parts.commands.QueueCommand(HexText(Protocol::LeaveProgModeCommand()), 0);
    m_parts.state.ProgMode = false;
}
