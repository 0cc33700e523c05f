#include "core/string_table.h"
#include "support/server_rig.h"
#include "support/tcp_client.h"

#include <QTest>
#include <memory>

namespace {

QByteArray Bytes(const char *hex)
{
    return QByteArray::fromHex(hex);
}

// The line every listener gets for a device message.
QByteArray Line(const QByteArray &message)
{
    return message.toHex().toUpper() + "\r\n";
}

enum class Service
{
    Command,
    Broadcast
};

} // namespace

Q_DECLARE_METATYPE(Service)

// Device messages through the whole server to broadcast clients, and the idle rule of both
// services, on real loopback sockets, a simulated device and a manual clock.
class TestServerBroadcasts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void fansOutDeviceMessages_data();
    void fansOutDeviceMessages();
    void burstArrivesInOrder();
    void frameSplitIntoPieces_data();
    void frameSplitIntoPieces();
    void broadcastsFlowWhileCommandWaits_data();
    void broadcastsFlowWhileCommandWaits();
    void everyBroadcastArrivesDuringProgrammingModeWait();

    void closesIdleConnections_data();
    void closesIdleConnections();

private:
    // Sends a last message and waits until `listener` has it: everything sent before has
    // then arrived too.
    bool waitForMarker(TcpClient &listener);

    std::unique_ptr<ServerRig> m_rig;
};

namespace {

const QByteArray MarkerMessage = Bytes("6105AA");

} // namespace

void TestServerBroadcasts::init()
{
    Common::LangOffset = Common::German;
    m_rig = std::make_unique<ServerRig>();
    QVERIFY2(m_rig->isReady(), qPrintable(m_rig->errorString()));
    QVERIFY(m_rig->start());
}

void TestServerBroadcasts::cleanup()
{
    m_rig.reset();
}

bool TestServerBroadcasts::waitForMarker(TcpClient &listener)
{
    m_rig->device().sendBroadcast(MarkerMessage);
    return QTest::qWaitFor([&] { return listener.received().endsWith(Line(MarkerMessage)); });
}

void TestServerBroadcasts::fansOutDeviceMessages_data()
{
    QTest::addColumn<QByteArray>("serial"); // what the device sends, as it stands
    QTest::addColumn<QByteArray>("lines"); // what every listener gets

    QTest::newRow("one message") << Bytes("FFFD610263") << Line(Bytes("610263"));
    QTest::newRow("longest message") << Bytes("FFFD6F0102030405060708090A0B0C0D0E0F10")
                                     << Line(Bytes("6F0102030405060708090A0B0C0D0E0F10"));
    QTest::newRow("garbage before a frame")
        << Bytes("010203FFFD620A0B0C") << Line(Bytes("620A0B0C"));
    QTest::newRow("garbage holding FF before a frame")
        << Bytes("01FF02FFFD610263") << Line(Bytes("610263"));
    QTest::newRow("two frames in one piece, in order")
        << Bytes("FFFD610263FFFD620A0B0C") << Line(Bytes("610263")) + Line(Bytes("620A0B0C"));
    QTest::newRow("stray answer frame is no broadcast")
        << Bytes("FFFE2181A0FFFD610263") << Line(Bytes("610263"));
}

void TestServerBroadcasts::fansOutDeviceMessages()
{
    QFETCH(QByteArray, serial);
    QFETCH(QByteArray, lines);
    TcpClient listenerA, listenerB;
    QCOMPARE(m_rig->connectBroadcastClient(listenerA), 1);
    QCOMPARE(m_rig->connectBroadcastClient(listenerB), 2);

    m_rig->device().sendRaw(serial);
    for (TcpClient *listener : { &listenerA, &listenerB }) {
        QVERIFY(waitForMarker(*listener));
        QCOMPARE(listener->received(), lines + Line(MarkerMessage));
    }
}

void TestServerBroadcasts::burstArrivesInOrder()
{
    constexpr int Count = 200;
    TcpClient listenerA, listenerB;
    QCOMPARE(m_rig->connectBroadcastClient(listenerA), 1);
    QCOMPARE(m_rig->connectBroadcastClient(listenerB), 2);

    QByteArray expected;
    for (int i = 0; i < Count; ++i) {
        const QByteArray message = QByteArray("\x62") + char(i >> 8) + char(i & 0xFF) + '\x5A';
        m_rig->device().sendBroadcast(message);
        expected += Line(message);
    }
    for (TcpClient *listener : { &listenerA, &listenerB }) {
        QVERIFY(listener->waitForReceived(expected.size()));
        QCOMPARE(listener->received(), expected);
    }
}

void TestServerBroadcasts::frameSplitIntoPieces_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    const QByteArray frame = Bytes("FFFD62A1B2C3");
    QList<QByteArray> bytes;
    for (char byte : frame)
        bytes << QByteArray(1, byte);
    QTest::newRow("byte by byte") << bytes;
    QTest::newRow("frame start alone") << QList<QByteArray> { frame.left(2), frame.mid(2) };
    QTest::newRow("check byte missing") << QList<QByteArray> { frame.chopped(1), frame.right(1) };
}

void TestServerBroadcasts::frameSplitIntoPieces()
{
    QFETCH(QList<QByteArray>, pieces);
    TcpClient listener;
    QCOMPARE(m_rig->connectBroadcastClient(listener), 1);

    QByteArray sent;
    for (int i = 0; i < pieces.size() - 1; ++i) {
        m_rig->device().sendRaw(pieces[i]);
        sent += pieces[i];
        // The piece has arrived and stays until the frame is whole.
        QTRY_COMPARE(m_rig->state().InpStr, sent);
        QVERIFY(m_rig->waitForTicks(2));
        QCOMPARE(m_rig->state().InpStr, sent);
    }
    m_rig->device().sendRaw(pieces.constLast());
    QVERIFY(waitForMarker(listener));
    QCOMPARE(listener.received(), Line(Bytes("62A1B2C3")) + Line(MarkerMessage));
    QCOMPARE(m_rig->state().InpStr, QByteArray());
}

void TestServerBroadcasts::broadcastsFlowWhileCommandWaits_data()
{
    QTest::addColumn<QByteArray>("answer"); // the device's answer; empty: none, time limit
    QTest::addColumn<QByteArray>("answerLine");
    QTest::newRow("answer comes after the message")
        << Bytes("FFFE2181A0") << QByteArray("2181A0\r\n");
    QTest::newRow("no answer, time limit") << QByteArray() << QByteArray("010100\r\n");
}

// A broadcast whose data holds FF FE arrives while a command waits: it reaches the listeners at
// once, whole, and the asker still gets its own answer.
void TestServerBroadcasts::broadcastsFlowWhileCommandWaits()
{
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, answerLine);
    TcpClient commandClient, listener;
    QCOMPARE(m_rig->connectCommandClient(commandClient), 1);
    QCOMPARE(m_rig->connectBroadcastClient(listener), 1);
    m_rig->device().clearRequests();
    m_rig->device().setSilent(true);
    commandClient.send("2181A0\r");
    QVERIFY(m_rig->waitForRequests(1));

    const QByteArray message = Bytes("43FFFE5A18");
    m_rig->device().sendBroadcast(message);
    QVERIFY(listener.waitForLine());
    QCOMPARE(listener.takeLine(), Line(message));
    QVERIFY(m_rig->state().WaitAnswer);
    QCOMPARE(commandClient.received(), QByteArray());

    if (answer.isEmpty())
        m_rig->clock.advance(2);
    else
        m_rig->device().sendRaw(answer);
    QVERIFY(commandClient.waitForLine());
    QCOMPARE(commandClient.takeLine(), answerLine);
    QCOMPARE(m_rig->state().InpStr, QByteArray());
}

// A programming command may wait up to 60 s for its answer. A stream of broadcasts meanwhile,
// far more than the receive buffer holds, reaches the listener whole and in order as it comes.
void TestServerBroadcasts::everyBroadcastArrivesDuringProgrammingModeWait()
{
    constexpr int Seconds = 20;
    constexpr int PerSecond = 1000;
    TcpClient programmer, listener;
    QCOMPARE(m_rig->connectCommandClient(programmer), 1);
    QCOMPARE(m_rig->connectBroadcastClient(listener), 1);
    m_rig->device().clearRequests();
    m_rig->device().setSilent(true);
    programmer.send("22150000\r");
    QVERIFY(m_rig->waitForRequests(1));
    const QByteArray notices = Line(Bytes("610263")).repeated(2);
    QVERIFY(listener.waitForReceived(notices.size()));

    QByteArray expected = notices;
    for (int second = 0; second < Seconds; ++second) {
        for (int i = 0; i < PerSecond; ++i) {
            const int n = second * PerSecond + i;
            const char high = char(n >> 8), low = char(n & 0xFF);
            const QByteArray message = QByteArray(1, '\x02') + high + low + char(2 ^ high ^ low);
            m_rig->device().sendBroadcast(message);
            expected += Line(message);
        }
        QVERIFY(listener.waitForReceived(expected.size()));
        QVERIFY(m_rig->state().WaitAnswer);
        m_rig->clock.advance(1);
    }
    QCOMPARE(listener.received(), expected);
    QCOMPARE(programmer.received(), QByteArray());
}

void TestServerBroadcasts::closesIdleConnections_data()
{
    QTest::addColumn<Service>("service");
    QTest::addColumn<int>("activityAfter"); // seconds; -1: the client sends nothing
    QTest::addColumn<bool>("broadcastMeanwhile"); // a message reaches the client at 30 s

    QTest::newRow("command client") << Service::Command << -1 << false;
    QTest::newRow("broadcast client") << Service::Broadcast << -1 << false;
    QTest::newRow("command client's line renews") << Service::Command << 30 << false;
    QTest::newRow("broadcast client's text renews") << Service::Broadcast << 30 << false;
    QTest::newRow("a broadcast sent to the client is no activity")
        << Service::Broadcast << -1 << true;
}

void TestServerBroadcasts::closesIdleConnections()
{
    QFETCH(Service, service);
    QFETCH(int, activityAfter);
    QFETCH(bool, broadcastMeanwhile);
    const bool command = service == Service::Command;
    const SlotTimes &lastTimes = command ? m_rig->state().CmdLastTime : m_rig->state().BcLastTime;
    const SlotFlags &inUse = command ? m_rig->state().CmdInUse : m_rig->state().BcInUse;

    TcpClient client;
    QCOMPARE(
        command ? m_rig->connectCommandClient(client) : m_rig->connectBroadcastClient(client), 1);
    qint64 lastActivity = m_rig->clock.seconds();
    if (broadcastMeanwhile) {
        m_rig->clock.advance(30);
        m_rig->device().sendBroadcast(Bytes("610263"));
        QVERIFY(client.waitForLine());
    }
    if (activityAfter >= 0) {
        m_rig->clock.set(lastActivity + activityAfter);
        client.send(command ? "F20203F3\r" : "keep me");
        lastActivity = m_rig->clock.seconds();
        QTRY_COMPARE(lastTimes[1], lastActivity);
        if (command)
            QVERIFY(client.waitForLine());
    }

    m_rig->clock.set(lastActivity + 60);
    QVERIFY(m_rig->waitForTicks(2));
    QCOMPARE(inUse[1], 1);
    QVERIFY(!client.isDisconnected());
    QCOMPARE(command ? m_rig->presentation.commandCount : m_rig->presentation.broadcastCount, 1);

    m_rig->clock.set(lastActivity + 61);
    QVERIFY(client.waitForDisconnected());
    QCOMPARE(inUse[1], 0);
    QCOMPARE(lastTimes[1], 0);
    QVERIFY(m_rig->waitForTicks(1));
    QCOMPARE(m_rig->presentation.commandCount, 0);
    QCOMPARE(m_rig->presentation.broadcastCount, 0);
}

QTEST_GUILESS_MAIN(TestServerBroadcasts)
#include "test_server_broadcasts.moc"
