#pragma once

#include <QObject>

class BroadcastService;
class Clock;
class CommandService;
class Presentation;
class SerialLink;
struct ServerState;

// The housekeeping of the server, every 25 ms: closes idle connections of
// both services, shows the connection counts, takes the device out of
// programming mode when no command client is left, and — unless a transaction
// waits for its answer — cuts one broadcast frame out of the receive buffer and
// hands it to the fan-out. Nothing is cut from the receive buffer while
// WaitAnswer is true.
class Housekeeping : public QObject
{
    Q_OBJECT

public:
    struct Parts
    {
        ServerState &state;
        const Clock &clock;
        SerialLink &link;
        CommandService &commands;
        BroadcastService &broadcasts;
        Presentation &presentation;
    };

    explicit Housekeeping(const Parts &parts, QObject *parent = nullptr);

    void Timer1_Timer();
    // Cuts every waiting broadcast frame soon, in order, without waiting for
    // the next tick (serial bytes arrived, or a transaction ended).
    void scheduleCut();

private:
    // Cuts at most one complete broadcast frame and applies the empty rule;
    // true when a frame was cut.
    bool cutBroadcast();

    Parts m_parts;
    bool m_cutScheduled = false;
};
