#include "broadcast/broadcast_service.h"
#include "core/clock.h"
#include "core/protocol.h"
#include "core/server_state.h"
#include "support/slot_clients.h"
#include "support/tcp_client.h"

#include <QTest>
#include <algorithm>
#include <memory>
#include <vector>

using Clients = std::vector<std::unique_ptr<TcpClient>>;

// The broadcast service over real loopback sockets: slots, refusal, the programming-mode notice
// and the fan-out, observed on the clients and in the slot tables.
class TestBroadcastService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void fillsLowestFreeSlotFirst_data();
    void fillsLowestFreeSlotFirst();
    void refusesClientWhenFull_data();
    void refusesClientWhenFull();
    void greetsNewClient_data();
    void greetsNewClient();
    void SubmitBCWritesOneLineToEverySlot_data();
    void SubmitBCWritesOneLineToEverySlot();
    void discardsClientData();
    void closesSlowReader();

private:
    // Connects a client and returns the slot the service put it into (0: none).
    int connectClient(TcpClient &client);
    int slotsInUse() const;

    ServerState m_state;
    ManualClock m_clock;
    std::unique_ptr<BroadcastService> m_service;
};

void TestBroadcastService::init()
{
    m_state = ServerState();
    m_clock.set(1000);
    m_service = std::make_unique<BroadcastService>(m_state, m_clock);
    QVERIFY(m_service->connections().listen(QHostAddress::LocalHost, 0));
}

void TestBroadcastService::cleanup()
{
    m_service.reset();
}

int TestBroadcastService::connectClient(TcpClient &client)
{
    return ConnectIntoSlot(client, m_service->connections().serverPort(), m_state.BcInUse);
}

int TestBroadcastService::slotsInUse() const
{
    return CountInUse(m_state.BcInUse);
}

void TestBroadcastService::fillsLowestFreeSlotFirst_data()
{
    QTest::addColumn<bool>("serverCloses");
    QTest::newRow("slot freed by the client") << false;
    QTest::newRow("slot freed by the server") << true;
}

void TestBroadcastService::fillsLowestFreeSlotFirst()
{
    QFETCH(bool, serverCloses);
    TcpClient first, second, third;
    QCOMPARE(connectClient(first), 1);
    QCOMPARE(connectClient(second), 2);

    m_clock.advance(5);
    if (serverCloses) {
        m_service->connections().close(1, CloseReason::Idle);
        QCOMPARE(m_state.BcInUse[1], 0); // free at once, before any close event
        QCOMPARE(m_state.BcLastTime[1], 0);
        QVERIFY(first.waitForDisconnected());
    } else {
        first.close();
        QTRY_COMPARE(m_state.BcInUse[1], 0);
    }

    QCOMPARE(connectClient(third), 1);
    QCOMPARE(m_state.BcLastTime[1], m_clock.seconds());
    QCOMPARE(m_state.BcInUse[2], 1);
}

void TestBroadcastService::refusesClientWhenFull_data()
{
    QTest::addColumn<bool>("progMode");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray refusal = Protocol::RefusalText();
    QTest::newRow("refusal text only") << false << refusal;
    QTest::newRow("programming mode: notice, then refusal")
        << true << QByteArray("610263\r\n610263\r\n") + refusal;
}

void TestBroadcastService::refusesClientWhenFull()
{
    QFETCH(bool, progMode);
    QFETCH(QByteArray, expected);
    Clients clients;
    for (int i = 1; i <= m_state.MaxConn; ++i) {
        clients.push_back(std::make_unique<TcpClient>());
        QVERIFY(clients.back()->connectTo(m_service->connections().serverPort()));
    }
    QTRY_COMPARE(slotsInUse(), m_state.MaxConn);
    m_state.ProgMode = progMode;
    const ServerState before = m_state;

    TcpClient refused;
    QVERIFY(refused.connectTo(m_service->connections().serverPort()));
    QVERIFY(refused.waitForDisconnected());
    QCOMPARE(refused.received(), expected);
    QCOMPARE(m_state.BcInUse, before.BcInUse);
    QCOMPARE(m_state.BcLastTime, before.BcLastTime);
}

void TestBroadcastService::greetsNewClient_data()
{
    QTest::addColumn<bool>("progMode");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("programming mode: notice twice before the broadcast")
        << true << QByteArray("610263\r\n610263\r\n010203\r\n");
    QTest::newRow("normal: nothing before the broadcast") << false << QByteArray("010203\r\n");
}

void TestBroadcastService::greetsNewClient()
{
    QFETCH(bool, progMode);
    QFETCH(QByteArray, expected);
    m_state.ProgMode = progMode;
    TcpClient client;
    QCOMPARE(connectClient(client), 1);
    m_service->SubmitBC(QByteArray("\x01\x02\x03"));
    QVERIFY(client.waitForReceived(expected.size()));
    QCOMPARE(client.received(), expected);
}

void TestBroadcastService::SubmitBCWritesOneLineToEverySlot_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("programming-mode notice 97 2 99")
        << QByteArray("\x61\x02\x63") << QByteArray("610263\r\n");
    QTest::newRow("0 15 255 with leading zeros")
        << QByteArray("\x00\x0F\xFF", 3) << QByteArray("000FFF\r\n");
    QTest::newRow("empty message: line end alone") << QByteArray() << QByteArray("\r\n");
}

void TestBroadcastService::SubmitBCWritesOneLineToEverySlot()
{
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, line);
    Clients clients;
    for (int slot = 1; slot <= 3; ++slot) {
        clients.push_back(std::make_unique<TcpClient>());
        QCOMPARE(connectClient(*clients.back()), slot);
    }
    // A slot marked in use whose connection has gone: its write fails and is skipped.
    m_service->connections().close(2, CloseReason::Idle);
    m_state.BcInUse[2] = 1;
    m_clock.advance(30);
    const SlotTimes before = m_state.BcLastTime;

    m_service->SubmitBC(message);
    for (int index : { 0, 2 }) {
        QVERIFY(clients[index]->waitForReceived(line.size()));
        QCOMPARE(clients[index]->received(), line);
    }
    QCOMPARE(m_state.BcLastTime, before); // sending is no activity
    QCOMPARE(m_state.BcInUse[2], 1); // and frees nothing
}

void TestBroadcastService::discardsClientData()
{
    TcpClient client;
    const int slot = connectClient(client);
    m_clock.advance(30);
    client.send("2181A0\r");
    QTRY_COMPARE(m_state.BcLastTime[slot], m_clock.seconds());
    QVERIFY(m_state.Ring.isEmpty());
    m_service->SubmitBC(QByteArray("\x61\x02\x63"));
    QVERIFY(client.waitForLine());
    QCOMPARE(client.received(), QByteArray("610263\r\n")); // no answer came before it
}

void TestBroadcastService::closesSlowReader()
{
    TcpClient reader, idler;
    const int readerSlot = connectClient(reader);
    const int idlerSlot = connectClient(idler);
    idler.stopReading();
    const QByteArray message(32 * 1024, '\xAA'); // a 64 KiB line
    constexpr int MessagesPerRound = 4; // well below the cap, so a reader that keeps up stays
    const qsizetype lineSize = 2 * message.size() + 2;

    qsizetype sent = 0;
    while (m_state.BcInUse[idlerSlot] == 1 && sent < 64 * 1024 * 1024) {
        for (int i = 0; i < MessagesPerRound; ++i)
            m_service->SubmitBC(message);
        sent += MessagesPerRound * lineSize;
        QVERIFY(reader.waitForReceived(sent));
    }
    QCOMPARE(m_state.BcInUse[idlerSlot], 0);
    QCOMPARE(m_state.BcLastTime[idlerSlot], 0);
    QCOMPARE(m_state.BcInUse[readerSlot], 1);
}

QTEST_GUILESS_MAIN(TestBroadcastService)
#include "test_broadcast_service.moc"
