#pragma once

#include "command_client.h"
#include "server_setup.h"

#include <QList>
#include <QObject>
#include <QTemporaryDir>

class ChildProgram;
class QTcpSocket;
class StepRun;

// One load and fault run against qx-server and the simulated device, both processes of their own,
// in steps: start them -> storm (broadcast listeners, some never reading; tagged commands, junk and
// overlong lines, vanishing clients, numbered broadcasts; the device floods garbage and is
// unplugged for a moment) -> drain -> end them with SIGTERM -> report: one verdict per rule.
// A step past its time limit is a failure and skips to SIGTERM.
class LoadRun : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        bool longForm = false; // four faults of each kind, clients that never read closed
        int seconds = 0; // of storm
        qint64 memoryLimitBytes = 0; // the server's VmRSS must stay at or below it
    };

    explicit LoadRun(const Options &options, QObject *parent = nullptr);

    void start();

Q_SIGNALS:
    void finished(int exitStatus); // 0: every rule held

private:
    // A client of the broadcast service. One that never reads lets what the server sends pile
    // up on the server's side, until the server closes it as a slow reader.
    struct Listener
    {
        QTcpSocket *socket = nullptr;
        quint32 next = 0; // one past the highest number received
        qint64 lost = 0; // numbers skipped: on their way when the device was unplugged
        qint64 bad = 0; // lines that are no numbered broadcast, out of order, twice, or lost
    };

    void startPrograms();
    void connectListeners();
    void readBroadcasts(Listener &reader);
    void storm();
    void emitBroadcasts();
    void floodGarbage();
    void unplugDevice();
    void drain();
    quint32 slowestReader() const;
    void stopPrograms();
    bool report();

    Options m_options;
    QTemporaryDir m_dir;
    StepRun *m_steps = nullptr; // the last one ends the programs
    ChildProgram *m_device = nullptr; // qx-sim
    ChildProgram *m_server = nullptr;
    ServerSetup m_setup; // the device's path and the server's ports
    QList<Listener> m_listeners; // the ones that never read first
    int m_listenersConnected = 0;
    Tally m_tally;
    QList<CommandClient *> m_clients;
    int m_idleClients = 0;
    quint32 m_nextBroadcast = 0;
    QList<quint32> m_resumedAt; // the broadcast after each unplug: one per unplug
    int m_floods = 0;
    int m_slowReadersClosed = 0; // "slow reader" in the server's log
    qint64 m_peakResidentBytes = 0; // the server's VmRSS
};
