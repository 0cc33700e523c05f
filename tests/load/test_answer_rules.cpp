// How the load test judges the answers that well-behaved command clients get.

#include "answer_rules.h"

#include <QtTest>

using AnswerRules::Verdict;

class TestAnswerRules : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void judgesAnswerLines_data();
    void judgesAnswerLines();
    void allowsNoAnswerOnlyWhileTheDeviceWasAway_data();
    void allowsNoAnswerOnlyWhileTheDeviceWasAway();
};

void TestAnswerRules::judgesAnswerLines_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("verdict");

    QTest::newRow("the client's own echo") << QByteArray("440A00000B45") << int(Verdict::Own);
    QTest::newRow("no answer from the device") << QByteArray("010100") << int(Verdict::NoAnswer);
    QTest::newRow("another client's echo") << QByteArray("440C00000B43") << int(Verdict::Wrong);
    QTest::newRow("the same client's previous command")
        << QByteArray("440A00000A44") << int(Verdict::Wrong);
    QTest::newRow("the error answer of a malformed line")
        << QByteArray("6180E1") << int(Verdict::Wrong);
    QTest::newRow("an empty line") << QByteArray() << int(Verdict::Wrong);
    QTest::newRow("the echo in lower case") << QByteArray("440a00000b45") << int(Verdict::Wrong);
}

void TestAnswerRules::judgesAnswerLines()
{
    QFETCH(QByteArray, line);
    QFETCH(int, verdict);

    QCOMPARE(int(AnswerRules::Judge(line, "440A00000B45")), verdict);
}

void TestAnswerRules::allowsNoAnswerOnlyWhileTheDeviceWasAway_data()
{
    QTest::addColumn<qint64>("sentMs");
    QTest::addColumn<qint64>("receivedMs");
    QTest::addColumn<bool>("allowed");

    // The device was away from 1000 to 3000 ms and from 8000 to 9000 ms.
    QTest::newRow("open at the unplug, answered after it") << qint64(990) << qint64(2500) << true;
    QTest::newRow("sent while unplugged") << qint64(1500) << qint64(1501) << true;
    QTest::newRow("sent just before the device was back") << qint64(3000) << qint64(3001) << true;
    QTest::newRow("answered before the unplug") << qint64(500) << qint64(999) << false;
    QTest::newRow("sent after the device was back") << qint64(3001) << qint64(3002) << false;
    QTest::newRow("between the two unplugs") << qint64(5000) << qint64(6000) << false;
    QTest::newRow("during the second unplug") << qint64(8500) << qint64(8600) << true;
}

void TestAnswerRules::allowsNoAnswerOnlyWhileTheDeviceWasAway()
{
    QFETCH(qint64, sentMs);
    QFETCH(qint64, receivedMs);
    QFETCH(bool, allowed);

    const QList<AnswerRules::Window> windows { { 1000, 3000 }, { 8000, 9000 } };
    QCOMPARE(AnswerRules::WithinWindow({ sentMs, receivedMs }, windows), allowed);
}

QTEST_APPLESS_MAIN(TestAnswerRules)
#include "test_answer_rules.moc"
