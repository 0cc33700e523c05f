#include "command_service.h"

#include "command/command_line.h"
#include "command/connection_socket.h"
#include "command/service_listener.h"
#include "core/clock.h"
#include "core/hex_line.h"
#include "core/logging.h"
#include "core/slot_search.h"
#include "link/receive_buffer.h"

#include <QTcpSocket>
#include <utility>

namespace {

// What one piece of received text did to a line buffer that holds no CR.
struct LineIntake
{
    int overlongLines = 0; // lines that passed the length limit, each owed one error answer
    bool lineComplete = false; // the buffer now holds a whole line, its CR last
};

// Appends received text to a line buffer up to and including the first CR; whatever follows
// that CR is dropped. Text that would make a line longer than the limit is dropped up to and
// including its own CR, which ends the overlong line without making a line of its own.
LineIntake TakeText(QByteArray &buffer, bool &discarding, const QByteArray &data)
{
    LineIntake intake;
    qsizetype from = 0;
    while (from < data.size()) {
        const qsizetype cr = data.indexOf('\r', from);
        if (discarding) {
            if (cr < 0)
                break;
            discarding = false;
            from = cr + 1;
            continue;
        }
        const qsizetype textEnd = cr < 0 ? data.size() : cr;
        if (buffer.size() + (textEnd - from) > CommandService::MaxLineLength) {
            ++intake.overlongLines;
            buffer.clear();
            discarding = true;
            continue;
        }
        if (cr < 0) {
            buffer.append(data.mid(from));
            break;
        }
        buffer.append(data.mid(from, cr + 1 - from));
        intake.lineComplete = true;
        break;
    }
    return intake;
}

void LogClosed(int slot, const QHostAddress &peer, CloseReason reason)
{
    qCInfo(lcConnections).noquote() << QStringLiteral("command slot %1: %2 closed (%3)")
                                           .arg(slot)
                                           .arg(peer.toString(), CloseReasonText(reason));
}

} // namespace

CommandService::CommandService(ServerState &state, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_clock(clock)
    , m_listener(new ServiceListener(this))
{
    connect(m_listener, &ServiceListener::accepted, this, &CommandService::acceptConnection);
}

bool CommandService::listen(const QHostAddress &address, quint16 port, QString *error)
{
    return m_listener->listen(address, port, error);
}

bool CommandService::isListening() const
{
    return m_listener->isListening();
}

quint16 CommandService::serverPort() const
{
    return m_listener->serverPort();
}

QHostAddress CommandService::serverAddress() const
{
    return m_listener->serverAddress();
}

void CommandService::closeListener()
{
    m_listener->close();
}

void CommandService::QueueCommand(const QByteArray &line, int index)
{
    const bool answerable = IsConnectionSlot(index) && m_connections[index].id != 0;
    const std::optional<QByteArray> command = TranslateCommandLine(line);
    if (!command) {
        if (answerable)
            writeTo(index, ErrorAnswerLine(), Reply::Answer);
        return;
    }
    // A full ring refuses the entry rather than overwrite a waiting one. One line per connection
    // keeps it short in operation, but entries of closed connections wait for the worker, so
    // clients that reconnect while the device is slow can fill it. The line is then answered as
    // the device answers a command it could not take.
    if (!m_state.Ring.put({ *command, index, connectionId(index) })) {
        qCWarning(lcConnections) << "command ring full; command from slot" << index << "dropped";
        if (answerable)
            writeTo(index, HexLine(ReceiveBuffer::TimeoutAnswer()), Reply::Answer);
        return;
    }
    Q_EMIT commandQueued();
}

bool CommandService::sendAnswer(int slot, quint64 connection, const QByteArray &answerLine)
{
    if (!IsConnectionSlot(slot) || connection == 0 || m_connections[slot].id != connection)
        return false;
    return writeTo(slot, answerLine, Reply::Answer);
}

void CommandService::closeSlot(int slot, CloseReason reason)
{
    if (!IsConnectionSlot(slot))
        return;
    m_state.CmdInUse[slot] = 0;
    m_state.CmdLastTime[slot] = 0;
    const Connection connection = std::exchange(m_connections[slot], Connection());
    if (!connection.socket)
        return;
    LogClosed(slot, connection.peer, reason);
    ConnectionSocket::close(connection.socket, this, reason == CloseReason::SlowReader);
}

void CommandService::CloseProg(int index)
{
    for (int slot = 1; slot <= LastConnectionSlot; ++slot) {
        if (slot != index)
            closeSlot(slot, CloseReason::ProgMode);
    }
}

void CommandService::closeAll(CloseReason reason)
{
    for (int slot = 1; slot <= LastConnectionSlot; ++slot)
        closeSlot(slot, reason);
}

quint64 CommandService::connectionId(int slot) const
{
    return IsConnectionSlot(slot) ? m_connections[slot].id : 0;
}

QHostAddress CommandService::peerAddress(int slot) const
{
    return IsConnectionSlot(slot) ? m_connections[slot].peer : QHostAddress();
}

void CommandService::acceptConnection(QTcpSocket *socket)
{
    ConnectionSocket::prepare(socket, this);
    const QHostAddress peer = ConnectionSocket::clientAddress(socket);
    const int slot = FindFreeSlot(m_state.CmdInUse, m_state.MaxConn);
    if (slot > m_state.MaxConn || m_state.ProgMode) {
        qCInfo(lcConnections).noquote()
            << QStringLiteral("command connection from %1 refused (%2)")
                   .arg(peer.toString(),
                       m_state.ProgMode ? QStringLiteral("programming mode")
                                        : QStringLiteral("all slots in use"));
        ConnectionSocket::refuse(socket, this);
        return;
    }

    const quint64 id = ++m_lastConnectionId;
    m_connections[slot] = Connection();
    m_connections[slot].socket = socket;
    m_connections[slot].id = id;
    m_connections[slot].peer = peer;
    m_state.CmdInUse[slot] = 1;
    m_state.CmdLastTime[slot] = m_clock.seconds();
    m_state.CmdInpStr[slot].clear();

    // closeSlot() cuts these connections, so they only ever see the socket of their slot.
    // Errors alone change nothing: the disconnect that follows frees the slot.
    connect(socket, &QTcpSocket::readyRead, this, [this, slot] { readData(slot); });
    connect(socket, &QTcpSocket::bytesWritten, this,
        [this, slot](qint64 bytes) { countWritten(slot, bytes); });
    connect(socket, &QTcpSocket::disconnected, this,
        [this, slot] { closeSlot(slot, CloseReason::PeerClosed); });
    qCInfo(lcConnections).noquote()
        << QStringLiteral("command slot %1: %2 accepted").arg(slot).arg(peer.toString());
}

void CommandService::readData(int slot)
{
    const quint64 id = m_connections[slot].id;
    const QByteArray data = m_connections[slot].socket->readAll();
    m_state.CmdLastTime[slot] = m_clock.seconds();
    QByteArray &buffer = m_state.CmdInpStr[slot];
    if (buffer.contains('\r'))
        return; // a line is pending: everything else the client sends goes

    const LineIntake intake = TakeText(buffer, m_connections[slot].discarding, data);
    for (int i = 0; i < intake.overlongLines; ++i)
        writeTo(slot, ErrorAnswerLine(), Reply::Notice);
    if (intake.lineComplete && m_connections[slot].id == id) // not closed as a slow reader
        QueueCommand(buffer, slot);
}

// bytesWritten is the "sent" signal: Qt emits it once bytes have been handed to the operating
// system, the nearest a socket comes to reporting a completed send. Counting it against the
// bytes queued tells when the answer to the pending line has left, even when several writes
// are in flight.
void CommandService::countWritten(int slot, qint64 bytes)
{
    m_connections[slot].writtenBytes += bytes;
    endPendingIfWritten(slot);
}

void CommandService::endPendingIfWritten(int slot)
{
    Connection &connection = m_connections[slot];
    if (connection.answerEnd == 0 || connection.writtenBytes < connection.answerEnd)
        return;
    connection.answerEnd = 0;
    m_state.CmdInpStr[slot].clear();
}

bool CommandService::writeTo(int slot, const QByteArray &bytes, Reply reply)
{
    Connection &connection = m_connections[slot];
    if (!ConnectionSocket::write(connection.socket, bytes))
        return false;
    connection.queuedBytes += bytes.size();
    if (connection.socket->bytesToWrite() > MaxUnsentBytes) {
        closeSlot(slot, CloseReason::SlowReader);
        return false;
    }
    // Only an answer to the line that is pending ends it; a stray answer leaves the buffer.
    if (reply == Reply::Answer && m_state.CmdInpStr[slot].contains('\r')) {
        connection.answerEnd = connection.queuedBytes;
        endPendingIfWritten(slot);
    }
    return true;
}
