#pragma once

#include <QObject>

class BroadcastService;
class Clock;
class CommandService;
class Presentation;
class SerialLink;
struct ServerState;

// The housekeeping of the server, every 25 ms, in this order: watches the
// serial line's DSR, closes the connections of both services that have been
// idle for more than 60 s, shows the numbers of connections in use, and takes
// the device out of programming mode when no command client is left.
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
    struct Counts
    {
        int command = 0;
        int broadcast = 0;
    };

    void closeIdleConnections();
    Counts countConnections() const;
    void leaveProgModeWithoutClients(int commandConnections);

    Parts m_parts;
};
