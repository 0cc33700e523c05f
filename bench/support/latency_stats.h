#pragma once

#include <QList>

// A summary of measured durations (any unit): nearest-rank percentiles, so every figure is one
// of the samples.
struct LatencySummary
{
    qsizetype count = 0;
    qint64 median = 0;
    qint64 p99 = 0;
    qint64 max = 0;
};

LatencySummary Summarize(QList<qint64> samples);
// The nearest-rank percentile of sorted samples: the smallest sample with at least `percent`
// of all samples at or below it. 0 for no samples.
qint64 Percentile(const QList<qint64> &sorted, double percent);
