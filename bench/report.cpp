#include "report.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <sys/utsname.h>
#include <tuple>
#include <unistd.h>

namespace {

constexpr double MaxAddedRoundTripRatio = 1.10; // the server's added time vs socat's
// The server's CPU per burst frame vs socat's: the server reads every frame by its length and
// writes it as a hex line (14 bytes for the burst's 8-byte frames), where socat passes the bytes
// through unread.
constexpr double MaxBurstCpuRatio = 1.50;
constexpr double MinLineRateShare = 0.95; // of the direct path's commands/s at 57600 baud
constexpr double MaxCpuPercent = 1.0; // of one core: idle, and while a command waits

const QString NotMeasured = QStringLiteral("not measured");

using Table = QList<QStringList>; // the header first

// The figures' rows: each figure's name and the decimals it is shown with.
const std::tuple<Figure, const char *, int> Rows[] = {
    { Figure::RoundTripMedianUs, "command round trip, median (µs)", 0 },
    { Figure::RoundTripP99Us, "command round trip, p99 (µs)", 0 },
    { Figure::AddedMedianUs, "added over the direct path, median (µs)", 0 },
    { Figure::AddedP99Us, "added over the direct path, p99 (µs)", 0 },
    { Figure::CommandsPerSecond, "commands/s, 1 client", 0 },
    { Figure::CommandsPerSecond100, "commands/s, 100 clients × 100 commands", 0 },
    { Figure::BurstFramesPerSecond, "10,000 broadcasts to 1 client (frames/s)", 0 },
    { Figure::BurstCpuNsPerFrame, "the same: CPU per frame of qx-server, socat (ns)", 0 },
    { Figure::Burst100Ms, "10,000 broadcasts to 100 clients (ms)", 0 },
    { Figure::LineRateCommandsPerSecond, "at 57600 baud: commands/s, 1 client", 0 },
    { Figure::IdleCpuPercent, "idle CPU over 10 s (% of a core)", 2 },
    { Figure::WaitCpuPercent, "CPU over 5 s while a command waits on a silent device (%)", 2 },
    { Figure::ResidentMb200, "VmRSS with 100 command + 100 broadcast clients (MB)", 1 },
};

QString Show(const std::optional<double> &value, int decimals = 0)
{
    return value ? QString::number(*value, 'f', decimals) : QStringLiteral("–");
}

const QString Pass = QStringLiteral("PASS");

// A target's row: name, measured, limit, PASS or FAIL.
QStringList Target(const QString &name, const QString &measured, const QString &limit, bool pass)
{
    return { name, measured, limit, pass ? Pass : QStringLiteral("FAIL") };
}

// The server's figure against `base`'s as a share: at least `least` or, for `atMost`, at most.
QStringList Share(const QString &name, Figure figure, Path base, double least, const Figures &f,
    bool atMost = false)
{
    const std::optional<double> value = f.at(figure, Path::Server);
    const std::optional<double> of = f.at(figure, base);
    const bool percent = figure == Figure::LineRateCommandsPerSecond;
    const auto show = [percent](double share) {
        return percent ? QStringLiteral("%1 %").arg(share * 100, 0, 'f', 1)
                       : QStringLiteral("%1×").arg(share, 0, 'f', 2);
    };
    QString measured = NotMeasured;
    if (value && of)
        measured = QStringLiteral("%1 vs %2").arg(Show(value), Show(of))
            + (*of > 0 ? QStringLiteral(" = ") + show(*value / *of) : QString());
    // A bridge that adds nothing leaves the server no room at all.
    return Target(name, measured,
        (atMost ? QStringLiteral("≤ ") : QStringLiteral("≥ ")) + show(least),
        value && of
            && (atMost ? *value <= least * std::max(*of, 0.0) : *of > 0 && *value >= least * *of));
}

QStringList Cpu(const QString &name, Figure figure, const Figures &f)
{
    const std::optional<double> percent = f.at(figure, Path::Server);
    // Judged as shown: a figure printed as the limit does not pass.
    return Target(name, percent ? Show(percent, 2) + QStringLiteral(" % of a core") : NotMeasured,
        QStringLiteral("< %1 %").arg(MaxCpuPercent, 0, 'f', 2),
        percent && std::round(*percent * 100) / 100 < MaxCpuPercent);
}

// A count that must be 0, once what it counts was measured.
QStringList NoneWrong(const QString &name, const QString &what, qint64 wrong, bool measured)
{
    return Target(name, measured ? QStringLiteral("%1 %2").arg(wrong).arg(what) : NotMeasured,
        QStringLiteral("0 ") + what, measured && wrong == 0);
}

Table Targets(const Figures &f)
{
    const bool complete = f.at(Figure::Burst100Ms, Path::Server).has_value();
    const QStringList &ends = f.serverEnds;
    return {
        { QStringLiteral("target"), QStringLiteral("measured"), QStringLiteral("limit"),
            QStringLiteral("result") },
        Share(QStringLiteral("added median round trip (µs), server vs socat"),
            Figure::AddedMedianUs, Path::Socat, MaxAddedRoundTripRatio, f, true),
        Share(QStringLiteral("added p99 round trip (µs), server vs socat"), Figure::AddedP99Us,
            Path::Socat, MaxAddedRoundTripRatio, f, true),
        Share(QStringLiteral("CPU per burst frame (ns), server (hex lines) vs socat (raw)"),
            Figure::BurstCpuNsPerFrame, Path::Socat, MaxBurstCpuRatio, f, true),
        NoneWrong(QStringLiteral("100 clients × 100 commands: every answer to its own client"),
            QStringLiteral("foreign"), f.foreignAnswers100,
            f.at(Figure::CommandsPerSecond100, Path::Server).has_value()),
        Target(QStringLiteral("10,000 broadcasts to 100 clients, complete and in order"),
            complete ? QStringLiteral("complete") : NotMeasured, QStringLiteral("complete"),
            complete),
        Share(QStringLiteral("commands/s at 57600 baud, server vs direct"),
            Figure::LineRateCommandsPerSecond, Path::Direct, MinLineRateShare, f),
        Cpu(QStringLiteral("idle CPU over 10 s"), Figure::IdleCpuPercent, f),
        Cpu(QStringLiteral("CPU while a command waits"), Figure::WaitCpuPercent, f),
        NoneWrong(QStringLiteral("every answer its command's own echo"), QStringLiteral("wrong"),
            f.wrongAnswers, true),
        Target(QStringLiteral("the server ends on SIGTERM"),
            ends.isEmpty() ? NotMeasured : ends.join(QStringLiteral(", ")),
            QStringLiteral("exit status 0"),
            !ends.isEmpty() && ends.count(QStringLiteral("exit status 0")) == ends.size()),
    };
}

QString PlainText(const Table &table)
{
    QList<qsizetype> widths(table.first().size(), 0);
    for (const QStringList &row : table) {
        for (qsizetype i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row.at(i).size());
    }
    QString text;
    for (const QStringList &row : table) {
        QString line = row.first().leftJustified(widths.first());
        for (qsizetype i = 1; i < row.size(); ++i)
            line += QStringLiteral("  ") + row.at(i).rightJustified(widths[i]);
        text += line + QLatin1Char('\n');
    }
    return text;
}

QString Markdown(Table table)
{
    QStringList rule(table.first().size(), QStringLiteral("---:"));
    rule.first() = QStringLiteral("---");
    table.insert(1, rule);
    QString text;
    for (const QStringList &row : table)
        text += QStringLiteral("| ") + row.join(QStringLiteral(" | ")) + QStringLiteral(" |\n");
    return text;
}

} // namespace

Report RenderReport(Figures figures, const QString &title, bool markdown)
{
    for (const Path path : { Path::Server, Path::Socat }) {
        for (const auto &[added, of] :
            { std::pair { Figure::AddedMedianUs, Figure::RoundTripMedianUs },
                { Figure::AddedP99Us, Figure::RoundTripP99Us } }) {
            if (figures.at(of, path) && figures.at(of, Path::Direct))
                figures.at(added, path) = *figures.at(of, path) - *figures.at(of, Path::Direct);
        }
    }
    Table table { { QStringLiteral("figure"), QStringLiteral("direct (pty)"),
        QStringLiteral("qx-server"), QStringLiteral("socat") } };
    for (const auto &[figure, name, decimals] : Rows) {
        table.append({ QString::fromUtf8(name) });
        for (const Path path : { Path::Direct, Path::Server, Path::Socat })
            table.last().append(Show(figures.at(figure, path), decimals));
    }
    const Table targets = Targets(figures);
    const bool passed = figures.errors.isEmpty()
        && std::all_of(targets.cbegin() + 1, targets.cend(),
            [](const QStringList &row) { return row.last() == Pass; });
    const auto render
        = [markdown](const Table &t) { return markdown ? Markdown(t) : PlainText(t); };
    QString text = title + QStringLiteral("\n\n") + render(table);
    for (const QString &error : figures.errors)
        text += QStringLiteral("Error: ") + error + QLatin1Char('\n');
    text += QLatin1Char('\n') + render(targets)
        + (passed ? QStringLiteral("\nAll targets met.\n")
                  : QStringLiteral("\nNot all targets met.\n"));
    return { text, passed };
}

QString DescribeMachine()
{
    QFile cpuinfo(QStringLiteral("/proc/cpuinfo"));
    const QByteArray text = cpuinfo.open(QIODevice::ReadOnly) ? cpuinfo.readAll() : QByteArray();
    const qsizetype model = text.indexOf("model name");
    const qsizetype from = text.indexOf(':', model) + 1;
    utsname system {};
    ::uname(&system);
    return QStringLiteral("%1 cores (nproc), %2, %3 %4, Qt %5")
        .arg(::sysconf(_SC_NPROCESSORS_ONLN))
        .arg(model < 0
                ? QStringLiteral("unknown CPU")
                : QString::fromUtf8(text.mid(from, text.indexOf('\n', from) - from).trimmed()),
            QString::fromUtf8(system.sysname), QString::fromUtf8(system.release),
            QString::fromLatin1(qVersion()));
}
