#include "command/command_service.h"
#include "core/clock.h"
#include "core/protocol.h"
#include "core/server_state.h"
#include "support/slot_clients.h"
#include "support/tcp_client.h"

#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <memory>
#include <vector>

using Clients = std::vector<std::unique_ptr<TcpClient>>;

// The command service over real loopback sockets; the worker is played by the test, which takes
// the ring entries and answers them through sendAnswer().
class TestCommandService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void fillsLowestFreeSlotFirst_data();
    void fillsLowestFreeSlotFirst();
    void refusesNewClients_data();
    void refusesNewClients();
    void queuesTheFirstLineOnly_data();
    void queuesTheFirstLineOnly();
    void answersMalformedLinesAtOnce_data();
    void answersMalformedLinesAtOnce();
    void discardsTextWhileLineIsPending();
    void answersOnlyTheConnectionThatSentTheLine_data();
    void answersOnlyTheConnectionThatSentTheLine();
    void startsReusedSlotWithEmptyBuffer();
    void queuesServerCommandWithoutAnswer();
    void answersAtOnceWhenRingIsFull();
    void CloseProgKeepsOnlyItsSlot();
    void keepsLineUpToTheLimit();
    void discardsOverlongLine_data();
    void discardsOverlongLine();
    void closesSlowReader();

private:
    // Connects a client and returns the slot the service put it into (0: none).
    int connectClient(TcpClient &client);
    int slotsInUse() const;
    // Plays the worker: takes the next ring entry and answers it.
    QueuedCommand answerNext(const QByteArray &answerLine);

    ServerState m_state;
    ManualClock m_clock;
    std::unique_ptr<CommandService> m_service;
};

void TestCommandService::init()
{
    m_state = ServerState();
    m_clock.set(1000);
    m_service = std::make_unique<CommandService>(m_state, m_clock);
    QVERIFY(m_service->connections().listen(QHostAddress::LocalHost, 0));
}

void TestCommandService::cleanup()
{
    m_service.reset();
}

int TestCommandService::connectClient(TcpClient &client)
{
    return ConnectIntoSlot(client, m_service->connections().serverPort(), m_state.CmdInUse);
}

int TestCommandService::slotsInUse() const
{
    return CountInUse(m_state.CmdInUse);
}

QueuedCommand TestCommandService::answerNext(const QByteArray &answerLine)
{
    const QueuedCommand entry = m_state.Ring.take().value_or(QueuedCommand());
    m_service->sendAnswer(entry.slot, entry.connection, answerLine);
    return entry;
}

void TestCommandService::fillsLowestFreeSlotFirst_data()
{
    QTest::addColumn<bool>("serverCloses");
    QTest::newRow("slot freed by the client") << false;
    QTest::newRow("slot freed by the server") << true;
}

void TestCommandService::fillsLowestFreeSlotFirst()
{
    QFETCH(bool, serverCloses);
    TcpClient first, second, third;
    QCOMPARE(connectClient(first), 1);
    QCOMPARE(connectClient(second), 2);
    const quint64 firstId = m_service->connections().connectionId(1);

    m_clock.advance(5);
    if (serverCloses) {
        m_service->connections().close(1, CloseReason::Idle);
        QCOMPARE(m_state.CmdInUse[1], 0); // free at once, before any close event
        QCOMPARE(m_state.CmdLastTime[1], 0);
        QVERIFY(first.waitForDisconnected());
    } else {
        first.close();
        QTRY_COMPARE(m_state.CmdInUse[1], 0);
    }

    QCOMPARE(connectClient(third), 1);
    QCOMPARE(m_state.CmdLastTime[1], m_clock.seconds());
    QVERIFY(m_service->connections().connectionId(1) != firstId);
    QCOMPARE(m_state.CmdInUse[2], 1);
}

void TestCommandService::refusesNewClients_data()
{
    QTest::addColumn<int>("openClients");
    QTest::addColumn<bool>("progMode");
    QTest::newRow("all 100 slots in use") << 100 << false;
    QTest::newRow("programming mode with free slots") << 3 << true;
}

void TestCommandService::refusesNewClients()
{
    QFETCH(int, openClients);
    QFETCH(bool, progMode);
    Clients clients;
    for (int i = 1; i <= openClients; ++i) {
        clients.push_back(std::make_unique<TcpClient>());
        QVERIFY(clients.back()->connectTo(m_service->connections().serverPort()));
    }
    QTRY_COMPARE(slotsInUse(), openClients);
    m_state.ProgMode = progMode;
    const ServerState before = m_state;

    TcpClient refused;
    QVERIFY(refused.connectTo(m_service->connections().serverPort()));
    QVERIFY(refused.waitForDisconnected());
    QCOMPARE(refused.received(), Protocol::RefusalText());
    QCOMPARE(m_state.CmdInUse, before.CmdInUse);
    QCOMPARE(m_state.CmdLastTime, before.CmdLastTime);
    QVERIFY(!clients.back()->isDisconnected());
}

void TestCommandService::queuesTheFirstLineOnly_data()
{
    QTest::addColumn<QByteArrayList>("pieces");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("pendingLine");
    QTest::newRow("line in three pieces") << QByteArrayList { "21", "24", "05\r" }
                                          << QByteArray("\x21\x24\x05") << QByteArray("212405\r");
    QTest::newRow("two lines in one piece: only the first")
        << QByteArrayList { "2181A0\r2000\r" } << QByteArray("\x21\x81\xA0")
        << QByteArray("2181A0\r");
    QTest::newRow("lower case with spaces, CR LF: the LF goes")
        << QByteArrayList { "21 81 a0\r\n" } << QByteArray("\x21\x81\xA0")
        << QByteArray("21 81 a0\r");
    QTest::newRow("sixteen digits")
        << QByteArrayList { "0602030405060708\r" } << QByteArray("\6\2\3\4\5\6\7\x08")
        << QByteArray("0602030405060708\r");
}

void TestCommandService::queuesTheFirstLineOnly()
{
    QFETCH(QByteArrayList, pieces);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, pendingLine);
    QSignalSpy queued(m_service.get(), &CommandService::commandQueued);
    TcpClient client;
    const int slot = connectClient(client);
    QVERIFY(slot > 0);

    QByteArray partial;
    for (const QByteArray &piece : pieces.mid(0, pieces.size() - 1)) {
        client.send(piece);
        partial += piece;
        QTRY_COMPARE(m_state.CmdInpStr[slot], partial);
        QVERIFY(m_state.Ring.isEmpty());
    }
    client.send(pieces.last());

    QTRY_COMPARE(m_state.Ring.count(), 1);
    QCOMPARE(queued.count(), 1);
    QCOMPARE(m_state.CmdInpStr[slot], pendingLine);
    const QueuedCommand entry = m_state.Ring.take().value();
    QCOMPARE(entry.command, command);
    QCOMPARE(entry.slot, slot);
    QCOMPARE(entry.connection, m_service->connections().connectionId(slot));
}

void TestCommandService::answersMalformedLinesAtOnce_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("three digits") << QByteArray("2181A\r");
    QTest::newRow("two digits") << QByteArray("21\r");
    QTest::newRow("CR alone") << QByteArray("\r");
    QTest::newRow("eighteen digits") << QByteArray("010203040506070809\r");
    QTest::newRow("0x prefixes make nine digits") << QByteArray("0x21 0x81 0xA0\r");
}

void TestCommandService::answersMalformedLinesAtOnce()
{
    QFETCH(QByteArray, line);
    TcpClient client;
    const int slot = connectClient(client);
    client.send(line);
    QVERIFY(client.waitForLine());
    QCOMPARE(client.takeLine(), QByteArray("6180E1\r\n"));
    QVERIFY(m_state.Ring.isEmpty());

    // The error answer ends the pending line: the next line is taken as usual.
    QTRY_VERIFY(m_state.CmdInpStr[slot].isEmpty());
    client.send("2181A0\r");
    QTRY_COMPARE(m_state.Ring.count(), 1);
}

void TestCommandService::discardsTextWhileLineIsPending()
{
    TcpClient client;
    const int slot = connectClient(client);
    client.send("2181A0\r");
    QTRY_COMPARE(m_state.Ring.count(), 1);

    m_clock.advance(7);
    client.send("2000\r");
    QTRY_COMPARE(m_state.CmdLastTime[slot], m_clock.seconds()); // renewed, though discarded
    QCOMPARE(m_state.CmdInpStr[slot], QByteArray("2181A0\r"));
    QCOMPARE(m_state.Ring.count(), 1);

    answerNext("AB\r\n");
    QVERIFY(client.waitForLine());
    QTRY_VERIFY(m_state.CmdInpStr[slot].isEmpty());

    // The LF of a CR LF sent after the answer starts the next line and is ignored there.
    client.send("\n2000\r");
    QTRY_COMPARE(m_state.Ring.count(), 1);
    QCOMPARE(answerNext("CD\r\n").command, QByteArray::fromHex("2000"));
    QVERIFY(client.waitForReceived(8));
    QCOMPARE(client.received(), QByteArray("AB\r\nCD\r\n")); // nothing for the discarded line
}

void TestCommandService::answersOnlyTheConnectionThatSentTheLine_data()
{
    QTest::addColumn<bool>("senderCloses");
    QTest::addColumn<bool>("newClientTakesSlot");
    QTest::addColumn<bool>("delivered");
    QTest::newRow("sender still connected") << false << false << true;
    QTest::newRow("sender gone") << true << false << false;
    QTest::newRow("slot taken by a new client") << true << true << false;
}

void TestCommandService::answersOnlyTheConnectionThatSentTheLine()
{
    QFETCH(bool, senderCloses);
    QFETCH(bool, newClientTakesSlot);
    QFETCH(bool, delivered);
    TcpClient sender, newcomer;
    const int slot = connectClient(sender);
    sender.send("2181A0\r");
    QTRY_COMPARE(m_state.Ring.count(), 1);
    const QueuedCommand entry = m_state.Ring.take().value();
    if (senderCloses) {
        sender.close();
        QTRY_COMPARE(m_state.CmdInUse[slot], 0);
    }
    if (newClientTakesSlot)
        QCOMPARE(connectClient(newcomer), slot);

    QCOMPARE(m_service->sendAnswer(entry.slot, entry.connection, "AB\r\n"), delivered);
    if (delivered) {
        QVERIFY(sender.waitForLine());
        QCOMPARE(sender.takeLine(), QByteArray("AB\r\n"));
    }
    if (newClientTakesSlot) {
        QVERIFY(m_service->sendAnswer(slot, m_service->connections().connectionId(slot), "CD\r\n"));
        QVERIFY(newcomer.waitForLine());
        QCOMPARE(newcomer.takeLine(), QByteArray("CD\r\n"));
    }
}

void TestCommandService::startsReusedSlotWithEmptyBuffer()
{
    TcpClient first, second;
    const int slot = connectClient(first);
    first.send("2181");
    QTRY_COMPARE(m_state.CmdInpStr[slot], QByteArray("2181"));
    first.close();
    QTRY_COMPARE(m_state.CmdInUse[slot], 0);

    QCOMPARE(connectClient(second), slot);
    second.send("A0\r"); // with the old partial text this would be a valid line
    QVERIFY(second.waitForLine());
    QCOMPARE(second.takeLine(), QByteArray("6180E1\r\n"));
    QVERIFY(m_state.Ring.isEmpty());
}

void TestCommandService::queuesServerCommandWithoutAnswer()
{
    QSignalSpy queued(m_service.get(), &CommandService::commandQueued);
    m_service->QueueCommand("21\r", 0);
    QVERIFY(m_state.Ring.isEmpty());
    m_service->QueueCommand("2181A0", 0);
    QCOMPARE(queued.count(), 1);
    const QueuedCommand entry = m_state.Ring.take().value();
    QCOMPARE(entry.command, QByteArray("\x21\x81\xA0"));
    QCOMPARE(entry.slot, 0);
    QCOMPARE(entry.connection, quint64(0));
}

void TestCommandService::answersAtOnceWhenRingIsFull()
{
    while (!m_state.Ring.isFull())
        m_service->QueueCommand("2181A0\r", 0);
    const int waiting = m_state.Ring.count();
    TcpClient client;
    const int slot = connectClient(client);

    client.send("2000\r");
    QVERIFY(client.waitForLine());
    QCOMPARE(client.takeLine(), QByteArray("010100\r\n"));
    QCOMPARE(m_state.Ring.count(), waiting);
    QCOMPARE(m_state.Ring.take()->command, QByteArray("\x21\x81\xA0")); // nothing overwritten
    QTRY_VERIFY(m_state.CmdInpStr[slot].isEmpty());
}

void TestCommandService::CloseProgKeepsOnlyItsSlot()
{
    Clients clients;
    for (int slot = 1; slot <= 5; ++slot) {
        clients.push_back(std::make_unique<TcpClient>());
        QCOMPARE(connectClient(*clients.back()), slot);
    }
    clients[2]->send("22150000\r");
    QTRY_COMPARE(m_state.Ring.count(), 1);

    m_service->CloseProg(3);
    for (int slot : { 1, 2, 4, 5 }) {
        QCOMPARE(m_state.CmdInUse[slot], 0);
        QCOMPARE(m_state.CmdLastTime[slot], 0);
        QVERIFY(clients[slot - 1]->waitForDisconnected());
    }
    QCOMPARE(m_state.CmdInUse[3], 1);
    answerNext("AB\r\n");
    QVERIFY(clients[2]->waitForLine());
    QCOMPARE(clients[2]->takeLine(), QByteArray("AB\r\n"));
}

void TestCommandService::keepsLineUpToTheLimit()
{
    TcpClient client;
    const int slot = connectClient(client);
    client.send(QByteArray(Protocol::MaxLineLength, 'A'));
    QTRY_COMPARE(m_state.CmdInpStr[slot].size(), Protocol::MaxLineLength);
    client.send("\r");
    QVERIFY(client.waitForLine());
    QCOMPARE(client.takeLine(), QByteArray("6180E1\r\n")); // a line, though too many digits
    QTRY_VERIFY(m_state.CmdInpStr[slot].isEmpty());
    client.send("2181A0\r");
    QTRY_COMPARE(m_state.Ring.count(), 1);
    QCOMPARE(client.received(), QByteArray("6180E1\r\n"));
}

void TestCommandService::discardsOverlongLine_data()
{
    const QByteArray past(Protocol::MaxLineLength + 1, 'A');
    QTest::addColumn<QByteArrayList>("pieces");
    QTest::newRow("one past the limit, its CR later") << QByteArrayList { past, "\r2181A0\r" };
    QTest::newRow("40,000 characters, more text before the CR")
        << QByteArrayList { QByteArray(40000, 'A'), "AAAA", "AA\r2181A0\r" };
    QTest::newRow("40,000 characters, CR and next line in one piece")
        << QByteArrayList { QByteArray(40000, 'A') + "\r2181A0\r" };
}

void TestCommandService::discardsOverlongLine()
{
    QFETCH(QByteArrayList, pieces);
    TcpClient client;
    const int slot = connectClient(client);
    for (const QByteArray &piece : pieces.mid(0, pieces.size() - 1)) {
        client.send(piece);
        QVERIFY(client.waitForLine()); // the error answer comes when the limit is passed
        QVERIFY(m_state.CmdInpStr[slot].isEmpty());
    }
    client.send(pieces.last());

    QTRY_COMPARE(m_state.Ring.count(), 1);
    QVERIFY(client.waitForReceived(8));
    QCOMPARE(m_state.CmdInpStr[slot], QByteArray("2181A0\r")); // the error answer ends no line
    QCOMPARE(answerNext("AB\r\n").command, QByteArray("\x21\x81\xA0"));
    QVERIFY(client.waitForReceived(12));
    QCOMPARE(client.received(), QByteArray("6180E1\r\nAB\r\n")); // one error answer, only one
}

void TestCommandService::closesSlowReader()
{
    TcpClient reader, idler;
    const int readerSlot = connectClient(reader);
    const int idlerSlot = connectClient(idler);
    idler.stopReading();
    const QByteArray chunk = QByteArray(64 * 1024 - 2, 'A') + "\r\n";
    constexpr int ChunksPerRound = 4; // well below the cap, so a reader that keeps up stays

    qsizetype sent = 0;
    while (m_state.CmdInUse[idlerSlot] == 1 && sent < 64 * 1024 * 1024) {
        for (int i = 0; i < ChunksPerRound; ++i) {
            m_service->sendAnswer(
                readerSlot, m_service->connections().connectionId(readerSlot), chunk);
            m_service->sendAnswer(
                idlerSlot, m_service->connections().connectionId(idlerSlot), chunk);
        }
        sent += ChunksPerRound * chunk.size();
        QVERIFY(reader.waitForReceived(sent));
    }
    QCOMPARE(m_state.CmdInUse[idlerSlot], 0);
    QCOMPARE(m_service->connections().connectionId(idlerSlot), quint64(0));
    QCOMPARE(m_state.CmdInUse[readerSlot], 1);
}

QTEST_GUILESS_MAIN(TestCommandService)
#include "test_command_service.moc"
