#pragma once

#include "bench_results.h"

#include <QList>
#include <QString>

#include <optional>

// The targets the server must meet, each a comparison within the same run.
struct TargetCheck
{
    QString name;
    QString measured; // the figures and their ratio, as printed
    QString limit;
    std::optional<bool> pass; // empty: not measured
};

namespace Targets {

constexpr double MaxAddedRoundTripRatio = 2.0; // server's added median vs socat's
constexpr double MinLineRateShare = 0.9; // of the direct path's commands per second
constexpr qint64 MaxBurstMilliseconds = 5000; // 10,000 broadcasts to 100 clients
constexpr double MaxIdleCpuPercent = 1.0;
constexpr double MaxWaitingCpuPercent = 1.0;

QList<TargetCheck> Evaluate(const BenchResults &results);

} // namespace Targets
