#pragma once

#include "latency_stats.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>

class Channel;
class QTimer;

// Numbered broadcasts from the device to every receiver: the time from the simulator's command
// until every receiver has the message, one at a time (latency) or for a whole burst. Each
// receiver must see every number once and in order; anything else marks the run incomplete
// or out of order.
class BroadcastProbe : public QObject
{
    Q_OBJECT

public:
    // Hands simulator commands ("broadcast HEX" lines) to the device.
    using Emit = std::function<void(const QByteArray &commands)>;

    struct Result
    {
        LatencySummary latencyUs; // latency runs
        qint64 milliseconds = 0; // burst runs: until the last receiver had the last line
        qint64 expectedLines = 0; // over all receivers
        qint64 receivedLines = 0;
        bool inOrder = true;
        bool complete = false;
        QString error;
    };

    BroadcastProbe(const QList<Channel *> &receivers, Emit emitCommands, quint32 firstSequence,
        QObject *parent = nullptr);

    void measureLatency(int samples, std::chrono::milliseconds timeout);
    void measureBurst(int count, std::chrono::milliseconds timeout);
    // The first number not used yet, for the next probe.
    quint32 nextSequence() const { return m_next; }

    // The simulator commands of broadcasts first .. first + count - 1.
    static QByteArray commands(quint32 first, int count);

Q_SIGNALS:
    void finished(const BroadcastProbe::Result &result);

private:
    struct Receiver
    {
        quint32 expected = 0; // the next number due
    };

    void take(int index, const QByteArray &message);
    void emitBatch(int count);
    bool allReached(quint32 end) const;
    void sampleDone();
    void finish(bool complete, const QString &error = QString());

    QList<Receiver> m_receivers;
    Emit m_emit;
    QElapsedTimer m_clock;
    QTimer *m_timeout = nullptr;
    Result m_result;
    QList<qint64> m_latenciesUs;
    quint32 m_next = 0; // next number to emit
    quint32 m_batchEnd = 0; // every receiver must reach this
    qint64 m_batchStartNs = 0;
    int m_samplesLeft = 0;
    bool m_burst = false;
    bool m_running = false;
};
