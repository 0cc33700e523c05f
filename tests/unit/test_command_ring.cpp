// The command ring between the command connections and the queue worker.

#include "core/command_ring.h"

#include <QtTest>

namespace {

QueuedCommand Entry(int number)
{
    QByteArray command;
    command.append(static_cast<char>(0x20 + number % 0x40));
    command.append(static_cast<char>(number & 0xFF));
    return { command, 1 + number % 100, 1000 + static_cast<quint64>(number) };
}

void Cycle(CommandRing &ring, int times)
{
    for (int i = 0; i < times; ++i) {
        QVERIFY(ring.put(Entry(i)));
        QVERIFY(ring.take().has_value());
    }
}

} // namespace

class TestCommandRing : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void positionsWrap_data();
    void positionsWrap();
    void entriesComeOutInOrder_data();
    void entriesComeOutInOrder();
    void fullRingRefusesAndKeepsEveryEntry_data();
    void fullRingRefusesAndKeepsEveryEntry();
    void takingFromAnEmptyRingChangesNothing();
};

void TestCommandRing::positionsWrap_data()
{
    QTest::addColumn<int>("cycles"); // entries written and taken before
    QTest::addColumn<int>("waiting"); // entries written after that
    QTest::addColumn<int>("queueIn");
    QTest::addColumn<int>("queueOut");
    QTest::addColumn<bool>("empty");
    QTest::addColumn<bool>("full");

    QTest::newRow("fresh ring is empty at 0") << 0 << 0 << 0 << 0 << true << false;
    QTest::newRow("first write goes to position 1") << 0 << 1 << 1 << 0 << false << false;
    QTest::newRow("100th write goes to position 100") << 99 << 1 << 100 << 99 << false << false;
    QTest::newRow("write after position 100 goes to 0") << 100 << 1 << 0 << 100 << false << false;
    QTest::newRow("and the next one to 1") << 100 << 2 << 1 << 100 << false << false;
    QTest::newRow("taken up to position 0 is empty") << 101 << 0 << 0 << 0 << true << false;
    QTest::newRow("second lap") << 150 << 0 << 49 << 49 << true << false;
    QTest::newRow("100 waiting is full") << 0 << 100 << 100 << 0 << false << true;
    QTest::newRow("99 waiting is not full") << 0 << 99 << 99 << 0 << false << false;
    QTest::newRow("full across the wrap") << 50 << 100 << 49 << 50 << false << true;
}

void TestCommandRing::positionsWrap()
{
    QFETCH(int, cycles);
    QFETCH(int, waiting);
    QFETCH(int, queueIn);
    QFETCH(int, queueOut);
    QFETCH(bool, empty);
    QFETCH(bool, full);

    CommandRing ring;
    Cycle(ring, cycles);
    for (int i = 0; i < waiting; ++i)
        QVERIFY(ring.put(Entry(i)));

    QCOMPARE(ring.queueIn(), queueIn);
    QCOMPARE(ring.queueOut(), queueOut);
    QCOMPARE(ring.count(), waiting);
    QCOMPARE(ring.isEmpty(), empty);
    QCOMPARE(ring.isFull(), full);
}

void TestCommandRing::entriesComeOutInOrder_data()
{
    QTest::addColumn<int>("cycles");
    QTest::addColumn<int>("waiting");

    QTest::newRow("one entry") << 0 << 1;
    QTest::newRow("three entries") << 0 << 3;
    QTest::newRow("entries spanning positions 100 and 0") << 97 << 6;
    QTest::newRow("full ring") << 0 << 100;
    QTest::newRow("full ring across the wrap") << 30 << 100;
}

void TestCommandRing::entriesComeOutInOrder()
{
    QFETCH(int, cycles);
    QFETCH(int, waiting);

    CommandRing ring;
    Cycle(ring, cycles);
    for (int i = 0; i < waiting; ++i)
        QVERIFY(ring.put(Entry(i)));

    for (int i = 0; i < waiting; ++i) {
        const std::optional<QueuedCommand> taken = ring.take();
        QVERIFY(taken.has_value());
        const QueuedCommand expected = Entry(i);
        QCOMPARE(taken->command, expected.command);
        QCOMPARE(taken->slot, expected.slot);
        QCOMPARE(taken->connection, expected.connection);
    }
    QVERIFY(ring.isEmpty());
    QVERIFY(!ring.take().has_value());
}

void TestCommandRing::fullRingRefusesAndKeepsEveryEntry_data()
{
    QTest::addColumn<int>("cycles");

    QTest::newRow("filled from the start") << 0;
    QTest::newRow("filled across the wrap") << 60;
    QTest::newRow("filled ending at position 0") << 1;
}

void TestCommandRing::fullRingRefusesAndKeepsEveryEntry()
{
    QFETCH(int, cycles);

    CommandRing ring;
    Cycle(ring, cycles);
    for (int i = 0; i < 100; ++i)
        QVERIFY(ring.put(Entry(i)));
    const int queueIn = ring.queueIn();
    const int queueOut = ring.queueOut();

    QVERIFY(!ring.put(Entry(500)));
    QVERIFY(!ring.put(Entry(501)));
    QCOMPARE(ring.queueIn(), queueIn);
    QCOMPARE(ring.queueOut(), queueOut);
    QCOMPARE(ring.count(), 100);
    QVERIFY(!ring.isEmpty());

    // Once the worker has taken one, there is room for exactly one more, and
    // the refused entries never appear.
    QCOMPARE(ring.take()->command, Entry(0).command);
    QVERIFY(ring.put(Entry(100)));
    QVERIFY(!ring.put(Entry(502)));
    for (int i = 1; i <= 100; ++i) {
        const std::optional<QueuedCommand> taken = ring.take();
        QVERIFY(taken.has_value());
        QCOMPARE(taken->connection, Entry(i).connection);
    }
    QVERIFY(ring.isEmpty());
}

void TestCommandRing::takingFromAnEmptyRingChangesNothing()
{
    CommandRing ring;
    Cycle(ring, 100);
    QVERIFY(!ring.take().has_value());
    QCOMPARE(ring.queueIn(), 100);
    QCOMPARE(ring.queueOut(), 100);
    QVERIFY(ring.put(Entry(7)));
    QCOMPARE(ring.queueIn(), 0);
    QCOMPARE(ring.take()->connection, Entry(7).connection);
}

QTEST_GUILESS_MAIN(TestCommandRing)
#include "test_command_ring.moc"
