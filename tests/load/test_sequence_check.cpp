// The broadcast rules of the load test: what a reading client may have lost, and what it may not.

#include "sequence_check.h"

#include <QtTest>

using Numbers = QList<quint32>;

class TestSequenceCheck : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void judges_data();
    void judges();
    void recordsGapsWhereNumbersWereSkipped();
};

void TestSequenceCheck::judges_data()
{
    QTest::addColumn<Numbers>("received");
    QTest::addColumn<int>("foreignLines");
    QTest::addColumn<quint32>("end"); // one past the last number sent
    QTest::addColumn<Numbers>("deviceGone"); // ranges as first, last pairs
    QTest::addColumn<bool>("sound");

    QTest::newRow("every number in order")
        << Numbers { 0, 1, 2, 3 } << 0 << 4u << Numbers {} << true;
    QTest::newRow("nothing sent, nothing received") << Numbers {} << 0 << 0u << Numbers {} << true;
    QTest::newRow("a number twice") << Numbers { 0, 1, 1, 2 } << 0 << 3u << Numbers {} << false;
    QTest::newRow("an older number after a newer one")
        << Numbers { 0, 2, 1, 3 } << 0 << 4u << Numbers {} << false;
    QTest::newRow("a number lost while the device was there")
        << Numbers { 0, 1, 3 } << 0 << 4u << Numbers {} << false;
    QTest::newRow("the last numbers never arrived")
        << Numbers { 0, 1 } << 0 << 4u << Numbers {} << false;
    QTest::newRow("a line that is no numbered broadcast")
        << Numbers { 0, 1 } << 1 << 2u << Numbers {} << false;
    QTest::newRow("the tail of what was on its way at the unplug")
        << Numbers { 0, 1, 2, 3, 4, 5, 6, 10, 11 } << 0 << 12u << Numbers { 5, 9 } << true;
    QTest::newRow("everything on its way at the unplug")
        << Numbers { 0, 1, 2, 3, 4, 10 } << 0 << 11u << Numbers { 5, 9 } << true;
    QTest::newRow("a hole inside the unplug range, later ones received")
        << Numbers { 0, 1, 2, 3, 4, 5, 8, 9, 10 } << 0 << 11u << Numbers { 5, 9 } << false;
    QTest::newRow("a gap that starts before the unplug range")
        << Numbers { 0, 1, 2, 10 } << 0 << 11u << Numbers { 5, 9 } << false;
    QTest::newRow("a gap after the device came back")
        << Numbers { 0, 1, 2, 3, 4, 10, 12 } << 0 << 13u << Numbers { 5, 9 } << false;
    QTest::newRow("tails of two unplugs")
        << Numbers { 0, 1, 2, 4, 5, 6, 9 } << 0 << 10u << Numbers { 2, 3, 5, 8 } << true;
}

void TestSequenceCheck::judges()
{
    QFETCH(Numbers, received);
    QFETCH(int, foreignLines);
    QFETCH(quint32, end);
    QFETCH(Numbers, deviceGone);
    QFETCH(bool, sound);

    SequenceCheck check;
    for (const quint32 number : received)
        check.take(number);
    for (int i = 0; i < foreignLines; ++i)
        check.takeForeign();
    QList<SequenceCheck::Range> gone;
    for (int i = 0; i + 1 < deviceGone.size(); i += 2)
        gone.append({ deviceGone.at(i), deviceGone.at(i + 1) });

    const QString verdict = check.judge(end, gone);
    QVERIFY2(verdict.isEmpty() == sound, qPrintable(verdict.isEmpty() ? "sound" : verdict));
}

void TestSequenceCheck::recordsGapsWhereNumbersWereSkipped()
{
    SequenceCheck check(10);
    for (const quint32 number : { 10u, 13u, 14u, 20u })
        check.take(number);
    const QList<SequenceCheck::Range> expected { { 11, 12 }, { 15, 19 } };
    QCOMPARE(check.gaps(), expected);
    QCOMPARE(check.next(), 21u);
    QCOMPARE(check.received(), 4);
}

QTEST_APPLESS_MAIN(TestSequenceCheck)
#include "test_sequence_check.moc"
