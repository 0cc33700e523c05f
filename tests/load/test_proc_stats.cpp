// Reading CPU time, run state and resident memory of a process, and the machine's CPU model.

#include "machine_info.h"
#include "proc_stats.h"

#include <QtTest>

#include <unistd.h>

class TestProcStats : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsStatLines_data();
    void readsStatLines();
    void readsResidentMemory_data();
    void readsResidentMemory();
    void readsThisProcess();
    void findsTheCpuModel();
};

void TestProcStats::readsStatLines_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<qint64>("ticks");
    QTest::addColumn<char>("state");

    // Fields after the name: state ppid pgrp session tty tpgid flags minflt cminflt majflt
    // cmajflt utime stime ...
    const QByteArray tail = " S 1 2 3 4 5 6 7 8 9 10 120 35 0 0 20 0 1 0 100 2000 300\n";
    QTest::newRow("plain name") << "4242 (qx-server)" + tail << true << qint64(155) << 'S';
    QTest::newRow("name with spaces and parentheses")
        << "4242 (qx (odd) server)" + tail << true << qint64(155) << 'S';
    QTest::newRow("a running process")
        << QByteArray("7 (x) R 1 2 3 4 5 6 7 8 9 10 1 2 0\n") << true << qint64(3) << 'R';
    QTest::newRow("cut off before stime")
        << QByteArray("7 (x) R 1 2 3 4 5 6 7 8 9 10 1") << false << qint64(0) << '?';
    QTest::newRow("no name at all") << QByteArray("7 x R 1 2 3") << false << qint64(0) << '?';
    QTest::newRow("a time that is no number")
        << QByteArray("7 (x) R 1 2 3 4 5 6 7 8 9 10 a 2 0") << false << qint64(0) << '?';
}

void TestProcStats::readsStatLines()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
    QFETCH(qint64, ticks);
    QFETCH(char, state);

    const std::optional<ProcStats::CpuSample> sample = ProcStats::parseStat(text);
    QCOMPARE(sample.has_value(), valid);
    if (valid) {
        QCOMPARE(sample->ticks, ticks);
        QCOMPARE(sample->state, state);
    }
}

void TestProcStats::readsResidentMemory_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<qint64>("bytes"); // -1: none

    QTest::newRow("among other lines")
        << QByteArray("Name:\tqx-server\nVmPeak:\t  90000 kB\nVmRSS:\t   21344 kB\nThreads:\t1\n")
        << qint64(21344) * 1024;
    QTest::newRow("a kernel thread has none") << QByteArray("Name:\tkthreadd\n") << qint64(-1);
    QTest::newRow("another unit") << QByteArray("VmRSS:\t 12 MB\n") << qint64(-1);
}

void TestProcStats::readsResidentMemory()
{
    QFETCH(QByteArray, text);
    QFETCH(qint64, bytes);

    QCOMPARE(ProcStats::parseResidentBytes(text).value_or(-1), bytes);
}

void TestProcStats::readsThisProcess()
{
    const std::optional<ProcStats::CpuSample> sample = ProcStats::readCpu(::getpid());
    QVERIFY(sample.has_value());
    QCOMPARE(sample->state, 'R'); // it is reading its own file right now
    QVERIFY(ProcStats::readResidentBytes(::getpid()).value_or(0) > 0);
    const ProcStats::CpuSample before { 0, 'S' };
    const ProcStats::CpuSample after { ProcStats::ticksPerSecond() / 2, 'S' };
    QCOMPARE(ProcStats::cpuPercent(before, after, qint64(10) * 1000 * 1000 * 1000), 5.0);
}

void TestProcStats::findsTheCpuModel()
{
    const QByteArray cpuinfo = "processor\t: 0\nvendor_id\t: GenuineIntel\n"
                               "model name\t: Intel(R) Xeon(R) Processor\nflags\t\t: fpu\n\n"
                               "processor\t: 1\nmodel name\t: Other\n";
    QCOMPARE(CpuModel(cpuinfo), QStringLiteral("Intel(R) Xeon(R) Processor"));
    QCOMPARE(CpuModel("processor\t: 0\n"), QString());
}

QTEST_APPLESS_MAIN(TestProcStats)
#include "test_proc_stats.moc"
