#pragma once

#include "core/protocol.h"

#include <QHostAddress>
#include <QObject>
#include <chrono>
#include <functional>
#include <vector>

class BroadcastService;
class Clock;
class CommandService;
class InterfaceSearch;
class Presentation;
class SerialLink;
struct ServerState;

// Where the two services listen.
struct ListenConfig
{
    QHostAddress address = QHostAddress::Any;
    quint16 commandPort = Protocol::DefaultCommandPort;
    quint16 broadcastPort = Protocol::DefaultBroadcastPort;
};

// Starting, stopping and restarting the server. A start searches the device
// and, once it is found, opens both services; a restart does the same after the
// device was lost, without a message and leaving listening services alone; a
// stop closes everything. The search runs asynchronously: the server goes on
// serving open connections while it runs.
//
// There is one search at a time. A start chosen while one runs (a restart
// after a loss, or an earlier start) joins it: it shows the searching look and
// reports that search's outcome as if it had run it, with the "No interface"
// message when the device stays away. A restart's caller is answered as the
// search ends, never held by a start's message. A stop cancels the search and
// answers every caller without a message.
//
// A service that cannot listen is a failed start: the message names the
// service, the port and the system's reason, everything is closed, and
// cannotServe() tells whoever must act on it (the headless program ends with
// status 1). While the device is missing, restarts search at most once per
// SearchInterval, so the ports are not hammered.
class StartStop : public QObject
{
    Q_OBJECT

public:
    struct Parts
    {
        ServerState &state;
        const Clock &clock;
        SerialLink &link;
        InterfaceSearch &search;
        CommandService &commands;
        BroadcastService &broadcasts;
        Presentation &presentation;
    };

    static constexpr std::chrono::milliseconds SearchInterval { 1000 };

    StartStop(const Parts &parts, const ListenConfig &listen, QObject *parent = nullptr);

    // `done` runs when the start has succeeded, or failed and the user has
    // closed the "No interface" message, or the server was stopped meanwhile.
    void MSStartServer_Click(std::function<void()> done = {});
    void MSStopServer_Click();
    // `done` runs when the search has ended, found or not, or at once when the
    // last search began less than SearchInterval ago.
    void RestartServer(std::function<void()> done = {});
    // After a start that found no device, search on until it answers rather
    // than stop (the headless program never gives up).
    void setSearchUntilFound(bool on) { m_searchUntilFound = on; }

Q_SIGNALS:
    // A service could not listen; the server has stopped. `reason` is the message shown.
    void cannotServe(const QString &reason);

private:
    using Callers = std::vector<std::function<void()>>;

    // Shows the searching look and searches the device, or lets the search
    // that runs already decide.
    void searchDevice();
    // The search has ended with `result` (1 found, 0 not).
    void searchEnded(int result);
    // A start's outcome; `done` answers every start that waited for it.
    void reportStart(int result, const std::function<void()> &done);
    // Both services listen; false (and everything closed, the message shown) when one cannot.
    bool openServices(const std::function<void()> &done);
    // No device: the message, then the stopped look, or the search goes on.
    void failStart(const std::function<void()> &done);
    void closeEverything();
    void showRunning();
    void showStopped();

    Parts m_parts;
    ListenConfig m_listen;
    bool m_searchUntilFound = false;
    qint64 m_lastSearchMs = -1; // clock reading when the last search began; -1: none yet
    Callers m_startsWaiting; // starts that wait for the running search's outcome
    Callers m_restartsWaiting; // restarts that wait for the running search's end
    bool m_searchCancelled = false; // a stop cancelled the running search: its result means nothing
};
