// Percentiles of measured durations: every figure is one of the samples.

#include "latency_stats.h"

#include <QtTest>

class TestLatencyStats : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void takesNearestRankPercentiles_data();
    void takesNearestRankPercentiles();
};

void TestLatencyStats::takesNearestRankPercentiles_data()
{
    QTest::addColumn<QList<qint64>>("samples");
    QTest::addColumn<qint64>("median");
    QTest::addColumn<qint64>("p99");

    QList<qint64> hundred;
    for (qint64 i = 100; i >= 1; --i)
        hundred.append(i); // unsorted on purpose
    QTest::newRow("1 to 100") << hundred << qint64(50) << qint64(99);
    QTest::newRow("one sample") << QList<qint64> { 7 } << qint64(7) << qint64(7);
    QTest::newRow("two samples: the median is the lower")
        << QList<qint64> { 9, 3 } << qint64(3) << qint64(9);
    QTest::newRow("one outlier in ten reaches p99")
        << QList<qint64> { 5, 5, 5, 5, 5, 5, 5, 5, 5, 900 } << qint64(5) << qint64(900);
    QTest::newRow("no samples") << QList<qint64> {} << qint64(0) << qint64(0);
}

void TestLatencyStats::takesNearestRankPercentiles()
{
    QFETCH(QList<qint64>, samples);
    QFETCH(qint64, median);
    QFETCH(qint64, p99);

    const LatencySummary summary = Summarize(samples);
    QCOMPARE(summary.count, samples.size());
    QCOMPARE(summary.median, median);
    QCOMPARE(summary.p99, p99);
}

QTEST_APPLESS_MAIN(TestLatencyStats)
#include "test_latency_stats.moc"
