#include "command_service.h"

#include "core/command_line.h"
#include "core/hex_line.h"
#include "core/line_intake.h"
#include "core/logging.h"
#include "core/protocol.h"
#include "core/slot_search.h"

CommandService::CommandService(ServerState &state, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_connections(
          QStringLiteral("command"), state.CmdInUse, state.CmdLastTime, state.MaxConn, clock,
          [this] {
              // While one client programs the device, nobody else may send it commands.
              return ConnectionSlots::Admission { {},
                  m_state.ProgMode ? QStringLiteral("programming mode") : QString() };
          },
          this)
{
    connect(&m_connections, &ConnectionSlots::accepted, this, &CommandService::beginConnection);
    connect(&m_connections, &ConnectionSlots::received, this, &CommandService::takeText);
    connect(&m_connections, &ConnectionSlots::written, this, &CommandService::countWritten);
}

void CommandService::QueueCommand(const QByteArray &line, int index)
{
    const std::optional<QByteArray> command = TranslateCommandLine(line);
    if (!command) {
        writeTo(index, Protocol::ErrorAnswerLine(), Reply::Answer);
        return;
    }
    // A full ring refuses the entry rather than overwrite a waiting one. One line per connection
    // keeps it short in operation, but entries of closed connections wait for the worker, so
    // clients that reconnect while the device is slow can fill it. The line is then answered as
    // the device answers a command it could not take.
    if (!m_state.Ring.put({ *command, index, m_connections.connectionId(index) })) {
        qCWarning(lcConnections) << "command ring full; command from slot" << index << "dropped";
        writeTo(index, HexLine(Protocol::TimeoutAnswer()), Reply::Answer);
        return;
    }
    Q_EMIT commandQueued();
}

bool CommandService::sendAnswer(int slot, quint64 connection, const QByteArray &answerLine)
{
    if (connection == 0 || m_connections.connectionId(slot) != connection)
        return false;
    return writeTo(slot, answerLine, Reply::Answer);
}

void CommandService::CloseProg(int index)
{
    m_connections.closeAll(CloseReason::ProgMode, index);
}

void CommandService::beginConnection(int slot)
{
    m_lines[slot] = Line();
    m_state.CmdInpStr[slot].clear();
}

void CommandService::takeText(int slot, const QByteArray &data)
{
    Line &line = m_lines[slot];
    if (line.state != LineState::Collecting)
        return; // a line is pending: everything else the client sends goes
    QByteArray &buffer = m_state.CmdInpStr[slot];
    const quint64 connection = m_connections.connectionId(slot);
    const LineIntake intake = TakeText(buffer, line.discarding, data);
    for (int i = 0; i < intake.overlongLines; ++i)
        writeTo(slot, Protocol::ErrorAnswerLine(), Reply::Notice);
    // A slow reader may have been closed by those answers.
    if (!intake.lineComplete || m_connections.connectionId(slot) != connection)
        return;
    line.state = LineState::Pending;
    QueueCommand(buffer, slot);
}

// `written` is the "sent" signal: Qt reports it once bytes have been handed to the operating
// system, the nearest a socket comes to a completed send. Counting it against the bytes queued
// tells when the answer to the pending line has left, even with several writes in flight.
void CommandService::countWritten(int slot, qint64 bytes)
{
    m_lines[slot].writtenBytes += bytes;
    endLineIfAnswered(slot);
}

bool CommandService::writeTo(int slot, const QByteArray &bytes, Reply reply)
{
    if (!IsConnectionSlot(slot) || !m_connections.write(slot, bytes))
        return false;
    Line &line = m_lines[slot];
    line.queuedBytes += bytes.size();
    // Only an answer to the line that is pending ends it; a stray answer leaves the buffer.
    if (reply == Reply::Answer && line.state == LineState::Pending) {
        line.state = LineState::Answering;
        line.answerEnd = line.queuedBytes;
        endLineIfAnswered(slot);
    }
    return true;
}

void CommandService::endLineIfAnswered(int slot)
{
    Line &line = m_lines[slot];
    if (line.state != LineState::Answering || line.writtenBytes < line.answerEnd)
        return;
    line.state = LineState::Collecting;
    m_state.CmdInpStr[slot].clear();
}
