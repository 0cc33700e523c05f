#pragma once

#include "device_client.h"
#include "report.h"
#include "server_setup.h"
#include "step_run.h"

#include <QObject>
#include <QTemporaryDir>

#include <array>
#include <chrono>
#include <functional>

class ChildProgram;

// One run of the benchmark, step by step on the event loop. Each path has a simulated device of
// its own (qx-sim, answering at once), so that the paths can take turns command by command and
// share whatever else the machine does meanwhile: the pty itself, qx-server and socat; and two
// more, paced at 57600 baud, for the pty and a second qx-server. A step that fails ends the run
// (the error is reported, the figures not measured stay empty); the programs are ended anyway.
class BenchRun : public QObject
{
public:
    // `server`: the qx-server program to measure.
    BenchRun(const QString &server, QObject *parent);

    // `finished` follows the last step, with what was measured.
    void start(std::function<void(const Figures &figures)> finished);

private:
    // The simulated devices; the first three are the paths', in the order of Path.
    enum Device
    {
        DirectDevice,
        ServerDevice,
        SocatDevice,
        PacedDirectDevice,
        PacedServerDevice,
        DeviceCount,
    };
    // What a command load measured.
    struct Commands
    {
        QList<QList<double>> roundTripsUs; // per client, in the order sent
        double perSecond = 0; // answers over all clients, per second of the whole load
        qint64 wrong = 0; // answers that were not their command's own echo
    };
    using Store = std::function<void(const Commands &result)>;

    void step(const QString &name, std::function<void()> begin);
    void addPathSteps();
    void addServerSteps();
    // A function that ends the running step on its `calls`th call.
    std::function<void()> countdown(qsizetype calls);
    // Starts `program`; `started` follows with its first line that holds `ready`.
    ChildProgram *launch(const QString &program, const QStringList &arguments,
        const QRegularExpression &ready, std::function<void(const QString &line)> started);
    void startDevices();
    void startPrograms();
    DeviceClient *client(DeviceClient::Kind kind, quint16 port, const QString &pty = {});
    void openClients();
    void openServerClients(int count);
    void openAll(const QList<DeviceClient *> &clients);
    // Commands as the command protocol asks of a client: one out at a time, the next once the
    // answer to the last has come, until each client has had `commands` answers after `warmUp`.
    // Either every client runs its own loop (many clients of one server), or they take turns, one
    // command at a time over all: then clients on different paths share whatever else the machine
    // does meanwhile, and their figures compare. Each command is tagged with its client and a
    // counter and the device echoes it: an answer that is not its very command's echo is wrong.
    void runCommands(
        const QList<DeviceClient *> &clients, int warmUp, int commands, bool inTurn, Store store);
    // Each client's commands per second as `figure` of the path in the same place.
    Store storePerSecond(Figure figure);
    // One burst of broadcasts to each path's client in turn, from `path` on, with the CPU time
    // that the path's program (qx-server, socat) spends on it.
    void runBursts(int path);
    // A burst of numbered broadcasts, written to the simulator at once, as raw frames, and timed
    // until every receiver has every one; each must see every number once and in order.
    void runBurst(const QList<DeviceClient *> &receivers, Device device,
        std::function<void(double seconds)> store);
    // The server's share of one core over `span`, in percent.
    void measureCpu(std::chrono::milliseconds span, Figure figure);
    void stopAll();

    const QString m_serverProgram;
    Figures m_figures;
    QTemporaryDir m_dir; // the servers' settings files
    StepRun *m_steps = new StepRun(QStringLiteral("qx-bench"), this); // the last ends the programs
    std::array<ChildProgram *, DeviceCount> m_devices {}; // qx-sim
    std::array<QString, DeviceCount> m_ptys;
    ChildProgram *m_server = nullptr; // on ServerDevice
    ChildProgram *m_pacedServer = nullptr; // on PacedServerDevice
    // By Path, the program between the device and the client: none, m_server, socat.
    std::array<ChildProgram *, size_t(Path::Count)> m_pathPrograms {};
    ServerSetup m_setup; // of m_server
    ServerSetup m_pacedSetup;
    quint16 m_socatPort = 0;
    QObject *m_clientOwner = new QObject(this); // of every client, till the programs end
    QList<DeviceClient *> m_pathClients; // direct, qx-server, socat: commands
    QList<DeviceClient *> m_pathReceivers; // the same for broadcasts
    QList<DeviceClient *> m_pacedClients; // direct, qx-server at 57600 baud
    QList<DeviceClient *> m_commandClients; // of m_server
    QList<DeviceClient *> m_broadcastClients;
    std::array<QList<double>, size_t(Path::Count)> m_burstSamples; // frames/s
    std::array<QList<double>, size_t(Path::Count)> m_burstCpuSamples; // ns per frame
    quint32 m_nextBroadcast = 0;
};
