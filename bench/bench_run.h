#pragma once

#include "command_load.h"
#include "device_client.h"
#include "figures.h"

#include <QObject>
#include <QTemporaryDir>

#include <functional>
#include <optional>

class ChildProgram;

// One run of the benchmark, step by step on the event loop. Two simulated devices run as
// processes of their own (qx-sim), one answering at once and one paced at 57600 baud. The paths
// take a device in turn, since a pty has room for one reader: the pty itself, qx-server and socat
// on the fast device, then the pty and qx-server on the paced one. A step that fails ends its
// path's remaining steps (its figures stay empty and the error is reported); the run goes on.
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
    using Store = std::function<void(const CommandLoad::Result &result)>;

    // A step of the current path; skipped once a step of the path has failed.
    void add(const QString &name, std::function<void()> step);
    // The path's last step, which always runs (it lets go of what the path holds).
    void endPath(std::function<void()> step);
    void runStep();
    void next();
    void fail(const QString &reason);

    void addFigures(const QString &name, Path path, ChildProgram *sim);
    void addLineRate(const QString &name, Path path);
    void addDirect(ChildProgram *sim);
    void addServer(ChildProgram *sim);
    void addSocat();

    void startSims();
    void startServer(ChildProgram *sim);
    void startSocat();
    // SIGTERM, and once it has ended, how (into `ends` when given).
    void stopChild(ChildProgram *&child, QStringList *ends = nullptr);
    // Clients of the current path on `pty` or on the path's port; opened by openAll().
    QList<DeviceClient *> makeClients(DeviceClient::Kind kind, const QString &pty, int count);
    void openServerClients(int count);
    void openAll(const QList<DeviceClient *> &clients);
    void closeClients();
    // A warm-up of `warmUp` commands per client, then `commands` per client measured.
    void runCommands(const QList<DeviceClient *> &clients, int warmUp, int commands, Store store);
    // Frames per second, or for Burst100Ms the time in milliseconds.
    void runBurst(
        const QList<DeviceClient *> &receivers, ChildProgram *sim, Figure figure, Path path);
    // The server's share of one core over `span`, in percent.
    void measureCpu(std::chrono::milliseconds span, Figure figure);
    void measureSilentWait();

    struct Step
    {
        QString name;
        std::function<void()> run;
        bool always = false;
    };

    Figures m_figures;
    QTemporaryDir m_dir;
    QList<Step> m_steps;
    QObject *m_scope = nullptr; // what one step made: loads, bursts, timers; renewed per step
    ChildProgram *m_fastSim = nullptr; // answers at once
    ChildProgram *m_pacedSim = nullptr; // 57600 baud
    QString m_fastPty;
    QString m_pacedPty;
    ChildProgram *m_server = nullptr;
    ChildProgram *m_socat = nullptr;
    quint16 m_commandPort = 0; // of the running server, or socat's
    quint16 m_broadcastPort = 0;
    QObject *m_clientOwner = nullptr; // the clients of the current path
    QList<DeviceClient *> m_commandClients;
    QList<DeviceClient *> m_broadcastClients; // the same clients, but for the server's
    quint32 m_nextBroadcast = 0;
    bool m_stepRunning = false;
    bool m_pathFailed = false;
};
