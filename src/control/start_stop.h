#pragma once

#include <QHostAddress>
#include <QObject>
#include <functional>

class BroadcastService;
class CommandService;
class InterfaceSearch;
class Presentation;
class SerialLink;
struct ServerState;

// Where the two services listen.
struct ListenConfig
{
    QHostAddress address = QHostAddress::Any;
    quint16 commandPort = 5550;
    quint16 broadcastPort = 5551;
};

// Starting, stopping and restarting the server. A start searches the device
// and, once it is found, opens both services; a restart does the same after the
// device was lost, without a message and leaving listening services alone; a
// stop closes everything. The search runs asynchronously: the server goes on
// serving open connections while it runs.
class StartStop : public QObject
{
    Q_OBJECT

public:
    struct Parts
    {
        ServerState &state;
        SerialLink &link;
        InterfaceSearch &search;
        CommandService &commands;
        BroadcastService &broadcasts;
        Presentation &presentation;
    };

    StartStop(const Parts &parts, const ListenConfig &listen, QObject *parent = nullptr);

    // `done` runs when the start has succeeded, or failed and the user has
    // closed the "No interface" message.
    void MSStartServer_Click(std::function<void()> done = {});
    void MSStopServer_Click();
    // `done` runs when the search has ended, found or not.
    void RestartServer(std::function<void()> done = {});

private:
    // What a start or a restart does with the search's result (1 found, 0 not).
    using SearchOutcome = std::function<void(int result, const std::function<void()> &done)>;

    // Shows the searching look and searches the device; `done` runs at once
    // when a search runs already.
    void searchDevice(std::function<void()> done, SearchOutcome outcome);
    void openServices();
    void dropFoundPort();
    void showRunning();
    void showStopped();

    Parts m_parts;
    ListenConfig m_listen;
    // The user's last word, start (true) or stop (false). The search runs from
    // the event loop, so a stop can come while it runs; its outcome then opens
    // nothing, and the server stays stopped.
    bool m_runWanted = false;
};
