#pragma once

#include <QByteArray>
#include <array>
#include <optional>

// One queued command: its bytes, the slot of the connection that sent it (0 for
// the server's own command) and that connection's identity, so that an answer
// never reaches a later client that has taken the same slot.
struct QueuedCommand
{
    QByteArray command;
    int slot = 0;
    quint64 connection = 0;
};

// The command ring: positions 0..100, written in the order 1, 2, ..., 100, 0, 1,
// ...; QueueIn is the position written last, QueueOut the one taken last, and
// the ring is empty when they are equal. It holds at most 100 entries: a write
// to a full ring is refused and changes nothing, so waiting entries are never
// overwritten or skipped.
class CommandRing
{
public:
    static constexpr int Positions = 101;

    bool isEmpty() const { return m_queueIn == m_queueOut; }
    bool isFull() const { return next(m_queueIn) == m_queueOut; }
    int count() const { return (m_queueIn - m_queueOut + Positions) % Positions; }
    int queueIn() const { return m_queueIn; }
    int queueOut() const { return m_queueOut; }

    // Writes at the next position; false (and nothing written) when full.
    bool put(const QueuedCommand &entry);
    // Takes the oldest entry; nothing when empty.
    std::optional<QueuedCommand> take();

private:
    static int next(int position) { return position >= Positions - 1 ? 0 : position + 1; }

    std::array<QueuedCommand, Positions> m_entries; // QueueCmd and QueueSocket with the connection
    int m_queueIn = 0; // QueueIn: position written last; only put() moves it
    int m_queueOut = 0; // QueueOut: position taken last; only take() moves it
};
