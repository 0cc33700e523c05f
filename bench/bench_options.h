#pragma once

#include <QString>

#include <optional>

class QCoreApplication;

// The command line of qx-bench.
struct BenchOptions
{
    QString server; // qx-server to measure
    QString sim; // qx-sim, the device
    QString socat; // the raw bridge to compare with; empty: not found
    bool markdown = false;
};

// The options, or nothing when the program must end (a message is out).
std::optional<BenchOptions> ParseBenchOptions(const QCoreApplication &app);
