// The whole server on real loopback sockets and a simulated device, with a manual clock: the
// wiring of commands, answers and broadcasts, programming mode, the connection slots, and
// start, stop and restart. The rules themselves are the unit tests'.

#include "core/hex_line.h"
#include "core/status_looks.h"
#include "core/string_table.h"
#include "support/server_rig.h"
#include "support/tcp_client.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <memory>
#include <vector>

namespace {

using Clients = std::vector<std::unique_ptr<TcpClient>>;

// A line as the client gets it: its hex text and the line end.
QByteArray Line(const QByteArray &hex)
{
    return hex + "\r\n";
}

const QByteArray NoticeLine = Line("610263");
const QByteArray RefusalText = "Sorry, I could not accept your connection request";
const QString Stopped = QStringLiteral("Server gestoppt");
const QString Running = QStringLiteral("Server läuft ....");

} // namespace

class TestServer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup() { m_rig.reset(); }

    void answersEachClientItsOwnCommand();
    void answerToAClosedConnectionNeverReachesTheNextHolderOfItsSlot();
    void programmingModeKeepsOneClientAlone();
    void everyBroadcastArrivesDuringAProgrammingModeWait();
    void pieceOfAFrameNeverBlocksTheLine();
    void deviceRepluggedAfterAPieceIsFoundAgain();
    void slotsIdleClientsAndSlowReaders();
    void startsAndStops();
    void serviceThatCannotListenStopsTheServer();
    void stopDuringASearchStaysStopped_data();
    void stopDuringASearchStaysStopped();
    void lostDeviceIsSearchedAtMostOncePerSecond();
    void startDuringASearchOfTheLostDeviceJoinsIt_data();
    void startDuringASearchOfTheLostDeviceJoinsIt();

private:
    bool connectClients(Clients &clients, int count, bool broadcast = false);

    std::unique_ptr<ServerRig> m_rig;
};

void TestServer::init()
{
    Common::LangOffset = Common::German;
    m_rig = std::make_unique<ServerRig>();
    QVERIFY2(m_rig->isReady(), qPrintable(m_rig->errorString()));
    QVERIFY(m_rig->start());
    m_rig->device().clearRequests();
}

bool TestServer::connectClients(Clients &clients, int count, bool broadcast)
{
    for (int i = 0; i < count; ++i) {
        clients.push_back(std::make_unique<TcpClient>());
        const int slot = broadcast ? m_rig->connectBroadcastClient(*clients.back())
                                   : m_rig->connectCommandClient(*clients.back());
        if (slot == 0)
            return false;
    }
    return true;
}

void TestServer::answersEachClientItsOwnCommand()
{
    Clients clients;
    QVERIFY(connectClients(clients, 3));
    // The first command holds the device; the others wait in the ring in the order they came.
    m_rig->device().setSilent(true);
    QVERIFY(m_rig->sendCommand(*clients[0], 1, "2101A2\r"));
    QVERIFY(m_rig->waitForRequests(1));
    QVERIFY(m_rig->sendCommand(*clients[2], 3, "2103A4\r"));
    QVERIFY(m_rig->sendCommand(*clients[1], 2, "2102A3\r"));
    clients[1]->send("2000\r"); // a second line while one is pending: discarded
    m_rig->device().setSilent(false);
    // An extra answer frame in the same read answers nothing: the next command, written the
    // moment the first answer is read, never takes it for its own.
    m_rig->device().sendRaw(QByteArray::fromHex("FFFE2101A2FFFE010405"));
    for (int i = 0; i < 3; ++i) {
        QVERIFY(clients[i]->waitForLine());
        QCOMPARE(
            clients[i]->takeLine(), Line(QByteArray("210") + char('1' + i) + 'A' + char('2' + i)));
    }
    QCOMPARE(m_rig->device().requests(),
        QList<QByteArray>({ QByteArray::fromHex("2101A2"), QByteArray::fromHex("2103A4"),
            QByteArray::fromHex("2102A3") }));
    // A malformed line is answered at once; the client goes on.
    QCOMPARE(clients[1]->ask("0101\r"), QByteArray("6180E1\r\n"));
    QCOMPARE(clients[1]->ask("2181A0\r"), Line("2181A0"));
    QCOMPARE(clients[1]->takeLine(), QByteArray());
}

void TestServer::answerToAClosedConnectionNeverReachesTheNextHolderOfItsSlot()
{
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
    m_rig->device().sendRaw(QByteArray::fromHex("FFFE2181A0"));
    QVERIFY(newcomer.waitForLine());
    QCOMPARE(newcomer.takeLine(), Line("6182E3"));
    QCOMPARE(newcomer.takeLine(), QByteArray());
}

void TestServer::programmingModeKeepsOneClientAlone()
{
    Clients commanders, listeners;
    QVERIFY(connectClients(commanders, 3));
    QVERIFY(connectClients(listeners, 1, true));
    TcpClient &programmer = *commanders[1];
    bool othersClosedFirst = false;
    connect(&m_rig->device(), &SimulatedDevice::requestReceived, this,
        [&] { othersClosedFirst = m_rig->state().ProgMode && m_rig->commandSlotsInUse() == 1; });
    QCOMPARE(programmer.ask("22150000\r"), Line("22150000"));
    QVERIFY(othersClosedFirst);
    QVERIFY(commanders[0]->waitForDisconnected() && commanders[2]->waitForDisconnected());
    QVERIFY(listeners[0]->waitForReceived(2 * NoticeLine.size()));
    QCOMPARE(listeners[0]->received(), NoticeLine + NoticeLine);

    TcpClient turnedAway, lateListener;
    QVERIFY(turnedAway.connectTo(m_rig->commandPort()));
    QVERIFY(turnedAway.waitForDisconnected());
    QCOMPARE(turnedAway.received(), RefusalText);
    QVERIFY(lateListener.connectTo(m_rig->broadcastPort()));
    QVERIFY(lateListener.waitForReceived(2 * NoticeLine.size()));

    // The programmer leaves: the server takes the device out of programming mode itself.
    programmer.close();
    QVERIFY(m_rig->waitForRequests(2));
    QCOMPARE(m_rig->device().requests().last(), QByteArray::fromHex("2181A0"));
    QVERIFY(!m_rig->state().ProgMode);
    TcpClient newcomer;
    QCOMPARE(m_rig->connectCommandClient(newcomer), 1);
}

// A programming command may wait 60 s for its answer. Meanwhile a burst of 84 kB, arriving
// faster than one frame per loop pass could drain, and the broadcasts
// that come as the wait goes on all reach the listener, whole and in order, as they come.
void TestServer::everyBroadcastArrivesDuringAProgrammingModeWait()
{
    Clients programmers, listeners;
    QVERIFY(connectClients(programmers, 1) && connectClients(listeners, 1, true));
    m_rig->device().setSilent(true);
    programmers[0]->send("22150000\r");
    QVERIFY(m_rig->waitForRequests(1));
    const auto message = [](int n) { return QByteArray("\x62") + char(n >> 8) + char(n) + '\x5A'; };
    QByteArray burst, expected = NoticeLine + NoticeLine;
    for (int n = 0; n < 12000; ++n) {
        burst += QByteArray::fromHex("FFFD") + message(n);
        expected += HexLine(message(n));
    }
    m_rig->device().sendRaw(burst);
    for (int second = 10; second < 60; second += 10) {
        QVERIFY(listeners[0]->waitForReceived(expected.size(), 20000));
        QVERIFY(m_rig->state().WaitAnswer);
        m_rig->clock.advance(10);
        m_rig->device().sendBroadcast(message(second));
        expected += HexLine(message(second));
    }
    QVERIFY(listeners[0]->waitForReceived(expected.size()));
    QCOMPARE(listeners[0]->received(), expected);
    QCOMPARE(programmers[0]->received(), QByteArray()); // broadcasts are the listeners' alone
}

// The device sends the start of a broadcast that announces 15 data bytes, and nothing more.
// Once the line has been quiet for 100 ms, the piece is noise: both clients get their own answers.
void TestServer::pieceOfAFrameNeverBlocksTheLine()
{
    Clients clients;
    QVERIFY(connectClients(clients, 2));
    m_rig->device().sendRaw(QByteArray::fromHex("FFFD6F"));
    QTRY_COMPARE(m_rig->state().InpStr, QByteArray::fromHex("FFFD6F"));
    m_rig->clock.advanceMs(100);
    QTRY_VERIFY(m_rig->state().InpStr.isEmpty());

    clients[0]->send("2181A0\r");
    clients[1]->send("42010241\r");
    QVERIFY(clients[0]->waitForLine() && clients[1]->waitForLine());
    QCOMPARE(clients[0]->takeLine(), Line("2181A0"));
    QCOMPARE(clients[1]->takeLine(), Line("42010241"));
}

// A piece left by a device that was unplugged mid-frame never hides its probe answer once it is
// plugged in again.
void TestServer::deviceRepluggedAfterAPieceIsFoundAgain()
{
    Clients clients;
    QVERIFY(connectClients(clients, 1));
    m_rig->clock.advance(1); // the next search may start at once
    SimulatedDevice &device = m_rig->device();
    device.sendRaw(QByteArray::fromHex("FFFD6F0102"));
    QTRY_COMPARE(m_rig->state().InpStr.size(), 5);
    device.unplug();
    QTRY_COMPARE(m_rig->server.phase(), ServerPhase::Searching);
    QVERIFY(device.plug());
    m_rig->clock.advance(1);
    QTRY_COMPARE(m_rig->server.phase(), ServerPhase::Running);
    QCOMPARE(clients[0]->ask("2181A0\r"), Line("2181A0"));
}

void TestServer::slotsIdleClientsAndSlowReaders()
{
    // 100 command slots; the next client is turned away.
    Clients clients;
    QVERIFY(connectClients(clients, 100));
    TcpClient refused;
    QVERIFY(refused.connectTo(m_rig->commandPort()));
    QVERIFY(refused.waitForDisconnected());
    QCOMPARE(refused.received(), RefusalText);
    QCOMPARE(m_rig->commandSlotsInUse(), 100);
    clients.clear();
    QTRY_COMPARE(m_rig->commandSlotsInUse(), 0);

    // Idle for more than 60 s: closed, on either service; activity keeps a client.
    Clients idle, active, silentListener;
    QVERIFY(connectClients(idle, 1) && connectClients(active, 1));
    QVERIFY(connectClients(silentListener, 1, true));
    m_rig->clock.advance(30);
    active[0]->send("x");
    QTRY_VERIFY(m_rig->state().CmdLastTime[2] == m_rig->clock.seconds());
    m_rig->clock.advance(31);
    QVERIFY(idle[0]->waitForDisconnected() && silentListener[0]->waitForDisconnected());
    QVERIFY(!active[0]->isDisconnected());

    // A listener that never reads is closed once 1 MiB waits for it; one that reads stays.
    Clients listeners;
    QVERIFY(connectClients(listeners, 2, true));
    listeners[1]->stopReading();
    const QByteArray message(32 * 1024, '\xAA'); // a 64 KiB line
    qsizetype sent = 0;
    while (m_rig->broadcastSlotsInUse() == 2 && sent < 64 * 1024 * 1024) {
        m_rig->server.broadcastService().SubmitBC(message);
        sent += 2 * message.size() + 2;
        QVERIFY(listeners[0]->waitForReceived(sent));
    }
    QCOMPARE(m_rig->broadcastSlotsInUse(), 1);
    QVERIFY(!listeners[0]->isDisconnected());
}

void TestServer::startsAndStops()
{
    QCOMPARE(m_rig->presentation.looks.size(), 2);
    QCOMPARE(m_rig->presentation.looks[0].caption, QStringLiteral("Suche Interface ..."));
    QCOMPARE(m_rig->presentation.looks[1].caption, Running);
    QCOMPARE(m_rig->server.phase(), ServerPhase::Running);
    Clients commanders, listeners;
    QVERIFY(connectClients(commanders, 3) && connectClients(listeners, 2, true));
    QVERIFY(m_rig->waitForTicks(1));
    QCOMPARE(m_rig->presentation.commandCount, 3);

    // Start while running: searched again, listeners and clients stay.
    QVERIFY(m_rig->start());
    QCOMPARE(commanders[0]->ask("2000\r"), Line("2000"));

    m_rig->server.MSStopServer_Click();
    for (const Clients *clients : { &commanders, &listeners })
        for (const auto &client : *clients)
            QVERIFY(client->waitForDisconnected());
    QCOMPARE(m_rig->presentation.looks.last().caption, Stopped);
    QVERIFY(!m_rig->server.serialLink().isOpen());
    QCOMPARE(m_rig->server.phase(), ServerPhase::Stopped);
    TcpClient late;
    QVERIFY(!late.connectTo(m_rig->commandPort(), 500));

    // Without its device: the message, then the stopped look; a stopped server does not search.
    // The message speaks the window's language, the log English.
    m_rig->device().unplug();
    QTest::ignoreMessage(QtWarningMsg, "No interface QX-USB found !");
    m_rig->beginStart();
    QTRY_VERIFY(m_rig->presentation.messageOpen());
    QCOMPARE(m_rig->presentation.messages.last(), "Kein Interface QX-USB gefunden !");
    m_rig->presentation.closeMessage();
    QCOMPARE(m_rig->presentation.looks.last().caption, Stopped);
    m_rig->clock.advance(5);
    QVERIFY(m_rig->waitForTicks(3));
    QCOMPARE(m_rig->presentation.looks.last().caption, Stopped);
}

// A server that serves nobody must not look as if it ran.
void TestServer::serviceThatCannotListenStopsTheServer()
{
    QTcpServer other; // on the broadcast port: the command service, which listens first, closes
    QVERIFY(other.listen(QHostAddress::LocalHost, 0));
    const quint16 taken = other.serverPort();
    m_rig = std::make_unique<ServerRig>(1, ListenConfig { QHostAddress::LocalHost, 0, taken });
    QSignalSpy cannotServe(&m_rig->server, &Server::cannotServe);

    m_rig->beginStart();
    QTRY_VERIFY(m_rig->presentation.messageOpen());
    const QString text = m_rig->presentation.messages.last();
    QVERIFY2(
        text.startsWith(QStringLiteral("Broadcast service cannot listen on port %1: ").arg(taken)),
        qPrintable(text));
    QCOMPARE(cannotServe.count(), 1);
    QVERIFY(!m_rig->server.commandService().connections().isListening());
    QVERIFY(!m_rig->server.broadcastService().connections().isListening());
    QVERIFY(!m_rig->server.serialLink().isOpen());
    m_rig->presentation.closeMessage();
    QCOMPARE(m_rig->presentation.looks.last().caption, Stopped);
    QCOMPARE(m_rig->server.phase(), ServerPhase::Stopped);
}

void TestServer::stopDuringASearchStaysStopped_data()
{
    QTest::addColumn<int>("deviceNumber"); // 0: no number names the device
    QTest::addColumn<bool>("startAgain"); // before the cancelled search has ended
    QTest::newRow("device present") << 1 << false;
    QTest::newRow("device absent: the search would go on to port 30, no message") << 0 << false;
    QTest::newRow("started again at once: a search of its own finds the device") << 1 << true;
}

void TestServer::stopDuringASearchStaysStopped()
{
    QFETCH(int, deviceNumber);
    QFETCH(bool, startAgain);
    m_rig = std::make_unique<ServerRig>(deviceNumber);
    m_rig->beginStart(); // the search runs from the event loop
    m_rig->server.MSStopServer_Click();
    QVERIFY(m_rig->startEnded());
    if (startAgain)
        QVERIFY(m_rig->start());
    QVERIFY(m_rig->waitForTicks(2));
    QVERIFY(m_rig->presentation.messages.isEmpty());
    QCOMPARE(m_rig->presentation.captions.last(), startAgain ? Running : Stopped);
    QCOMPARE(m_rig->server.commandService().connections().isListening(), startAgain);
    QCOMPARE(m_rig->server.serialLink().isOpen(), startAgain);
}

// A lost device is searched for again, at most once a second however fast a search fails;
// connected clients stay and are served again once it answers.
void TestServer::lostDeviceIsSearchedAtMostOncePerSecond()
{
    Clients commanders, listeners;
    QVERIFY(connectClients(commanders, 1) && connectClients(listeners, 1, true));
    SimulatedDevice &device = m_rig->device();
    device.setSilent(true);
    connect(&device, &SimulatedDevice::requestReceived, this,
        [&device] { device.sendRaw(QByteArray::fromHex("FFFE618200")); }); // a wrong probe answer
    device.unplug();
    QVERIFY(device.plug());
    QTRY_VERIFY(!m_rig->server.serialLink().isOpen());
    for (int quarter = 1; quarter <= 12; ++quarter) {
        m_rig->clock.advanceMs(250);
        QVERIFY(m_rig->waitForTicks(2));
        QTRY_VERIFY(!m_rig->state().T2InUse); // a search that began has ended
        // Each search probes the stored port, then the ports in turn: port 1 twice.
        QCOMPARE(device.requests().size(), 2 * (quarter / 4));
    }
    QCOMPARE(m_rig->server.phase(), ServerPhase::Searching);
    QCOMPARE(commanders[0]->ask("2181A0\r"), Line("010100")); // no device: the time-out answer

    device.disconnect(this);
    device.setSilent(false);
    m_rig->clock.advance(1);
    QTRY_COMPARE(m_rig->server.phase(), ServerPhase::Running);
    QCOMPARE(commanders[0]->ask("F20203F3\r"), Line("6182E3"));
    device.sendBroadcast(QByteArray::fromHex("610263"));
    QVERIFY(listeners[0]->waitForLine());
}

void TestServer::startDuringASearchOfTheLostDeviceJoinsIt_data()
{
    QTest::addColumn<QString>("device"); // when it answers again
    QTest::newRow("device stays away: the message, the stopped look, running once it is back")
        << "after the message";
    QTest::newRow("device back while the message waits: the running look stays")
        << "while the message waits";
    QTest::newRow("device answers the joined search: the running look, no message")
        << "during the search";
}

// A start chosen while the lost device is searched for waits for that search and reports its
// outcome as if it had run it; meanwhile the searches for the lost device go on.
void TestServer::startDuringASearchOfTheLostDeviceJoinsIt()
{
    QFETCH(QString, device);
    SimulatedDevice &sim = m_rig->device();
    RecordingPresentation &shown = m_rig->presentation;
    // The probes of a silent device wait until the clock ends them.
    const auto clockRunsUntil = [this](const std::function<bool()> &condition) {
        return QTest::qWaitFor(
            [&] {
                m_rig->clock.advanceMs(100);
                return condition();
            },
            ServerRig::WaitMs);
    };
    const auto running = [this] { return m_rig->server.phase() == ServerPhase::Running; };
    sim.setSilent(true);
    sim.unplug();
    QVERIFY(sim.plug());
    QTRY_VERIFY(!m_rig->server.serialLink().isOpen());
    m_rig->clock.advance(1);
    QTRY_COMPARE(sim.requests().size(), 1); // the search of the lost device waits

    m_rig->beginStart();
    QCOMPARE(shown.captions.last(), "Suche Interface ...");
    QVERIFY(!m_rig->startEnded() && !shown.messageOpen());
    sim.setSilent(device != "during the search");
    QVERIFY(clockRunsUntil([&] { return m_rig->startEnded() || shown.messageOpen(); }));
    if (device != "during the search") {
        QCOMPARE(shown.messages, QStringList { "Kein Interface QX-USB gefunden !" });
        const qsizetype probes = sim.requests().size();
        QVERIFY(clockRunsUntil([&] { return sim.requests().size() > probes; }));
        if (device == "while the message waits") {
            sim.setSilent(false);
            QVERIFY(clockRunsUntil(running));
        }
        shown.closeMessage();
        QVERIFY(m_rig->startEnded());
        if (device == "after the message") {
            QCOMPARE(shown.looks.last().caption, "Server gestoppt");
            sim.setSilent(false);
            QVERIFY(clockRunsUntil(running));
        }
    }
    QCOMPARE(shown.messages.size(), int(device != "during the search"));
    QCOMPARE(shown.looks.last().caption, "Server läuft ....");
    QVERIFY(running());
}

QTEST_GUILESS_MAIN(TestServer)
#include "test_server.moc"
