#pragma once

#include "bench_options.h"
#include "bench_results.h"
#include "broadcast_probe.h"
#include "command_load.h"
#include "server_channel.h"
#include "step_sequence.h"

#include <QObject>
#include <QTemporaryDir>

#include <functional>

class Channel;
class QProcess;
class ServerProcess;
class SimProcess;

// The whole benchmark, step by step on the event loop. Two simulated devices run as processes
// of their own: one answering at once, one paced at 57600 baud. Each path takes a device in
// turn and releases it before the next (a pty has room for one reader): the pty directly, then
// qx-server, then socat. A failed step ends its block; the rest of the run goes on.
class BenchRun : public QObject
{
    Q_OBJECT

public:
    static constexpr int RoundTripCommands = 1000;
    static constexpr std::chrono::milliseconds ThroughputTime { 2000 };
    static constexpr std::chrono::milliseconds LineRateTime { 3000 };
    static constexpr int BroadcastSamples = 200;
    static constexpr int BurstBroadcasts = 10000;
    static constexpr std::chrono::seconds IdleTime { 10 };
    static constexpr std::chrono::seconds SilentWaitTime { 5 };
    static constexpr int ClientsPerService = 100;

    explicit BenchRun(const BenchOptions &options, QObject *parent = nullptr);
    ~BenchRun() override;

    void start();
    const BenchResults &results() const { return m_results; }

Q_SIGNALS:
    // false when the devices could not even be set up.
    void finished(bool ranAtAll);

private:
    using Next = StepSequence::Next;
    using Step = StepSequence::Step;
    using StoreCommands = std::function<void(const CommandLoad::Result &)>;
    using StoreBroadcasts = std::function<void(const BroadcastProbe::Result &)>;

    // A block of steps for one path: the first failure skips the block's remaining steps.
    void beginBlock(PathFigures *path);
    void add(const QString &name, Step step);
    void failBlock(const QString &reason);

    void addDirectBlock();
    void addServerBlock();
    void addSocatBlock();
    void addLineRateBlocks();

    void startSims(Next next);
    void openChannels(const QList<Channel *> &channels, Next next);
    void runCommands(int clients, const CommandLoad::Plan &plan, StoreCommands store, Next next);
    void runBroadcasts(int receivers, bool burst, StoreBroadcasts store, Next next);
    void startServer(SimProcess *device, Next next);
    void stopServer(Next next);
    void startSocat(SimProcess *device, Next next);
    void stopSocat(Next next);
    void measureIdle(Next next);
    void measureMemory(Next next);
    void measureSilentWait(Next next);

    // Channels of the current path, all owned by the scope, which each step renews.
    QList<Channel *> makeChannels(ServerChannel::Service service, int count);
    QList<Channel *> makeCommandChannels(int count);
    QList<Channel *> makeBroadcastChannels(int count);
    void clearScope();
    // Lets the server's connections of the last step go and waits until the server has freed
    // their slots, so that the next step's clients are not refused.
    void releaseServerChannels(Next next);

    BenchOptions m_options;
    BenchResults m_results;
    QTemporaryDir m_dir;
    StepSequence *m_steps = nullptr;
    SimProcess *m_fastSim = nullptr; // answers at once
    SimProcess *m_pacedSim = nullptr; // 57600 baud
    SimProcess *m_device = nullptr; // the one the current path uses
    ServerProcess *m_server = nullptr;
    QProcess *m_socat = nullptr;
    QObject *m_scope = nullptr;
    PathFigures *m_path = nullptr; // the block's path
    QList<Channel *> m_serverChannels; // open connections to the server, in the scope
    Channel *m_bridge = nullptr; // socat's one connection, kept for the whole block
    Channel *m_pty = nullptr; // the direct path's descriptor, kept for the whole block
    quint16 m_socatPort = 0;
    quint32 m_nextSequence = 0;
    bool m_blockFailed = false;
    bool m_simsReady = false;
};
