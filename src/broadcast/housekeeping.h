#pragma once

#include <QObject>

class BroadcastService;
class Clock;
class CommandService;
class Presentation;
class SerialLink;
struct ServerState;

// The housekeeping of the server, every 25 ms: watches the serial line's DSR,
// closes idle connections of both services, shows the connection counts and
// takes the device out of programming mode when no command client is left.
// (Broadcast frames go to the fan-out as the serial link reads them.)
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

private:
    Parts m_parts;
};
