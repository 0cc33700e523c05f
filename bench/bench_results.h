#pragma once

#include "latency_stats.h"

#include <QString>
#include <QStringList>

#include <optional>

// The figures of one benchmark run. A figure that was not measured (a path that does not take
// that many clients, a program that is missing, a failed step) stays empty.

struct BurstFigure
{
    bool complete = false; // every receiver had every line, in order
    qint64 milliseconds = 0;
    qint64 lines = 0; // lines received over all receivers
};

// One path from a client to the device: the pty itself, qx-server, or socat.
struct PathFigures
{
    QString unavailable; // why the path was not measured at all
    std::optional<LatencySummary> roundTripUs;
    std::optional<double> perSecond1;
    std::optional<double> perSecond10;
    std::optional<double> perSecond100;
    std::optional<LatencySummary> broadcastUs;
    std::optional<BurstFigure> burst1;
    std::optional<BurstFigure> burst100;
    std::optional<double> lineRatePerSecond1; // device at 57600 baud
    std::optional<double> lineRatePerSecond10;
    qint64 wrongAnswers = 0;
    QStringList errors;
};

// The server process itself.
struct ServerFigures
{
    std::optional<double> idleCpuPercent; // no client, no traffic
    std::optional<qint64> idleResidentBytes;
    std::optional<qint64> residentBytes200; // 100 command + 100 broadcast clients connected
    std::optional<double> waitCpuPercent; // transactions waiting for a silent device
    int asleepSamples = 0; // of the process state samples taken meanwhile
    int stateSamples = 0;
    std::optional<int> exitCode; // after SIGTERM
    bool crashed = false;
};

struct BenchResults
{
    QString machine;
    PathFigures direct;
    PathFigures server;
    PathFigures socat;
    ServerFigures process;
};
