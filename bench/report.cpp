#include "report.h"

#include <algorithm>
#include <functional>

namespace Report {

namespace {

const QString Missing = QStringLiteral("–");

QString Whole(const std::optional<double> &value)
{
    return value ? QString::number(*value, 'f', 0) : Missing;
}

QString Median(const std::optional<LatencySummary> &summary)
{
    return summary ? QString::number(summary->median) : Missing;
}

QString P99(const std::optional<LatencySummary> &summary)
{
    return summary ? QString::number(summary->p99) : Missing;
}

QString Burst(const std::optional<BurstFigure> &burst)
{
    if (!burst)
        return Missing;
    return burst->complete ? QString::number(burst->milliseconds)
                           : QStringLiteral("incomplete (%1 lines)").arg(burst->lines);
}

QString Megabytes(const std::optional<qint64> &bytes)
{
    return bytes ? QStringLiteral("%1 MB").arg(double(*bytes) / 1e6, 0, 'f', 1) : Missing;
}

QString CpuPercent(const std::optional<double> &percent)
{
    return percent ? QStringLiteral("%1 %").arg(*percent, 0, 'f', 2) : Missing;
}

using PathCell = std::function<QString(const PathFigures &)>;

QStringList PathRow(const QString &label, const BenchResults &results, const PathCell &cell)
{
    QStringList row { label };
    for (const PathFigures *path : { &results.direct, &results.server, &results.socat })
        row << (path->unavailable.isEmpty() ? cell(*path) : Missing);
    return row;
}

QStringList ServerRow(const QString &label, const QString &value)
{
    return { label, Missing, value, Missing };
}

} // namespace

Table Figures(const BenchResults &results)
{
    Table table;
    table.header = { QStringLiteral("figure"), QStringLiteral("direct (pty)"),
        QStringLiteral("qx-server"), QStringLiteral("socat") };
    const ServerFigures &process = results.process;
    table.rows = {
        PathRow(QStringLiteral("command round trip, median (µs)"), results,
            [](const PathFigures &p) { return Median(p.roundTripUs); }),
        PathRow(QStringLiteral("command round trip, p99 (µs)"), results,
            [](const PathFigures &p) { return P99(p.roundTripUs); }),
        PathRow(QStringLiteral("commands/s, 1 client"), results,
            [](const PathFigures &p) { return Whole(p.perSecond1); }),
        PathRow(QStringLiteral("commands/s, 10 clients"), results,
            [](const PathFigures &p) { return Whole(p.perSecond10); }),
        PathRow(QStringLiteral("commands/s, 100 clients"), results,
            [](const PathFigures &p) { return Whole(p.perSecond100); }),
        PathRow(QStringLiteral("one broadcast's latency, median (µs)"), results,
            [](const PathFigures &p) { return Median(p.broadcastUs); }),
        PathRow(QStringLiteral("one broadcast's latency, p99 (µs)"), results,
            [](const PathFigures &p) { return P99(p.broadcastUs); }),
        PathRow(QStringLiteral("10,000 broadcasts to 1 client (ms)"), results,
            [](const PathFigures &p) { return Burst(p.burst1); }),
        PathRow(QStringLiteral("10,000 broadcasts to 100 clients (ms)"), results,
            [](const PathFigures &p) { return Burst(p.burst100); }),
        PathRow(QStringLiteral("at 57600 baud: commands/s, 1 client"), results,
            [](const PathFigures &p) { return Whole(p.lineRatePerSecond1); }),
        PathRow(QStringLiteral("at 57600 baud: commands/s, 10 clients"), results,
            [](const PathFigures &p) { return Whole(p.lineRatePerSecond10); }),
        ServerRow(QStringLiteral("idle CPU over 10 s"), CpuPercent(process.idleCpuPercent)),
        ServerRow(QStringLiteral("VmRSS, no client"), Megabytes(process.idleResidentBytes)),
        ServerRow(QStringLiteral("VmRSS, 100 command + 100 broadcast clients"),
            Megabytes(process.residentBytes200)),
        ServerRow(QStringLiteral("CPU over 5 s while commands wait for a silent device"),
            CpuPercent(process.waitCpuPercent)),
    };
    return table;
}

Table TargetTable(const QList<TargetCheck> &checks)
{
    Table table;
    table.header = { QStringLiteral("target"), QStringLiteral("measured"), QStringLiteral("limit"),
        QStringLiteral("result") };
    for (const TargetCheck &check : checks) {
        const QString verdict = !check.pass ? QStringLiteral("not measured")
            : *check.pass                   ? QStringLiteral("PASS")
                                            : QStringLiteral("FAIL");
        table.rows.append({ check.name, check.measured, check.limit, verdict });
    }
    return table;
}

QString PlainText(const Table &table)
{
    QList<qsizetype> widths;
    for (const QString &cell : table.header)
        widths.append(cell.size());
    for (const QStringList &row : table.rows) {
        for (int i = 0; i < row.size() && i < widths.size(); ++i)
            widths[i] = std::max(widths[i], row.at(i).size());
    }
    const auto line = [&widths](const QStringList &cells) {
        QStringList padded;
        for (int i = 0; i < cells.size(); ++i)
            padded << (i == 0 ? cells.at(i).leftJustified(widths.at(i))
                              : cells.at(i).rightJustified(widths.at(i)));
        return padded.join(QStringLiteral("  ")).trimmed() + QLatin1Char('\n');
    };
    QString text = line(table.header);
    for (const QStringList &row : table.rows)
        text += line(row);
    return text;
}

QString Markdown(const Table &table)
{
    const auto line = [](const QStringList &cells) {
        return QStringLiteral("| ") + cells.join(QStringLiteral(" | ")) + QStringLiteral(" |\n");
    };
    QStringList rule { QStringLiteral("---") };
    for (int i = 1; i < table.header.size(); ++i)
        rule << QStringLiteral("---:");
    QString text = line(table.header) + line(rule);
    for (const QStringList &row : table.rows)
        text += line(row);
    return text;
}

QString Render(const BenchResults &results, const QList<TargetCheck> &checks, bool markdown)
{
    const auto table = [markdown](const Table &t) { return markdown ? Markdown(t) : PlainText(t); };
    QString text = QStringLiteral("Machine: %1\n\n").arg(results.machine);
    text += table(Figures(results));
    text += QStringLiteral(
        "\n– : not applicable. socat takes one connection and the pty has one reader, so those "
        "paths run one client; broadcasts to 100 clients and the server's own figures need "
        "the server.\n");
    for (const PathFigures *path : { &results.direct, &results.server, &results.socat }) {
        if (!path->unavailable.isEmpty())
            text += QStringLiteral("Not measured: %1\n").arg(path->unavailable);
        for (const QString &error : path->errors)
            text += QStringLiteral("Error: %1\n").arg(error);
    }
    text += QLatin1Char('\n') + table(TargetTable(checks));
    const bool allPassed = std::all_of(checks.cbegin(), checks.cend(),
        [](const TargetCheck &c) { return c.pass.value_or(false); });
    text += allPassed ? QStringLiteral("\nAll targets met.\n")
                      : QStringLiteral("\nSome targets not met or not measured.\n");
    return text;
}

} // namespace Report
