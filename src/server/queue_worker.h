#pragma once

#include <QObject>
#include <functional>

class BroadcastService;
class CommandService;
class SerialLink;
class Transaction;
struct ServerState;

// The command queue worker: the only place where queued commands reach the
// device. One step takes at most one ring entry, applies the programming-mode
// rules, runs the transaction and hands the answer line to the connection that
// sent the command.
//
// Rules that must hold:
// - one transaction at a time: T2InUse is true from the start of a step until
//   the answer has been handed to the client (or dropped);
// - entering programming mode closes the other command connections and sends
//   the notice twice to every broadcast client before the command reaches the
//   device; leaving it clears ProgMode before the transaction;
// - while the server is not stopped and the serial port is closed, a step first
//   has the server restarted (the search runs inside the step, so a second
//   restart cannot begin meanwhile); no command is taken while a search owns
//   the port.
class QueueWorker : public QObject
{
    Q_OBJECT

public:
    using Restart = std::function<void(std::function<void()> done)>;

    struct Parts
    {
        ServerState &state;
        SerialLink &link;
        Transaction &transaction;
        CommandService &commands;
        BroadcastService &broadcasts;
    };

    QueueWorker(const Parts &parts, Restart restart, QObject *parent = nullptr);

    // One tick of the worker (its 25 ms timer, or at once when a command was
    // queued while it was idle).
    void Timer2_Timer();
    // Runs a step now, unless one runs already.
    void stepNow();

private:
    void takeCommand();
    void finishStep();

    bool searching() const;

    Parts m_parts;
    Restart m_restart;
};
