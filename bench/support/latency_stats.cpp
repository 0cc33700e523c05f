#include "latency_stats.h"

#include <algorithm>
#include <cmath>

qint64 Percentile(const QList<qint64> &sorted, double percent)
{
    if (sorted.isEmpty())
        return 0;
    const auto rank = qsizetype(std::ceil(percent / 100.0 * double(sorted.size())));
    return sorted.at(std::clamp<qsizetype>(rank - 1, 0, sorted.size() - 1));
}

LatencySummary Summarize(QList<qint64> samples)
{
    std::sort(samples.begin(), samples.end());
    LatencySummary summary;
    summary.count = samples.size();
    if (samples.isEmpty())
        return summary;
    summary.median = Percentile(samples, 50);
    summary.p99 = Percentile(samples, 99);
    summary.max = samples.last();
    return summary;
}
