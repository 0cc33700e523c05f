#pragma once

#include "command_load.h"
#include "device_client.h"
#include "figures.h"

#include <QObject>
#include <QTemporaryDir>

#include <array>
#include <functional>

class ChildProgram;
class StepRun;

// One run of the benchmark, step by step on the event loop. Each path has a simulated device of
// its own (qx-sim, answering at once), so that the paths can take turns command by command and
// share whatever else the machine does meanwhile: the pty itself, qx-server and socat; and two
// more, paced at 57600 baud, for the pty and a second qx-server. A step that fails ends the run
// (the error is reported, the figures not measured stay empty); the programs are ended anyway.
class BenchRun : public QObject
{
    Q_OBJECT

public:
    explicit BenchRun(QObject *parent = nullptr);

    void start();
    const Figures &figures() const { return m_figures; }

Q_SIGNALS:
    void finished();

private:
    enum Device
    {
        DirectDevice,
        ServerDevice,
        SocatDevice,
        PacedDirectDevice,
        PacedServerDevice,
        DeviceCount,
    };
    using Store = std::function<void(const CommandLoad::Result &result)>;

    void addPathSteps();
    void addServerSteps();
    void startDevices();
    void startPrograms();
    void openClients();
    void openServerClients(int count);
    void openAll(const QList<DeviceClient *> &clients);
    DeviceClient *client(DeviceClient::Kind kind, const QString &pty, quint16 port = 0);
    // A warm-up of `warmUp` commands per client, then `commands` per client measured.
    void runCommands(
        const QList<DeviceClient *> &clients, int warmUp, int commands, bool inTurn, Store store);
    // One burst of broadcasts to each path's client in turn, from `path` on.
    void runBursts(int path);
    void runBurst(const QList<DeviceClient *> &receivers, Device device,
        std::function<void(double seconds)> store);
    // The server's share of one core over `span`, in percent.
    void measureCpu(std::chrono::milliseconds span, Figure figure);
    void measureSilentWait();
    void stopAll();

    Figures m_figures;
    QTemporaryDir m_dir;
    StepRun *m_steps = nullptr; // the last one ends the programs
    std::array<ChildProgram *, DeviceCount> m_devices {};
    std::array<QString, DeviceCount> m_ptys;
    ChildProgram *m_server = nullptr; // on ServerDevice
    ChildProgram *m_pacedServer = nullptr; // on PacedServerDevice
    ChildProgram *m_socat = nullptr;
    quint16 m_commandPort = 0; // of m_server
    quint16 m_broadcastPort = 0;
    quint16 m_pacedCommandPort = 0;
    quint16 m_socatPort = 0;
    QObject *m_clientOwner = nullptr;
    QList<DeviceClient *> m_pathClients; // direct, qx-server, socat: commands
    QList<DeviceClient *> m_pathReceivers; // the same for broadcasts
    QList<DeviceClient *> m_pacedClients; // direct, qx-server at 57600 baud
    QList<DeviceClient *> m_commandClients; // of m_server
    QList<DeviceClient *> m_broadcastClients;
    std::array<QList<double>, size_t(Path::Count)> m_burstSamples; // frames/s
    quint32 m_nextBroadcast = 0;
};
