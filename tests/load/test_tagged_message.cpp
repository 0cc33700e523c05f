// The messages that prove where they came from: tagged commands and numbered broadcasts.

#include "tagged_message.h"

#include <QtTest>

#include <set>

using TaggedMessage::Tag;

namespace {

bool HasFrameStart(const QByteArray &bytes)
{
    return bytes.contains(QByteArray("\xFF\xFE", 2)) || bytes.contains(QByteArray("\xFF\xFD", 2))
        || bytes.contains('\xFF');
}

quint8 Xor(const QByteArray &bytes)
{
    quint8 check = 0;
    for (const char byte : bytes)
        check ^= quint8(byte);
    return check;
}

} // namespace

class TestTaggedMessage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void commandsCarryTheirTag_data();
    void commandsCarryTheirTag();
    void commandsAreValidDeviceMessages();
    void broadcastsCarryTheirNumber_data();
    void broadcastsCarryTheirNumber();
    void broadcastsUseEveryFrameLength();
    void refusesAlteredMessages_data();
    void refusesAlteredMessages();
    void readsHexLines_data();
    void readsHexLines();
};

void TestTaggedMessage::commandsCarryTheirTag_data()
{
    QTest::addColumn<int>("client");
    QTest::addColumn<quint32>("counter");
    QTest::addColumn<quint32>("counterBack");

    QTest::newRow("first command of client 0") << 0 << 0u << 0u;
    QTest::newRow("highest client id") << TaggedMessage::MaxClient << 5u << 5u;
    QTest::newRow("a counter over one 7-bit group") << 3 << 200u << 200u;
    QTest::newRow("highest counter")
        << 99 << TaggedMessage::CounterModulo - 1 << TaggedMessage::CounterModulo - 1;
    QTest::newRow("the counter wraps") << 7 << TaggedMessage::CounterModulo + 9 << 9u;
}

void TestTaggedMessage::commandsCarryTheirTag()
{
    QFETCH(int, client);
    QFETCH(quint32, counter);
    QFETCH(quint32, counterBack);

    const std::optional<Tag> tag
        = TaggedMessage::parseCommand(TaggedMessage::command({ client, counter }));
    QVERIFY(tag.has_value());
    QCOMPARE(tag->client, client);
    QCOMPARE(tag->counter, counterBack);
}

void TestTaggedMessage::commandsAreValidDeviceMessages()
{
    // Whatever the tag: six bytes (a 12-digit command line), the header's count right, the
    // check byte the XOR of the rest, no FF anywhere, and never a programming-mode command.
    const QList<QByteArray> progMode { QByteArray::fromHex("2211"), QByteArray::fromHex("2215"),
        QByteArray::fromHex("2312"), QByteArray::fromHex("2316"), QByteArray::fromHex("2317"),
        QByteArray::fromHex("2181A0") };
    std::set<QByteArray> seen;
    for (int client = 0; client <= TaggedMessage::MaxClient; client += 9) {
        for (quint32 counter = 0; counter < 300000; counter += 977) {
            const QByteArray message = TaggedMessage::command({ client, counter });
            QCOMPARE(message.size(), 6);
            QCOMPARE(quint8(message.at(0)) & 15, 4);
            QCOMPARE(Xor(message.left(5)), quint8(message.at(5)));
            QVERIFY(!HasFrameStart(message));
            for (const QByteArray &prefix : progMode)
                QVERIFY(!message.startsWith(prefix));
            QVERIFY2(seen.insert(message).second, "two tags made the same command");
        }
    }
}

void TestTaggedMessage::broadcastsCarryTheirNumber_data()
{
    QTest::addColumn<quint32>("sequence");

    QTest::newRow("zero") << 0u;
    QTest::newRow("one") << 1u;
    QTest::newRow("over one 7-bit group") << 128u;
    QTest::newRow("a million") << 1000000u;
    QTest::newRow("highest") << TaggedMessage::SequenceModulo - 1;
}

void TestTaggedMessage::broadcastsCarryTheirNumber()
{
    QFETCH(quint32, sequence);

    const QByteArray message = TaggedMessage::broadcast(sequence);
    QCOMPARE(TaggedMessage::parseBroadcast(message), std::optional<quint32>(sequence));
    QCOMPARE(message.size(), (quint8(message.at(0)) & 15) + 2);
    QCOMPARE(Xor(message.chopped(1)), quint8(message.back()));
    QVERIFY(!HasFrameStart(message));
}

void TestTaggedMessage::broadcastsUseEveryFrameLength()
{
    std::set<int> counts;
    for (quint32 sequence = 0; sequence < 100; ++sequence)
        counts.insert(quint8(TaggedMessage::broadcast(sequence).at(0)) & 15);
    QCOMPARE(counts.size(), size_t(12));
    QCOMPARE(*counts.begin(), 4);
    QCOMPARE(*counts.rbegin(), 15);
}

void TestTaggedMessage::refusesAlteredMessages_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<bool>("broadcast");

    const QByteArray command = TaggedMessage::command({ 5, 77 });
    const QByteArray numbered = TaggedMessage::broadcast(4242);
    QByteArray badCheck = command;
    badCheck[5] = char(badCheck.at(5) ^ 1);
    QByteArray badFiller = numbered;
    badFiller[6] = char(badFiller.at(6) ^ 2);
    badFiller[badFiller.size() - 1] = char(badFiller.back() ^ 2); // check byte still right
    QByteArray highBit = command;
    highBit[1] = char(highBit.at(1) | 0x80);
    highBit[5] = char(highBit.at(5) ^ 0x80);

    QTest::newRow("command with a wrong check byte") << badCheck << false;
    QTest::newRow("command cut short") << command.left(5) << false;
    QTest::newRow("command with a byte above 127") << highBit << false;
    QTest::newRow("the 010100 of no answer") << QByteArray::fromHex("010100") << false;
    QTest::newRow("broadcast cut short") << numbered.chopped(1) << true;
    QTest::newRow("broadcast with other filler") << badFiller << true;
    QTest::newRow("broadcast with a byte more") << numbered + '\0' << true;
    QTest::newRow("the programming-mode notice") << QByteArray::fromHex("610263") << true;
}

void TestTaggedMessage::refusesAlteredMessages()
{
    QFETCH(QByteArray, message);
    QFETCH(bool, broadcast);

    if (broadcast)
        QVERIFY(!TaggedMessage::parseBroadcast(message));
    else
        QVERIFY(!TaggedMessage::parseCommand(message));
}

void TestTaggedMessage::readsHexLines_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("valid");

    QTest::newRow("upper-case digits") << QByteArray("6182E3") << true;
    QTest::newRow("lower-case digits are not what the server writes")
        << QByteArray("6182e3") << false;
    QTest::newRow("odd count") << QByteArray("6182E") << false;
    QTest::newRow("empty line") << QByteArray() << false;
    QTest::newRow("refusal text") << QByteArray("Sorry, I could not accept") << false;
    QTest::newRow("line end left in") << QByteArray("6182E3\r") << false;
}

void TestTaggedMessage::readsHexLines()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, valid);

    const std::optional<QByteArray> message = TaggedMessage::parseHexLine(line);
    QCOMPARE(message.has_value(), valid);
    if (valid)
        QCOMPARE(TaggedMessage::hexLine(*message), line + "\r\n");
}

QTEST_APPLESS_MAIN(TestTaggedMessage)
#include "test_tagged_message.moc"
