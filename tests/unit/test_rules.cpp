// The small decision rules of the server: programming-mode commands, the slot a
// connection goes into, the idle test and the stored serial port.

#include "core/clock.h"
#include "core/command_line.h"
#include "core/hex_line.h"
#include "core/idle.h"
#include "core/leading_number.h"
#include "core/prog_mode.h"
#include "core/slot_search.h"
#include "core/stored_settings.h"

#include <QtTest>

Q_DECLARE_METATYPE(ProgModeEffect)

class TestRules : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void classifiesProgMode_data();
    void classifiesProgMode();
    void ownLeaveLineLeavesProgMode();
    void findsFreeSlot_data();
    void findsFreeSlot();
    void testsIdle_data();
    void testsIdle();
    void monotonicClockNeverReadsNoTime();
    void parsesStoredPort_data();
    void parsesStoredPort();
    void roundsHalfToEven_data();
    void roundsHalfToEven();
};

void TestRules::classifiesProgMode_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<ProgModeEffect>("effect");

    QTest::newRow("22 11 enters") << QByteArray::fromHex("2211") << ProgModeEffect::Enter;
    QTest::newRow("22 15 enters, rest ignored")
        << QByteArray::fromHex("2215AABBCC") << ProgModeEffect::Enter;
    QTest::newRow("23 12 enters") << QByteArray::fromHex("231200") << ProgModeEffect::Enter;
    QTest::newRow("23 16 enters") << QByteArray::fromHex("2316") << ProgModeEffect::Enter;
    QTest::newRow("23 17 enters") << QByteArray::fromHex("23170134") << ProgModeEffect::Enter;
    QTest::newRow("21 81 A0 leaves") << QByteArray::fromHex("2181A0") << ProgModeEffect::Leave;
    QTest::newRow("21 81 A0 with more bytes leaves")
        << QByteArray::fromHex("2181A00102") << ProgModeEffect::Leave;
    QTest::newRow("21 81 alone is too short to leave")
        << QByteArray::fromHex("2181") << ProgModeEffect::None;
    QTest::newRow("21 81 A1 is ordinary") << QByteArray::fromHex("2181A1") << ProgModeEffect::None;
    QTest::newRow("22 14 is ordinary") << QByteArray::fromHex("221400") << ProgModeEffect::None;
    QTest::newRow("23 15 is ordinary") << QByteArray::fromHex("231500") << ProgModeEffect::None;
    QTest::newRow("22 alone is too short") << QByteArray::fromHex("22") << ProgModeEffect::None;
    QTest::newRow("23 alone is too short") << QByteArray::fromHex("23") << ProgModeEffect::None;
    QTest::newRow("empty command") << QByteArray() << ProgModeEffect::None;
    QTest::newRow("pattern not at the start")
        << QByteArray::fromHex("002211") << ProgModeEffect::None;
    QTest::newRow("leave pattern not at the start")
        << QByteArray::fromHex("002181A0") << ProgModeEffect::None;
    QTest::newRow("pattern as text is no match") << QByteArray("2211") << ProgModeEffect::None;
}

void TestRules::classifiesProgMode()
{
    QFETCH(QByteArray, command);
    QFETCH(ProgModeEffect, effect);

    QCOMPARE(ClassifyProgMode(command), effect);
}

void TestRules::ownLeaveLineLeavesProgMode()
{
    // The housekeeping queues this line itself when the last command client
    // has gone; it must translate and then take the device out of the mode.
    const std::optional<QByteArray> command
        = TranslateCommandLine(HexText(Protocol::LeaveProgModeCommand()));
    QVERIFY(command.has_value());
    QCOMPARE(ClassifyProgMode(*command), ProgModeEffect::Leave);
}

void TestRules::findsFreeSlot_data()
{
    QTest::addColumn<QList<int>>("inUse");
    QTest::addColumn<int>("maxConn");
    QTest::addColumn<int>("slot");

    QList<int> all;
    for (int i = 1; i <= 100; ++i)
        all << i;
    QList<int> allButLast = all;
    allButLast.removeLast();
    QList<int> allButFirst = all;
    allButFirst.removeFirst();

    QTest::newRow("first client gets slot 1") << QList<int>() << 100 << 1;
    QTest::newRow("second client gets slot 2") << QList<int> { 1 } << 100 << 2;
    QTest::newRow("freed slot 1 is taken again") << QList<int> { 2, 3 } << 100 << 1;
    QTest::newRow("lowest gap wins") << QList<int> { 1, 2, 4, 6 } << 100 << 3;
    QTest::newRow("only slot 100 free") << allButLast << 100 << 100;
    QTest::newRow("only slot 1 free") << allButFirst << 100 << 1;
    QTest::newRow("all 100 in use: overflow slot 101") << all << 100 << 101;
    QTest::newRow("listening slot 0 is never a connection slot") << QList<int> { 0 } << 100 << 1;
    QTest::newRow("a used overflow slot does not matter") << QList<int> { 101 } << 100 << 1;
    QTest::newRow("smaller limit: overflow past it") << QList<int> { 1, 2, 3 } << 3 << 4;
}

void TestRules::findsFreeSlot()
{
    QFETCH(QList<int>, inUse);
    QFETCH(int, maxConn);
    QFETCH(int, slot);

    SlotFlags flags {};
    for (int used : inUse)
        flags[used] = 1;
    QCOMPARE(FindFreeSlot(flags, maxConn), slot);
}

void TestRules::testsIdle_data()
{
    QTest::addColumn<qint64>("secondsLater");
    QTest::addColumn<bool>("idle");

    QTest::newRow("just active") << qint64(0) << false;
    QTest::newRow("59 seconds") << qint64(59) << false;
    QTest::newRow("exactly 60 seconds stays") << qint64(60) << false;
    QTest::newRow("61 seconds is idle") << qint64(61) << true;
    QTest::newRow("an hour") << qint64(3600) << true;
    QTest::newRow("60 seconds in the future stays") << qint64(-60) << false;
    QTest::newRow("61 seconds in the future is idle") << qint64(-61) << true;
    QTest::newRow("clock set back two minutes") << qint64(-120) << true;
}

void TestRules::testsIdle()
{
    QFETCH(qint64, secondsLater);
    QFETCH(bool, idle);

    ManualClock clock;
    const qint64 lastActivity = clock.seconds();
    clock.advance(secondsLater);
    QCOMPARE(IsIdle(clock.seconds(), lastActivity), idle);
}

void TestRules::monotonicClockNeverReadsNoTime()
{
    // 0 marks a free slot's last activity; a fresh clock must not read it.
    const MonotonicClock clock;
    QVERIFY(clock.seconds() >= 1);
}

void TestRules::parsesStoredPort_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("port");

    QTest::newRow("5") << "5" << 5;
    QTest::newRow("lowest port 1") << "1" << 1;
    QTest::newRow("highest port 30") << "30" << 30;
    QTest::newRow("0 is no stored port") << "0" << 0;
    QTest::newRow("31 is out of range") << "31" << 0;
    QTest::newRow("-1 is out of range") << "-1" << 0;
    QTest::newRow("abc is no number") << "abc" << 0;
    QTest::newRow("empty is no number") << "" << 0;
    QTest::newRow("2.5 rounds down to even 2") << "2.5" << 2;
    QTest::newRow("3.5 rounds up to even 4") << "3.5" << 4;
    QTest::newRow("0.5 rounds to 0") << "0.5" << 0;
    QTest::newRow("0.6 rounds to 1") << "0.6" << 1;
    QTest::newRow("7.49 rounds to 7") << "7.49" << 7;
    QTest::newRow("30.5 rounds to even 30") << "30.5" << 30;
    QTest::newRow("30.6 rounds to 31, out of range") << "30.6" << 0;
    QTest::newRow("-0.4 rounds to 0") << "-0.4" << 0;
    QTest::newRow("digits then text") << "7abc" << 7;
    QTest::newRow("leading blanks") << "  12" << 12;
    QTest::newRow("trailing blanks") << "12  " << 12;
    QTest::newRow("plus sign") << "+9" << 9;
    QTest::newRow("comma is no decimal point") << "2,7" << 2;
    QTest::newRow("exponent") << "1e1" << 10;
    QTest::newRow("text before digits") << "COM5" << 0;
    QTest::newRow("huge number") << "99999999999999999999" << 0;
}

void TestRules::parsesStoredPort()
{
    QFETCH(QString, text);
    QFETCH(int, port);

    QCOMPARE(ParseStoredPort(text), port);
}

void TestRules::roundsHalfToEven_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<qint64>("rounded");

    QTest::newRow("0.5 to 0") << 0.5 << qint64(0);
    QTest::newRow("1.5 to 2") << 1.5 << qint64(2);
    QTest::newRow("2.5 to 2") << 2.5 << qint64(2);
    QTest::newRow("100.5 to 100") << 100.5 << qint64(100);
    QTest::newRow("101.5 to 102") << 101.5 << qint64(102);
    QTest::newRow("-2.5 to -2") << -2.5 << qint64(-2);
    QTest::newRow("-3.5 to -4") << -3.5 << qint64(-4);
    QTest::newRow("just above a half rounds up") << 2.5000001 << qint64(3);
    QTest::newRow("just below a half rounds down") << 3.4999999 << qint64(3);
}

void TestRules::roundsHalfToEven()
{
    QFETCH(double, value);
    QFETCH(qint64, rounded);

    QCOMPARE(RoundHalfEven(value), rounded);
}

QTEST_GUILESS_MAIN(TestRules)
#include "test_rules.moc"
