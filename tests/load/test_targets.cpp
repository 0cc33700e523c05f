// The benchmark's targets: each a comparison within one run, PASS, FAIL or not measured.

#include "targets.h"

#include <QtTest>

namespace {

LatencySummary Median(qint64 microseconds)
{
    LatencySummary summary;
    summary.count = 1000;
    summary.median = microseconds;
    return summary;
}

std::optional<bool> Verdict(const BenchResults &results, int index)
{
    return Targets::Evaluate(results).at(index).pass;
}

// Positions in the list Targets::Evaluate returns.
enum Target
{
    AddedRoundTrip,
    LineRate,
    Burst,
    IdleCpu,
    WaitingCpu,
    OwnAnswers,
    CleanExit,
};

} // namespace

Q_DECLARE_METATYPE(std::optional<bool>)

class TestTargets : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void comparesAddedRoundTrip_data();
    void comparesAddedRoundTrip();
    void comparesLineRate_data();
    void comparesLineRate();
    void judgesTheBurst_data();
    void judgesTheBurst();
    void judgesCpuAndExit_data();
    void judgesCpuAndExit();
};

void TestTargets::comparesAddedRoundTrip_data()
{
    QTest::addColumn<qint64>("direct");
    QTest::addColumn<qint64>("server");
    QTest::addColumn<qint64>("socat"); // -1: not measured
    QTest::addColumn<std::optional<bool>>("pass");

    QTest::newRow("server adds less than socat")
        << qint64(20) << qint64(50) << qint64(60) << std::optional<bool>(true);
    QTest::newRow("exactly twice what socat adds")
        << qint64(20) << qint64(100) << qint64(60) << std::optional<bool>(true);
    QTest::newRow("a microsecond over twice")
        << qint64(20) << qint64(101) << qint64(60) << std::optional<bool>(false);
    QTest::newRow("socat adds nothing: neither may the server")
        << qint64(20) << qint64(21) << qint64(20) << std::optional<bool>(false);
    QTest::newRow("socat faster than direct counts as adding nothing")
        << qint64(20) << qint64(20) << qint64(15) << std::optional<bool>(true);
    QTest::newRow("socat missing: not measured")
        << qint64(20) << qint64(50) << qint64(-1) << std::optional<bool>();
}

void TestTargets::comparesAddedRoundTrip()
{
    QFETCH(qint64, direct);
    QFETCH(qint64, server);
    QFETCH(qint64, socat);
    QFETCH(std::optional<bool>, pass);

    BenchResults results;
    results.direct.roundTripUs = Median(direct);
    results.server.roundTripUs = Median(server);
    if (socat >= 0)
        results.socat.roundTripUs = Median(socat);
    QCOMPARE(Verdict(results, AddedRoundTrip), pass);
}

void TestTargets::comparesLineRate_data()
{
    QTest::addColumn<double>("direct");
    QTest::addColumn<double>("server");
    QTest::addColumn<std::optional<bool>>("pass");

    QTest::newRow("as fast as direct") << 500.0 << 500.0 << std::optional<bool>(true);
    QTest::newRow("exactly 90 %") << 500.0 << 450.0 << std::optional<bool>(true);
    QTest::newRow("just under 90 %") << 500.0 << 449.0 << std::optional<bool>(false);
    QTest::newRow("direct path measured nothing") << 0.0 << 450.0 << std::optional<bool>();
}

void TestTargets::comparesLineRate()
{
    QFETCH(double, direct);
    QFETCH(double, server);
    QFETCH(std::optional<bool>, pass);

    BenchResults results;
    results.direct.lineRatePerSecond1 = direct;
    results.server.lineRatePerSecond1 = server;
    QCOMPARE(Verdict(results, LineRate), pass);
}

void TestTargets::judgesTheBurst_data()
{
    QTest::addColumn<bool>("complete");
    QTest::addColumn<qint64>("milliseconds");
    QTest::addColumn<std::optional<bool>>("pass");

    QTest::newRow("complete and in time") << true << qint64(800) << std::optional<bool>(true);
    QTest::newRow("complete at the limit") << true << qint64(5000) << std::optional<bool>(true);
    QTest::newRow("complete but late") << true << qint64(5001) << std::optional<bool>(false);
    QTest::newRow("fast but incomplete") << false << qint64(100) << std::optional<bool>(false);
}

void TestTargets::judgesTheBurst()
{
    QFETCH(bool, complete);
    QFETCH(qint64, milliseconds);
    QFETCH(std::optional<bool>, pass);

    BenchResults results;
    results.server.burst100 = BurstFigure { complete, milliseconds, 1000000 };
    QCOMPARE(Verdict(results, Burst), pass);
}

void TestTargets::judgesCpuAndExit_data()
{
    QTest::addColumn<int>("target");
    QTest::addColumn<double>("cpuPercent");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("crashed");
    QTest::addColumn<std::optional<bool>>("pass");

    QTest::newRow("idle well under 1 %")
        << int(IdleCpu) << 0.2 << 0 << false << std::optional<bool>(true);
    QTest::newRow("idle at 1 % is too much")
        << int(IdleCpu) << 1.0 << 0 << false << std::optional<bool>(false);
    QTest::newRow("waiting at 40 %: busy waiting")
        << int(WaitingCpu) << 40.0 << 0 << false << std::optional<bool>(false);
    QTest::newRow("exit status 0")
        << int(CleanExit) << 0.0 << 0 << false << std::optional<bool>(true);
    QTest::newRow("exit status 1")
        << int(CleanExit) << 0.0 << 1 << false << std::optional<bool>(false);
    QTest::newRow("killed after SIGTERM went unanswered")
        << int(CleanExit) << 0.0 << 0 << true << std::optional<bool>(false);
}

void TestTargets::judgesCpuAndExit()
{
    QFETCH(int, target);
    QFETCH(double, cpuPercent);
    QFETCH(int, exitCode);
    QFETCH(bool, crashed);
    QFETCH(std::optional<bool>, pass);

    BenchResults results;
    results.process.idleCpuPercent = cpuPercent;
    results.process.waitCpuPercent = cpuPercent;
    results.process.exitCode = exitCode;
    results.process.crashed = crashed;
    QCOMPARE(Verdict(results, target), pass);
}

QTEST_APPLESS_MAIN(TestTargets)
#include "test_targets.moc"
