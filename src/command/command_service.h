#pragma once

#include "core/server_state.h"
#include "net/connection_slots.h"

#include <QByteArray>
#include <QObject>
#include <array>

class Clock;

// The command service: TCP connections of command clients, one line each at a time.
//
// A client is accepted into the lowest free slot 1..MaxConn (refused when all are in use, and
// always while ProgMode). Its text collects in CmdInpStr(slot) until the first CR; the line, CR
// included, goes to QueueCommand and stays in the buffer: the slot's line is pending, and
// everything the client sends until the answer to that line has been written is discarded. The
// worker takes the ring entry and calls sendAnswer() with the entry's slot and connection id.
//
// Rules that must hold:
// - an answer reaches only the connection that sent the line, never a later client in the slot;
// - a line holds at most Protocol::MaxLineLength characters; a longer one gets one error answer;
// - a failed send is reported by a return value, never by stopping anything.
class CommandService : public QObject
{
    Q_OBJECT

public:
    CommandService(ServerState &state, const Clock &clock, QObject *parent = nullptr);

    ConnectionSlots &connections() { return m_connections; }
    const ConnectionSlots &connections() const { return m_connections; }

    // Translates a line and queues its command with the slot and the slot's connection;
    // a malformed line is answered at once. Index 0 is the server's own command (no answer).
    void QueueCommand(const QByteArray &line, int index);
    // The worker's answer line: written only when that very connection still holds the slot;
    // false when it was dropped.
    bool sendAnswer(int slot, quint64 connection, const QByteArray &answerLine);
    // Closes and frees every command slot but `index`.
    void CloseProg(int index);

Q_SIGNALS:
    void commandQueued(); // an entry was put into the ring

private:
    // Where a slot's line stands. CmdInpStr holds the line with its CR from Pending until the
    // answer has been written.
    enum class LineState
    {
        Collecting, // text up to the first CR collects
        Pending, // the line went to QueueCommand; its answer has not been written yet
        Answering, // the answer is queued; the line ends once its last byte has been sent
    };
    enum class Reply
    {
        Answer, // ends the pending line once written
        Notice, // an error answer for an overlong line: no line is pending
    };
    struct Line
    {
        LineState state = LineState::Collecting;
        bool discarding = false; // inside an overlong line: text up to its CR goes
        qint64 queuedBytes = 0; // handed to the socket since the accept
        qint64 writtenBytes = 0; // reported sent since the accept
        qint64 answerEnd = 0; // queuedBytes at the end of the answer being sent
    };

    void beginConnection(int slot);
    void takeText(int slot, const QByteArray &data);
    void countWritten(int slot, qint64 bytes);
    bool writeTo(int slot, const QByteArray &bytes, Reply reply);
    void endLineIfAnswered(int slot);

    ServerState &m_state;
    ConnectionSlots m_connections;
    std::array<Line, SlotCount> m_lines {};
};
