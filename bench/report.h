#pragma once

#include "bench_results.h"
#include "targets.h"

#include <QList>
#include <QString>
#include <QStringList>

// The benchmark's printed result: the figures side by side per path, then the targets with
// PASS or FAIL, as aligned plain text or as Markdown tables.
struct Table
{
    QStringList header;
    QList<QStringList> rows;
};

namespace Report {

Table Figures(const BenchResults &results);
Table TargetTable(const QList<TargetCheck> &checks);

QString PlainText(const Table &table);
QString Markdown(const Table &table);

// The whole report: machine, figures, notes, targets, and the verdict.
QString Render(const BenchResults &results, const QList<TargetCheck> &checks, bool markdown);

} // namespace Report
