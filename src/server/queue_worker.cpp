#include "queue_worker.h"

#include "broadcast/broadcast_service.h"
#include "command/command_service.h"
#include "core/hex_line.h"
#include "core/prog_mode.h"
#include "core/protocol.h"
#include "core/server_state.h"
#include "link/serial_link.h"
#include "link/transaction.h"

QueueWorker::QueueWorker(const Parts &parts, Restart restart, QObject *parent)
    : QObject(parent)
    , m_parts(parts)
    , m_restart(std::move(restart))
{ }

bool QueueWorker::searching() const
{
    return m_parts.state.Link == LinkState::Searching;
}

void QueueWorker::stepNow()
{
    // A command queued while the worker is idle goes to the device in the same pass; T2InUse,
    // which a running step holds until its answer is out, keeps a step from being entered again.
    if (!m_parts.state.T2InUse)
        Timer2_Timer();
}

void QueueWorker::Timer2_Timer()
{
    ServerState &state = m_parts.state;
    if (state.T2InUse)
        return;
    state.T2InUse = true;
    if (state.Phase != ServerPhase::Stopped && !searching() && !m_parts.link.isOpen()) {
        m_restart([this] { takeCommand(); });
        return;
    }
    takeCommand();
}

void QueueWorker::takeCommand()
{
    ServerState &state = m_parts.state;
    if (state.Ring.isEmpty() || searching()) {
        // Waiting entries stay for a later tick.
        state.T2InUse = false;
        return;
    }
    const QueuedCommand entry = *state.Ring.take();

    switch (ClassifyProgMode(entry.command)) {
    case ProgModeEffect::Enter:
        state.ProgMode = true;
        m_parts.commands.CloseProg(entry.slot);
        m_parts.broadcasts.SubmitBC(Protocol::ProgModeNotice());
        m_parts.broadcasts.SubmitBC(Protocol::ProgModeNotice());
        break;
    case ProgModeEffect::Leave:
        state.ProgMode = false;
        break;
    case ProgModeEffect::None:
        break;
    }

    m_parts.transaction.SendData(entry.command, [this, entry](const QByteArray &answer) {
        m_parts.commands.sendAnswer(entry.slot, entry.connection, HexLine(answer));
        finishStep();
    });
}

void QueueWorker::finishStep()
{
    m_parts.state.T2InUse = false;
    // The next waiting command goes at once rather than on the next tick.
    if (!m_parts.state.Ring.isEmpty() && !searching())
        stepNow();
}
