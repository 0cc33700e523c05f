#pragma once

#include "latency_stats.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

#include <chrono>

class Channel;
class QTimer;

// Closed-loop command traffic: each channel has one command out at a time and sends its next
// one as soon as the answer to the last has arrived, as a client of the command protocol must.
// Each command is tagged with its channel and a counter, so an echo that is not the exact
// command sent counts as wrong. The first answers warm the path up and are not measured.
class CommandLoad : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::seconds DrainTimeout { 5 };

    struct Plan
    {
        int warmupAnswers = 50;
        int measuredAnswers = 0; // stop after this many measured answers (0: by duration)
        std::chrono::milliseconds duration { 0 }; // stop after this long (0: by count)
        std::chrono::milliseconds stallTimeout { 10000 }; // fail after this long without answer
    };

    struct Result
    {
        qint64 answers = 0; // measured answers
        double perSecond = 0;
        LatencySummary roundTripUs;
        qint64 wrongAnswers = 0;
        QString error; // a channel failed
    };

    CommandLoad(const QList<Channel *> &channels, QObject *parent = nullptr);

    void start(const Plan &plan);

Q_SIGNALS:
    void finished(const CommandLoad::Result &result);

private:
    struct Client
    {
        Channel *channel = nullptr;
        QByteArray expected; // the command out, which the device echoes
        qint64 sentNs = 0;
        quint32 counter = 0;
        bool waiting = false;
    };

    void send(int index);
    void takeAnswer(int index, const QByteArray &message);
    void beginMeasuring();
    void stopMeasuring();
    void finishIfDrained();
    void fail(const QString &reason);
    void finish();

    QList<Client> m_clients;
    Plan m_plan;
    Result m_result;
    QList<qint64> m_roundTripsUs;
    QElapsedTimer m_clock;
    QTimer *m_durationTimer = nullptr;
    QTimer *m_drainTimer = nullptr;
    QTimer *m_stallTimer = nullptr; // restarted by every answer
    qint64 m_warmupLeft = 0;
    qint64 m_measureStartNs = 0;
    qint64 m_measureEndNs = 0;
    bool m_measuring = false;
    bool m_stopping = false;
    bool m_finished = false;
};
