#include "core/protocol.h"
#include "core/string_table.h"
#include "support/server_rig.h"
#include "support/tcp_client.h"

#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace {

using Clients = std::vector<std::unique_ptr<TcpClient>>;

const QByteArray TimeoutLine = QByteArrayLiteral("010100\r\n");
const QByteArray NoticeLine = QByteArrayLiteral("610263\r\n");

QByteArray Bytes(const char *hex)
{
    return QByteArray::fromHex(hex);
}

// The device's echo of a command, as its client gets it.
QByteArray EchoLine(const char *hex)
{
    return QByteArray(hex).toUpper() + "\r\n";
}

// Runs `written` at the moment the server writes one given frame to the device. The server logs
// each frame it writes (qx.frames, ">>" and the bytes in hex) right before writing it, which is
// the one place that tells what was done before and what after.
class RequestWriteWatch
{
public:
    RequestWriteWatch(const QByteArray &frame, std::function<void()> written)
    {
        s_line = QStringLiteral(">> ") + QString::fromLatin1(frame.toHex(' ').toUpper());
        s_written = std::move(written);
        QLoggingCategory::setFilterRules(QStringLiteral("qx.frames.debug=true"));
        s_previous = qInstallMessageHandler(&RequestWriteWatch::handle);
    }
    ~RequestWriteWatch()
    {
        qInstallMessageHandler(s_previous);
        QLoggingCategory::setFilterRules(QStringLiteral("qx.frames.debug=false"));
        s_written = nullptr;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        if (qstrcmp(context.category, "qx.frames") != 0) {
            s_previous(type, context, text);
            return;
        }
        if (text == s_line && s_written)
            std::exchange(s_written, nullptr)();
    }

    static inline QString s_line;
    static inline std::function<void()> s_written;
    static inline QtMessageHandler s_previous = nullptr;
};

} // namespace

// Commands through the whole server: client line -> ring -> worker -> device -> answer line,
// with the programming-mode rules, on real loopback sockets and a simulated device.
class TestServerCommands : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void answersCommandLines_data();
    void answersCommandLines();
    void silentDeviceAnswersAfterTimeLimit();
    void answersEachClientInRingOrder();
    void lateAnswerNeverReachesTheOtherClient_data();
    void lateAnswerNeverReachesTheOtherClient();
    void oldAnswerNeverReachesNewClientInSlot_data();
    void oldAnswerNeverReachesNewClientInSlot();

    void programmingCommandClosesOthersAndTellsListeners_data();
    void programmingCommandClosesOthersAndTellsListeners();
    void leaveCommandEndsProgrammingMode();
    void lastClientLeavingEndsProgrammingMode();
    void programmingModeWaitsSixtySecondsForAnswer();

private:
    // Connects `count` command clients into slots 1..count.
    bool connectCommandClients(Clients &clients, int count);
    // Puts the device into programming mode from `client` in `slot` and waits for the answer.
    bool enterProgrammingMode(TcpClient &client);

    std::unique_ptr<ServerRig> m_rig;
};

void TestServerCommands::init()
{
    Common::LangOffset = Common::German;
    m_rig = std::make_unique<ServerRig>();
    QVERIFY2(m_rig->isReady(), qPrintable(m_rig->errorString()));
    QVERIFY(m_rig->start());
    m_rig->device().clearRequests(); // the search's probe
}

void TestServerCommands::cleanup()
{
    m_rig.reset();
}

bool TestServerCommands::connectCommandClients(Clients &clients, int count)
{
    for (int slot = 1; slot <= count; ++slot) {
        clients.push_back(std::make_unique<TcpClient>());
        if (m_rig->connectCommandClient(*clients.back()) != slot)
            return false;
    }
    return true;
}

bool TestServerCommands::enterProgrammingMode(TcpClient &client)
{
    client.send("22150000\r");
    return client.waitForLine() && client.takeLine() == EchoLine("22150000")
        && m_rig->state().ProgMode;
}

void TestServerCommands::answersCommandLines_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("request"); // what reaches the device; empty: nothing
    QTest::addColumn<QByteArray>("answer");

    QTest::newRow("probe answered by the device")
        << QByteArray("F20203F3\r") << Bytes("F20203F3") << QByteArray("6182E3\r\n");
    QTest::newRow("lower case with spaces and a line feed")
        << QByteArray("f2 02 03 f3\r\n") << Bytes("F20203F3") << QByteArray("6182E3\r\n");
    QTest::newRow("longest command, echoed")
        << QByteArray("2601020304050607\r") << Bytes("2601020304050607")
        << EchoLine("2601020304050607");
    QTest::newRow("odd number of digits")
        << QByteArray("F20203F\r") << QByteArray() << QByteArray("6180E1\r\n");
    QTest::newRow("fewer than four digits")
        << QByteArray("F2\r") << QByteArray() << QByteArray("6180E1\r\n");
    QTest::newRow("more than sixteen digits")
        << QByteArray("260102030405060721\r") << QByteArray() << QByteArray("6180E1\r\n");
    QTest::newRow("empty line") << QByteArray("\r") << QByteArray() << QByteArray("6180E1\r\n");
}

void TestServerCommands::answersCommandLines()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);

    TcpClient client;
    QCOMPARE(m_rig->connectCommandClient(client), 1);
    client.send(line);
    QVERIFY(client.waitForLine());
    QCOMPARE(client.takeLine(), answer);
    const QList<QByteArray> expected
        = request.isEmpty() ? QList<QByteArray>() : QList<QByteArray> { request };
    QCOMPARE(m_rig->device().requests(), expected);

    // The connection goes on: the next line is a command like any other.
    client.send("F20203F3\r");
    QVERIFY(client.waitForLine());
    QCOMPARE(client.takeLine(), QByteArray("6182E3\r\n"));
    QVERIFY(!client.isDisconnected());
}

void TestServerCommands::silentDeviceAnswersAfterTimeLimit()
{
    TcpClient client;
    QCOMPARE(m_rig->connectCommandClient(client), 1);
    m_rig->device().setSilent(true);
    client.send("2181A0\r");
    QVERIFY(m_rig->waitForRequests(1));

    m_rig->clock.advanceMs(1999);
    QVERIFY(m_rig->waitForTicks(2));
    QVERIFY(m_rig->state().WaitAnswer);
    QCOMPARE(client.received(), QByteArray());

    m_rig->clock.advanceMs(1);
    QVERIFY(client.waitForLine());
    QCOMPARE(client.takeLine(), TimeoutLine);

    m_rig->clock.advance(1); // the late-answer guard ends
    m_rig->device().setSilent(false);
    client.send("2181A0\r");
    QVERIFY(client.waitForLine());
    QCOMPARE(client.takeLine(), EchoLine("2181A0"));
}

void TestServerCommands::answersEachClientInRingOrder()
{
    const QList<QByteArray> commands = { "2101A2", "2102A3", "2103A4", "2104A5", "2105A6" };
    Clients clients;
    QVERIFY(connectCommandClients(clients, int(commands.size())));

    // The first command holds the device; the others wait in the ring in the order they came.
    m_rig->device().setSilent(true);
    QVERIFY(m_rig->sendCommand(*clients[0], 1, commands[0] + '\r'));
    QVERIFY(m_rig->waitForRequests(1));
    for (int i = commands.size() - 1; i >= 1; --i)
        QVERIFY(m_rig->sendCommand(*clients[i], i + 1, commands[i] + '\r'));

    // Ticks while the transaction waits leave the ring alone.
    QVERIFY(m_rig->waitForTicks(4));
    QCOMPARE(m_rig->device().requests().size(), 1);
    QCOMPARE(m_rig->state().Ring.count(), 4);
    QVERIFY(m_rig->state().T2InUse);

    m_rig->device().setSilent(false);
    m_rig->clock.advance(2);
    QVERIFY(clients[0]->waitForLine());
    QCOMPARE(clients[0]->takeLine(), TimeoutLine);
    m_rig->clock.advance(1); // the late-answer guard ends
    for (int i = 1; i < int(commands.size()); ++i) {
        QVERIFY(clients[i]->waitForLine());
        QCOMPARE(clients[i]->takeLine(), EchoLine(commands[i].constData()));
    }
    // Ring order: the clients sent 5, 4, 3, 2 after 1.
    const QList<QByteArray> order
        = { Bytes("2101A2"), Bytes("2105A6"), Bytes("2104A5"), Bytes("2103A4"), Bytes("2102A3") };
    QCOMPARE(m_rig->device().requests(), order);
    for (const auto &client : clients)
        QCOMPARE(client->takeLine(), QByteArray()); // nothing more than its own answer
}

void TestServerCommands::lateAnswerNeverReachesTheOtherClient_data()
{
    QTest::addColumn<int>("delayMs"); // when the device answers, after the request
    QTest::addColumn<QByteArray>("firstLine"); // what the first client gets

    QTest::newRow("1,600 ms: in time") << 1600 << EchoLine("2181A0");
    QTest::newRow("1,900 ms: in time") << 1900 << EchoLine("2181A0");
    QTest::newRow("2,300 ms: late, dropped") << 2300 << TimeoutLine;
    QTest::newRow("2,900 ms: late, dropped") << 2900 << TimeoutLine;
}

// Two clients, the second's command waiting behind the first's. However late the device
// answers the first, its answer never reaches the second, and every later answer is its own.
void TestServerCommands::lateAnswerNeverReachesTheOtherClient()
{
    QFETCH(int, delayMs);
    QFETCH(QByteArray, firstLine);
    TcpClient first, second;
    QCOMPARE(m_rig->connectCommandClient(first), 1);
    QCOMPARE(m_rig->connectCommandClient(second), 2);
    m_rig->device().clearRequests();
    m_rig->device().setSilent(true);
    first.send("2181A0\r");
    QVERIFY(m_rig->waitForRequests(1));
    QVERIFY(m_rig->sendCommand(second, 2, "42010241\r"));
    QTRY_COMPARE(m_rig->state().Ring.count(), 1);

    m_rig->clock.advanceMs(delayMs);
    QVERIFY(m_rig->waitForTicks(2));
    m_rig->device().setSilent(false);
    m_rig->device().sendRaw(Bytes("FFFE2181A0"));

    QVERIFY(first.waitForLine());
    QCOMPARE(first.takeLine(), firstLine);
    QVERIFY(second.waitForLine());
    QCOMPARE(second.takeLine(), EchoLine("42010241"));
    for (int i = 0; i < 10; ++i) {
        const QByteArray a
            = QByteArray("21") + QByteArray::number(i, 16).rightJustified(2, '0') + "00";
        const QByteArray b
            = QByteArray("2200") + QByteArray::number(i, 16).rightJustified(2, '0') + "11";
        first.send(a + '\r');
        second.send(b + '\r');
        QVERIFY(first.waitForLine());
        QVERIFY(second.waitForLine());
        QCOMPARE(first.takeLine(), EchoLine(a.constData()));
        QCOMPARE(second.takeLine(), EchoLine(b.constData()));
    }
}

void TestServerCommands::oldAnswerNeverReachesNewClientInSlot_data()
{
    QTest::addColumn<bool>("lateAnswer"); // the device answers late; else the time limit passes
    QTest::newRow("answer comes after the new client took the slot") << true;
    QTest::newRow("time limit passes after the new client took the slot") << false;
}

void TestServerCommands::oldAnswerNeverReachesNewClientInSlot()
{
    QFETCH(bool, lateAnswer);
    auto leaving = std::make_unique<TcpClient>();
    QCOMPARE(m_rig->connectCommandClient(*leaving), 1);
    m_rig->device().setSilent(true);
    leaving->send("2181A0\r");
    QVERIFY(m_rig->waitForRequests(1));
    leaving->close();
    QTRY_COMPARE(m_rig->state().CmdInUse[1], 0);

    TcpClient newcomer;
    QCOMPARE(m_rig->connectCommandClient(newcomer), 1);
    newcomer.send("F20203F3\r"); // waits in the ring behind the old command
    QTRY_COMPARE(m_rig->state().Ring.count(), 1);

    m_rig->device().setSilent(false);
    if (lateAnswer)
        m_rig->device().sendRaw(Bytes("FFFE2181A0"));
    else
        m_rig->clock.advance(3); // the time limit and the late-answer guard
    QVERIFY(newcomer.waitForLine());
    QCOMPARE(newcomer.takeLine(), QByteArray("6182E3\r\n"));
    QCOMPARE(newcomer.takeLine(), QByteArray());
}

void TestServerCommands::programmingCommandClosesOthersAndTellsListeners_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<bool>("enters");
    QTest::newRow("22 11 enters") << QByteArray("2211AB00") << true;
    QTest::newRow("22 15 enters") << QByteArray("22150000") << true;
    QTest::newRow("23 12 enters") << QByteArray("2312000000") << true;
    QTest::newRow("23 16 enters") << QByteArray("2316000000") << true;
    QTest::newRow("23 17 enters") << QByteArray("2317000000") << true;
    QTest::newRow("22 14 is ordinary") << QByteArray("22140000") << false;
    QTest::newRow("23 15 is ordinary") << QByteArray("2315000000") << false;
}

void TestServerCommands::programmingCommandClosesOthersAndTellsListeners()
{
    QFETCH(QByteArray, command);
    QFETCH(bool, enters);
    constexpr int Programmer = 3;
    Clients commandClients;
    QVERIFY(connectCommandClients(commandClients, 5));
    TcpClient listenerA, listenerB;
    QCOMPARE(m_rig->connectBroadcastClient(listenerA), 1);
    QCOMPARE(m_rig->connectBroadcastClient(listenerB), 2);

    // What the server had done when it wrote the command to the device: its side of each
    // broadcast connection counts the bytes handed to it (sent or still queued).
    const QList<QTcpSocket *> serverSides
        = m_rig->server.broadcastService().findChildren<QTcpSocket *>();
    QCOMPARE(serverSides.size(), 2);
    auto written = std::make_shared<std::vector<qint64>>(serverSides.size(), 0);
    for (int i = 0; i < serverSides.size(); ++i)
        connect(serverSides[i], &QTcpSocket::bytesWritten, this,
            [written, i](qint64 bytes) { (*written)[i] += bytes; });
    bool progModeThen = false;
    int commandSlotsThen = -1;
    QList<qint64> noticeBytesThen;
    const RequestWriteWatch watch(Bytes("FFFE") + QByteArray::fromHex(command), [&] {
        progModeThen = m_rig->state().ProgMode;
        commandSlotsThen = m_rig->commandSlotsInUse();
        for (int i = 0; i < serverSides.size(); ++i)
            noticeBytesThen << (*written)[i] + serverSides[i]->bytesToWrite();
    });

    commandClients[Programmer - 1]->send(command + '\r');
    QVERIFY(commandClients[Programmer - 1]->waitForLine());
    QCOMPARE(commandClients[Programmer - 1]->takeLine(), EchoLine(command.constData()));

    const qint64 notice = enters ? 2 * NoticeLine.size() : 0;
    QCOMPARE(progModeThen, enters);
    QCOMPARE(commandSlotsThen, enters ? 1 : 5);
    QCOMPARE(noticeBytesThen, QList<qint64>({ notice, notice }));
    QCOMPARE(m_rig->state().ProgMode, enters);
    for (int slot = 1; slot <= 5; ++slot) {
        if (slot == Programmer || !enters)
            QVERIFY(!commandClients[slot - 1]->isDisconnected());
        else
            QVERIFY(commandClients[slot - 1]->waitForDisconnected());
        QCOMPARE(commandClients[slot - 1]->takeLine(), QByteArray());
    }

    // The listeners: the notice twice (when entering), then the device's next message.
    m_rig->device().sendBroadcast(Bytes("61055F"));
    const QByteArray marker = "61055F\r\n";
    const QByteArray expected = enters ? NoticeLine + NoticeLine + marker : marker;
    for (TcpClient *listener : { &listenerA, &listenerB }) {
        QVERIFY(listener->waitForReceived(expected.size()));
        QCOMPARE(listener->received(), expected);
    }

    // Newcomers: command clients are turned away while programming; listeners are told.
    TcpClient commandNewcomer, listenerNewcomer;
    QVERIFY(commandNewcomer.connectTo(m_rig->commandPort()));
    QVERIFY(listenerNewcomer.connectTo(m_rig->broadcastPort()));
    if (enters) {
        QVERIFY(commandNewcomer.waitForDisconnected());
        QCOMPARE(commandNewcomer.received(), Protocol::RefusalText());
        QVERIFY(listenerNewcomer.waitForReceived(2 * NoticeLine.size()));
        QCOMPARE(listenerNewcomer.received(), NoticeLine + NoticeLine);
    } else {
        QTRY_COMPARE(m_rig->commandSlotsInUse(), 6);
        commandNewcomer.send("F20203F3\r");
        QVERIFY(commandNewcomer.waitForLine());
        QCOMPARE(commandNewcomer.takeLine(), QByteArray("6182E3\r\n"));
    }
    QVERIFY(!listenerNewcomer.isDisconnected());
}

void TestServerCommands::leaveCommandEndsProgrammingMode()
{
    TcpClient programmer;
    QCOMPARE(m_rig->connectCommandClient(programmer), 1);
    QVERIFY(enterProgrammingMode(programmer));

    bool progModeThen = true;
    const RequestWriteWatch watch(
        Bytes("FFFE2181A0"), [&] { progModeThen = m_rig->state().ProgMode; });
    programmer.send("2181A0\r");
    QVERIFY(programmer.waitForLine());
    QCOMPARE(programmer.takeLine(), EchoLine("2181A0"));
    QCOMPARE(progModeThen, false);
    QCOMPARE(m_rig->state().ProgMode, false);

    TcpClient newcomer;
    QCOMPARE(m_rig->connectCommandClient(newcomer), 2);
    newcomer.send("F20203F3\r");
    QVERIFY(newcomer.waitForLine());
    QCOMPARE(newcomer.takeLine(), QByteArray("6182E3\r\n"));
}

void TestServerCommands::lastClientLeavingEndsProgrammingMode()
{
    auto programmer = std::make_unique<TcpClient>();
    QCOMPARE(m_rig->connectCommandClient(*programmer), 1);
    QVERIFY(enterProgrammingMode(*programmer));
    m_rig->device().clearRequests();

    bool progModeThen = true;
    const RequestWriteWatch watch(
        Bytes("FFFE2181A0"), [&] { progModeThen = m_rig->state().ProgMode; });
    m_rig->device().setSilent(true);
    programmer->close();
    QVERIFY(m_rig->waitForRequests(1));
    QCOMPARE(m_rig->device().requests().constFirst(), Bytes("2181A0"));
    QCOMPARE(progModeThen, false);

    // A new client is admitted at once; the device's late answer to the server's own
    // command reaches nobody, not even the client in slot 1 now.
    TcpClient newcomer;
    QCOMPARE(m_rig->connectCommandClient(newcomer), 1);
    m_rig->device().setSilent(false);
    m_rig->device().sendRaw(Bytes("FFFE2181A0"));
    newcomer.send("F20203F3\r");
    QVERIFY(newcomer.waitForLine());
    QCOMPARE(newcomer.takeLine(), QByteArray("6182E3\r\n"));

    // Queued once only.
    QVERIFY(m_rig->waitForTicks(4));
    QCOMPARE(m_rig->device().requests(), QList<QByteArray>({ Bytes("2181A0"), Bytes("F20203F3") }));
}

void TestServerCommands::programmingModeWaitsSixtySecondsForAnswer()
{
    TcpClient programmer;
    QCOMPARE(m_rig->connectCommandClient(programmer), 1);
    m_rig->device().setSilent(true);
    programmer.send("22150000\r");
    QVERIFY(m_rig->waitForRequests(1));
    QVERIFY(m_rig->state().ProgMode);

    m_rig->clock.advanceMs(59999);
    QVERIFY(m_rig->waitForTicks(2));
    QVERIFY(m_rig->state().WaitAnswer);
    QCOMPARE(programmer.received(), QByteArray());

    m_rig->clock.advanceMs(1);
    QVERIFY(programmer.waitForLine());
    QCOMPARE(programmer.takeLine(), TimeoutLine);
    QVERIFY(m_rig->state().ProgMode);
    QVERIFY(!programmer.isDisconnected());
}

QTEST_GUILESS_MAIN(TestServerCommands)
#include "test_server_commands.moc"
