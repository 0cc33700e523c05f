#pragma once

#include "broadcast_reader.h"
#include "storm_client.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTemporaryDir>

#include <functional>

class ChildProgram;
class QTimer;

// One load and fault run against qx-server and the simulated device, both as processes of their
// own: start them -> broadcast readers and clients that never read connect -> storm: tagged
// commands, junk, overlong lines, vanishing clients, numbered broadcasts; the device floods
// garbage and, later, is unplugged for a moment -> drain -> SIGTERM -> the verdict, one line per
// rule, and whether every rule held.
class LoadRun : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        // Four faults of each kind, and a broadcast rate that fills the clients that never read
        // past the server's output cap.
        bool longForm = false;
        int seconds = 0; // of storm
        qint64 memoryLimitBytes = 0; // the server's VmRSS must stay at or below it
    };

    explicit LoadRun(const Options &options, QObject *parent = nullptr);

    void start();

Q_SIGNALS:
    void finished(int exitStatus); // 0: every rule held
    void broadcastsQuiet(); // paused, and every reader has every broadcast sent

private:
    void next();
    void fail(const QString &reason);

    void startPrograms();
    void connectListeners();
    void storm();
    void drain();
    void stopServer();

    void emitBroadcasts();
    void checkQuiet();
    quint32 slowestReader() const;
    void floodGarbage();
    void unplugDevice();

    // Whether a rule held, and what was seen.
    using Verdict = std::pair<bool, QString>;
    Verdict answersVerdict() const;
    Verdict broadcastsVerdict() const;
    // Prints the verdicts; true when every rule held.
    bool report();

    Options m_options;
    QTemporaryDir m_dir;
    Tally m_tally;
    QList<std::function<void()>> m_steps;
    ChildProgram *m_device = nullptr; // qx-sim
    ChildProgram *m_server = nullptr;
    quint16 m_commandPort = 0;
    quint16 m_broadcastPort = 0;
    QList<BroadcastReader *> m_readers;
    QList<StormClient *> m_commandClients;
    QList<StormClient *> m_otherClients;
    QTimer *m_emitTimer = nullptr;
    QElapsedTimer m_sinceEmit;
    double m_credit = 0; // broadcasts due and not yet sent
    quint32 m_nextBroadcast = 0;
    bool m_emitting = false; // false while paused or unplugged
    QList<std::pair<qint64, qint64>> m_deviceAway; // ms of the run: unplug .. first echo after
    QList<BroadcastReader::Range> m_lostWithDevice; // broadcasts that may die with the line
    QStringList m_failures;
    qint64 m_peakResidentBytes = 0;
    int m_residentSamples = 0;
    int m_floods = 0;
    int m_unplugs = 0;
    int m_slowReadersClosed = 0; // "slow reader" in the server's log
    int m_readersConnected = 0; // taken before SIGTERM, which closes every connection
    bool m_stopping = false;
};
