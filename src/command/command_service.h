#pragma once

#include "core/close_reason.h"
#include "core/server_state.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <array>

class Clock;
class ServiceListener;
class QTcpSocket;

// The command service: TCP connections of command clients, one line each at a time.
//
// A client is accepted into the lowest free slot 1..MaxConn (refused through the overflow slot
// when all are in use, and always while ProgMode). Its text collects in CmdInpStr(slot) until
// the first CR; the line, CR included, goes to QueueCommand and stays in the buffer: the slot is
// pending, and everything the client sends until the answer to that line has been written is
// discarded. The worker takes the ring entry and calls sendAnswer() with the entry's slot and
// connection id.
//
// Rules that must hold:
// - a slot closed by the server is free at once (CmdInUse 0, CmdLastTime 0); CmdInpStr is left
//   as it is until the slot is used again;
// - an answer reaches only the connection that sent the line, never a later client in the slot;
// - no client grows the server's memory without bound: a line holds at most MaxLineLength
//   characters and unsent output at most MaxUnsentBytes;
// - a failed send is reported by a return value, never by stopping anything.
class CommandService : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 MaxUnsentBytes = 1024 * 1024; // per connection; past it: slow reader
    static constexpr int MaxLineLength = 32766; // characters without a CR

    CommandService(ServerState &state, const Clock &clock, QObject *parent = nullptr);

    // A listener that already listens is left undisturbed (true).
    bool listen(const QHostAddress &address, quint16 port, QString *error = nullptr);
    bool isListening() const;
    quint16 serverPort() const;
    QHostAddress serverAddress() const;
    void closeListener();

    // Translates a line and queues its command with the slot and the slot's connection;
    // a malformed line is answered at once. Index 0 is the server's own command (no answer).
    void QueueCommand(const QByteArray &line, int index);
    // The worker's answer line: written only when that very connection still holds the slot;
    // false when it was dropped.
    bool sendAnswer(int slot, quint64 connection, const QByteArray &answerLine);
    void closeSlot(int slot, CloseReason reason); // closes and frees at once
    void CloseProg(int index); // closes and frees every command slot but index
    void closeAll(CloseReason reason); // every command slot 1..100
    quint64 connectionId(int slot) const; // 0 when free
    QHostAddress peerAddress(int slot) const;

Q_SIGNALS:
    void commandQueued(); // an entry was put into the ring

private:
    // The socket of an occupied slot and what is known about its output.
    struct Connection
    {
        QTcpSocket *socket = nullptr;
        quint64 id = 0; // 0: the slot holds no connection
        QHostAddress peer; // kept for the log after the socket has gone
        qint64 queuedBytes = 0; // bytes handed to write() since the accept
        qint64 writtenBytes = 0; // bytes reported by bytesWritten since the accept
        qint64 answerEnd = 0; // queuedBytes at the end of the pending line's answer; 0: none
        bool discarding = false; // inside an overlong line: text up to its CR goes
    };
    // An Answer ends the pending line once it has been written; a Notice does not.
    enum class Reply
    {
        Answer,
        Notice
    };

    void acceptConnection(QTcpSocket *socket);
    void readData(int slot);
    void countWritten(int slot, qint64 bytes);
    void endPendingIfWritten(int slot);
    bool writeTo(int slot, const QByteArray &bytes, Reply reply);

    ServerState &m_state;
    const Clock &m_clock;
    ServiceListener *m_listener = nullptr;
    std::array<Connection, SlotCount> m_connections {};
    quint64 m_lastConnectionId = 0;
};
