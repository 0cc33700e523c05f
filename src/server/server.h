#pragma once

#include "broadcast/broadcast_service.h"
#include "command/command_service.h"
#include "core/server_control.h"
#include "core/server_state.h"
#include "link/interface_search.h"
#include "link/port_map.h"
#include "link/serial_link.h"
#include "link/transaction.h"
#include "server/housekeeping.h"
#include "server/queue_worker.h"
#include "server/start_stop.h"

#include <QObject>
#include <QTimer>

class Clock;
class Presentation;
class SettingsStore;

struct ServerConfig
{
    ListenConfig listen;
    PortMap ports;
};

// The server: owns the shared state, the serial link, both services and the
// two 25 ms timers, and wires them together. Everything runs on one thread.
//
//   Timer1 (25 ms) -> Housekeeping::Timer1_Timer: DSR, idle rule, counts,
//                     leaving programming mode
//   Timer2 (25 ms) -> QueueWorker::Timer2_Timer: restart when the device is
//                     lost, one command per step, answer to its client
//   serial bytes   -> InpStr, read as frames by their own lengths: an answer
//                     frame goes to the open transaction, broadcast frames to
//                     the fan-out at once, in order, also while one waits
//   command queued -> the worker step runs at once when the worker is idle
//
// Rules that MUST hold: one transaction at a time; T2InUse held from taking a
// command until its answer is out; frames read by their own lengths; an answer
// only ever reaches the connection that sent its command, never a later one.
class Server : public QObject, public ServerControl
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds TickInterval { 25 };

    Server(const ServerConfig &config, const SettingsStore &settings, const Clock &clock,
        Presentation &presentation, QObject *parent = nullptr);
    ~Server() override;

    void MSStartServer_Click(std::function<void()> done = {}) override;
    void MSStopServer_Click() override;
    bool isRunning() const override { return m_state.GlobalIFFound; }
    QHostAddress ownAddress() const override;
    void RestartServer(std::function<void()> done = {});

    // What the server does: stopped, searching its device, or running.
    ServerPhase phase() const { return m_state.Phase; }
    // After a start that found no device, search on until it answers rather
    // than stop, as after a lost device (the headless program never gives up).
    void setSearchUntilFound(bool on) { m_startStop.setSearchUntilFound(on); }

Q_SIGNALS:
    // A service could not listen and the server has stopped; `reason` says which and why.
    void cannotServe(const QString &reason);

public:
    ServerState &state() { return m_state; }
    const ServerState &state() const { return m_state; }
    SerialLink &serialLink() { return m_link; }
    CommandService &commandService() { return m_commands; }
    BroadcastService &broadcastService() { return m_broadcasts; }

private:
    // A copy: the serial link keeps a reference to the port map, and the
    // caller's config need not outlive the server.
    const ServerConfig m_config;
    ServerState m_state;
    SerialLink m_link;
    Transaction m_transaction;
    InterfaceSearch m_search;
    CommandService m_commands;
    BroadcastService m_broadcasts;
    StartStop m_startStop;
    QueueWorker m_worker;
    Housekeeping m_housekeeping;
    QTimer m_timer1;
    QTimer m_timer2;
};
