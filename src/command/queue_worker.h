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
// - while the server runs and the serial port is closed, a step first has the
//   server restarted (the search runs inside the step, so a second restart
//   cannot begin meanwhile).
class QueueWorker : public QObject
{
    Q_OBJECT

public:
    using Restart = std::function<void(std::function<void()> done)>;
    // Whether a device search is running; no command is taken meanwhile, since
    // the search's probes own the port.
    using Searching = std::function<bool()>;

    struct Parts
    {
        ServerState &state;
        SerialLink &link;
        Transaction &transaction;
        CommandService &commands;
        BroadcastService &broadcasts;
    };

    QueueWorker(
        const Parts &parts, Restart restart, Searching searching, QObject *parent = nullptr);

    // One tick of the worker (its 25 ms timer, or at once when a command was
    // queued while it was idle).
    void Timer2_Timer();
    // Runs a step soon (zero delay) unless one is scheduled or running.
    void scheduleStep();

Q_SIGNALS:
    // A transaction has ended and its answer was handed on (or dropped).
    void commandDone();

private:
    void takeCommand();
    void finishStep();

    Parts m_parts;
    Restart m_restart;
    Searching m_searching;
    bool m_stepScheduled = false;
};
