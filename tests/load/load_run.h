#pragma once

#include "answer_rules.h"
#include "load_options.h"
#include "load_tally.h"
#include "sequence_check.h"
#include "sim/simulated_device.h"
#include "step_sequence.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTemporaryDir>

class BroadcastEmitter;
class BroadcastReader;
class CommandClient;
class JunkClient;
class OverlongClient;
class ServerProcess;
class SilentSocket;
class VanishingClient;

// One load and fault run against qx-server as a process of its own, with the simulated device
// in this process (so that the run knows exactly what the device sent, and when it was away):
//
//   start the server -> readers and never-reading clients connect -> storm: commands, junk,
//   overlong lines, vanishing clients, numbered broadcasts; in the middle the device floods
//   garbage and, later, is unplugged and plugged in again -> drain -> one normal command ->
//   SIGTERM -> verdict.
class LoadRun : public QObject
{
    Q_OBJECT

public:
    static constexpr int CommandClients = 100;
    static constexpr int BroadcastReaders = 96; // with the clients that never read: 100 slots
    static constexpr int JunkClients = 3;
    static constexpr int OverlongClients = 2;
    static constexpr int VanishingClients = 4;
    static constexpr int SilentBroadcastClients = 4;
    static constexpr int SilentCommandClients = 2;
    static constexpr int UnpluggedMs = 1000;
    static constexpr int GarbageWithoutFrameByte = 64 * 1024;
    static constexpr int GarbagePairs = 50 * 1000; // FF 00: frame bytes, but no frame start
    static constexpr int MemorySampleMs = 250;
    // Broadcasts per second: enough that the clients that never read pile up more than 1 MiB
    // in the long form, while the readers and the command clients keep their share of the CPU.
    static constexpr int ShortFormBroadcastRate = 2000;
    static constexpr int LongFormBroadcastRate = 4000;

    explicit LoadRun(const LoadOptions &options, QObject *parent = nullptr);
    ~LoadRun() override;

    void start();

Q_SIGNALS:
    void finished(bool passed);
    void faultsOver(); // the last fault under way has ended

private:
    using Next = StepSequence::Next;

    void startServer(Next next);
    void connectListeners(Next next);
    void storm(Next next);
    void drain(Next next);
    void finalCommand(Next next);
    void tryFinalCommand(const std::function<void(bool)> &done);
    void stopServer(Next next);

    void floodGarbage();
    void unplugDevice();
    void faultDone();
    void sampleMemory();
    bool report();
    void fail(const QString &reason);

    LoadOptions m_options;
    QTemporaryDir m_dir;
    QElapsedTimer m_clock;
    LoadTally m_tally;
    StepSequence *m_steps = nullptr;
    SimulatedDevice m_device;
    ServerProcess *m_server = nullptr;
    BroadcastEmitter *m_emitter = nullptr;
    QList<BroadcastReader *> m_readers;
    QList<CommandClient *> m_commandClients;
    QList<JunkClient *> m_junkClients;
    QList<OverlongClient *> m_overlongClients;
    QList<VanishingClient *> m_vanishingClients;
    QList<SilentSocket *> m_silentBroadcast;
    QList<SilentSocket *> m_silentCommand;
    QList<AnswerRules::Window> m_windows; // device away: unplug .. first echo after the plug
    QList<SequenceCheck::Range> m_broadcastsAtUnplug; // numbers that may have died with the line
    QStringList m_failures; // run-level failures (a step that could not be done)
    qint64 m_peakResidentBytes = 0;
    qint64 m_residentSamples = 0;
    int m_faultsRunning = 0;
    int m_floods = 0;
    int m_unplugs = 0;
    bool m_finalAnswered = false;
    // Taken before the server is stopped, which closes every connection.
    int m_readersClosed = 0;
    int m_slowReadersClosed = 0;
    int m_silentCommandClosed = 0;
    bool m_serverStopping = false;
    bool m_serverCrashed = false;
    std::optional<int> m_exitCode;
};
