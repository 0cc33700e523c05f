#include "housekeeping.h"

#include "broadcast/broadcast_service.h"
#include "command/command_service.h"
#include "command/prog_mode.h"
#include "core/clock.h"
#include "core/close_reason.h"
#include "core/idle.h"
#include "core/presentation.h"
#include "core/server_state.h"
#include "link/serial_link.h"

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

    const qint64 now = m_parts.clock.seconds();
    const int maxConn = state.MaxConn;
    int commandCount = 0;
    int broadcastCount = 0;
    for (int i = 1; i <= maxConn; ++i) {
        if (state.CmdInUse[i] == 1 && IsIdle(now, state.CmdLastTime[i]))
            m_parts.commands.closeSlot(i, CloseReason::Idle);
        if (state.BcInUse[i] == 1 && IsIdle(now, state.BcLastTime[i]))
            m_parts.broadcasts.closeSlot(i, CloseReason::Idle);
        commandCount += state.CmdInUse[i] == 1;
        broadcastCount += state.BcInUse[i] == 1;
    }
    m_parts.presentation.showCounts(commandCount, broadcastCount);

    if (commandCount == 0 && state.ProgMode) {
        m_parts.commands.QueueCommand(LeaveProgModeLine(), 0);
        state.ProgMode = false;
    }

    state.T1InUse = false;
}
