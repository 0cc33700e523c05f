#include "targets.h"

namespace Targets {

namespace {

QString Percent(double value)
{
    return QStringLiteral("%1 %").arg(value, 0, 'f', 2);
}

TargetCheck AddedRoundTrip(const BenchResults &results)
{
    TargetCheck check { QStringLiteral("round trip added over the direct path, server vs socat"),
        QString(), QStringLiteral("≤ %1×").arg(MaxAddedRoundTripRatio), std::nullopt };
    const auto &direct = results.direct.roundTripUs;
    const auto &server = results.server.roundTripUs;
    const auto &socat = results.socat.roundTripUs;
    if (!direct || !server || !socat) {
        check.measured = QStringLiteral("not measured");
        return check;
    }
    const qint64 serverAdded = server->median - direct->median;
    const qint64 socatAdded = socat->median - direct->median;
    check.measured = QStringLiteral("+%1 µs vs +%2 µs").arg(serverAdded).arg(socatAdded);
    // A bridge that adds nothing measurable leaves no room at all: then the server must not
    // add anything either.
    check.pass = serverAdded <= MaxAddedRoundTripRatio * double(qMax<qint64>(socatAdded, 0));
    if (socatAdded > 0)
        check.measured
            += QStringLiteral(" = %1×").arg(double(serverAdded) / double(socatAdded), 0, 'f', 2);
    return check;
}

TargetCheck LineRate(const BenchResults &results)
{
    TargetCheck check { QStringLiteral("commands/s at 57600 baud, server vs direct"), QString(),
        QStringLiteral("≥ %1 %").arg(MinLineRateShare * 100), std::nullopt };
    const auto &direct = results.direct.lineRatePerSecond1;
    const auto &server = results.server.lineRatePerSecond1;
    if (!direct || !server || *direct <= 0) {
        check.measured = QStringLiteral("not measured");
        return check;
    }
    const double share = *server / *direct;
    check.measured = QStringLiteral("%1 vs %2 = %3 %")
                         .arg(*server, 0, 'f', 0)
                         .arg(*direct, 0, 'f', 0)
                         .arg(share * 100, 0, 'f', 1);
    check.pass = share >= MinLineRateShare;
    return check;
}

TargetCheck Burst(const BenchResults &results)
{
    TargetCheck check { QStringLiteral("10,000 broadcasts to 100 clients, complete and in order"),
        QString(), QStringLiteral("≤ %1 ms").arg(MaxBurstMilliseconds), std::nullopt };
    const auto &burst = results.server.burst100;
    if (!burst) {
        check.measured = QStringLiteral("not measured");
        return check;
    }
    check.measured = burst->complete
        ? QStringLiteral("%1 ms").arg(burst->milliseconds)
        : QStringLiteral("incomplete or out of order (%1 lines)").arg(burst->lines);
    check.pass = burst->complete && burst->milliseconds <= MaxBurstMilliseconds;
    return check;
}

TargetCheck Cpu(const QString &name, const std::optional<double> &percent, double limit)
{
    TargetCheck check { name, QString(), QStringLiteral("< %1").arg(Percent(limit)), std::nullopt };
    if (!percent) {
        check.measured = QStringLiteral("not measured");
        return check;
    }
    check.measured = Percent(*percent) + QStringLiteral(" of a core");
    check.pass = *percent < limit;
    return check;
}

TargetCheck OwnAnswers(const BenchResults &results)
{
    const qint64 wrong
        = results.direct.wrongAnswers + results.server.wrongAnswers + results.socat.wrongAnswers;
    return { QStringLiteral("every answer was its command's own echo"),
        QStringLiteral("%1 wrong").arg(wrong), QStringLiteral("0 wrong"), wrong == 0 };
}

TargetCheck CleanExit(const BenchResults &results)
{
    TargetCheck check { QStringLiteral("server ends cleanly on SIGTERM"), QString(),
        QStringLiteral("exit status 0"), std::nullopt };
    const ServerFigures &process = results.process;
    if (!process.exitCode && !process.crashed) {
        check.measured = QStringLiteral("not measured");
        return check;
    }
    check.measured = process.crashed ? QStringLiteral("crashed or killed")
                                     : QStringLiteral("exit status %1").arg(*process.exitCode);
    check.pass = !process.crashed && process.exitCode == 0;
    return check;
}

} // namespace

QList<TargetCheck> Evaluate(const BenchResults &results)
{
    TargetCheck waiting = Cpu(QStringLiteral("no busy waiting: CPU while a command waits"),
        results.process.waitCpuPercent, MaxWaitingCpuPercent);
    if (results.process.stateSamples > 0)
        waiting.measured += QStringLiteral(", asleep in %1 of %2 samples")
                                .arg(results.process.asleepSamples)
                                .arg(results.process.stateSamples);
    return {
        AddedRoundTrip(results),
        LineRate(results),
        Burst(results),
        Cpu(QStringLiteral("idle CPU over 10 s"), results.process.idleCpuPercent,
            MaxIdleCpuPercent),
        waiting,
        OwnAnswers(results),
        CleanExit(results),
    };
}

} // namespace Targets
