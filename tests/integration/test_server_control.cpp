#include "core/string_table.h"
#include "support/server_rig.h"
#include "support/tcp_client.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <memory>
#include <vector>

namespace {

// Rows for a test that runs once in each language.
void AddLanguageRows()
{
    QTest::addColumn<int>("langOffset");
    QTest::newRow("German") << int(Common::German);
    QTest::newRow("English") << int(Common::English);
}

using Clients = std::vector<std::unique_ptr<TcpClient>>;

// The status label's looks as the user sees them, in both languages.
struct Looks
{
    StatusLook searching;
    StatusLook running;
    StatusLook stopped;
    QString noInterface;
};

Looks LooksIn(int langOffset)
{
    if (langOffset == Common::English)
        return { { QStringLiteral("Searching interface ..."), 0x00FFFF, 0 },
            { QStringLiteral("Server is running ...."), 0x00C000, 0x80000014 },
            { QStringLiteral("Server is not running"), 0x0000FF, 0x80000014 },
            QStringLiteral("No interface QX-USB found !") };
    return { { QStringLiteral("Suche Interface ..."), 0x00FFFF, 0 },
        { QStringLiteral("Server läuft ...."), 0x00C000, 0x80000014 },
        { QStringLiteral("Server gestoppt"), 0x0000FF, 0x80000014 },
        QStringLiteral("Kein Interface QX-USB gefunden !") };
}

bool SameLook(const StatusLook &a, const StatusLook &b)
{
    return a.caption == b.caption && a.backColor == b.backColor && a.foreColor == b.foreColor;
}

QString Describe(const StatusLook &look)
{
    return QStringLiteral("\"%1\" on %2, text %3")
        .arg(look.caption)
        .arg(look.backColor, 6, 16, QLatin1Char('0'))
        .arg(look.foreColor, 8, 16, QLatin1Char('0'));
}

// Compares a look and says both when they differ.
#define COMPARE_LOOK(actual, expected)                                                             \
    QVERIFY2(SameLook(actual, expected),                                                           \
        qPrintable(Describe(actual) + QStringLiteral(" instead of ") + Describe(expected)))

// Whether a connection to `port` on the loopback is refused.
bool IsRefused(quint16 port)
{
    QTcpSocket socket;
    QSignalSpy errors(&socket, &QAbstractSocket::errorOccurred);
    socket.connectToHost(QHostAddress::LocalHost, port);
    return (errors.size() > 0 || errors.wait(TcpClient::DefaultTimeoutMs))
        && socket.error() == QAbstractSocket::ConnectionRefusedError;
}

} // namespace

// Starting, stopping and restarting the whole server, with what its user sees: the status
// looks, the buttons, the message, the connection counts.
class TestServerControl : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();

    void startShowsSearchingThenRunning_data();
    void startShowsSearchingThenRunning();
    void startWithoutDevice_data();
    void startWithoutDevice();
    void stopClosesEverything();
    void stopWhileStopped_data();
    void stopWhileStopped();
    void startWhileRunningKeepsConnections();
    void failedStartWhileRunningKeepsServing();
    void stopDuringStartSearchStaysStopped_data();
    void stopDuringStartSearchStaysStopped();
    void lostDeviceIsFoundAgain();
    void serviceThatCannotListenStopsTheServer_data();
    void serviceThatCannotListenStopsTheServer();
    void searchesAtMostOncePerSecond();

private:
    bool makeRig(int deviceNumber = 1);
    bool connectClients(Clients &commandClients, int commands, Clients &listeners, int broadcasts);

    std::unique_ptr<ServerRig> m_rig;
};

void TestServerControl::cleanup()
{
    m_rig.reset();
    Common::LangOffset = Common::German;
}

bool TestServerControl::makeRig(int deviceNumber)
{
    m_rig = std::make_unique<ServerRig>(deviceNumber);
    return m_rig->isReady();
}

bool TestServerControl::connectClients(
    Clients &commandClients, int commands, Clients &listeners, int broadcasts)
{
    for (int i = 1; i <= commands; ++i) {
        commandClients.push_back(std::make_unique<TcpClient>());
        if (m_rig->connectCommandClient(*commandClients.back()) != i)
            return false;
    }
    for (int i = 1; i <= broadcasts; ++i) {
        listeners.push_back(std::make_unique<TcpClient>());
        if (m_rig->connectBroadcastClient(*listeners.back()) != i)
            return false;
    }
    return true;
}

void TestServerControl::startShowsSearchingThenRunning_data()
{
    AddLanguageRows();
}

void TestServerControl::startShowsSearchingThenRunning()
{
    QFETCH(int, langOffset);
    Common::LangOffset = langOffset;
    const Looks looks = LooksIn(langOffset);
    QVERIFY(makeRig());

    QVERIFY(m_rig->start());
    QCOMPARE(m_rig->presentation.looks.size(), 2);
    COMPARE_LOOK(m_rig->presentation.looks[0], looks.searching);
    COMPARE_LOOK(m_rig->presentation.looks[1], looks.running);
    QCOMPARE(m_rig->presentation.startEnabled, false);
    QCOMPARE(m_rig->presentation.stopEnabled, true);
    QVERIFY(m_rig->presentation.messages.isEmpty());

    // Both services take clients, and the counts show them.
    Clients commandClients, listeners;
    QVERIFY(connectClients(commandClients, 2, listeners, 3));
    QVERIFY(m_rig->waitForTicks(1));
    QCOMPARE(m_rig->presentation.commandCount, 2);
    QCOMPARE(m_rig->presentation.broadcastCount, 3);
}

void TestServerControl::startWithoutDevice_data()
{
    AddLanguageRows();
}

void TestServerControl::startWithoutDevice()
{
    QFETCH(int, langOffset);
    Common::LangOffset = langOffset;
    const Looks looks = LooksIn(langOffset);
    QVERIFY(makeRig(0));

    m_rig->beginStart();
    QTRY_COMPARE(m_rig->presentation.messages.size(), 1);
    QCOMPARE(m_rig->presentation.messages[0].title, QStringLiteral("QX-Server"));
    QCOMPARE(m_rig->presentation.messages[0].text, looks.noInterface);

    // The start goes on only once the message is closed.
    QVERIFY(m_rig->waitForTicks(2));
    QVERIFY(!m_rig->startEnded());
    COMPARE_LOOK(m_rig->presentation.looks.constLast(), looks.searching);
    m_rig->presentation.closeMessage();
    QVERIFY(m_rig->startEnded());

    COMPARE_LOOK(m_rig->presentation.looks.constLast(), looks.stopped);
    QCOMPARE(m_rig->presentation.startEnabled, true);
    QCOMPARE(m_rig->presentation.stopEnabled, false);
    QVERIFY(!m_rig->server.isRunning());
    QVERIFY(!m_rig->server.commandService().connections().isListening());
    QVERIFY(!m_rig->server.broadcastService().connections().isListening());
    QVERIFY(!m_rig->server.serialLink().isOpen());

    // A stopped server does not search by itself.
    const qsizetype shown = m_rig->presentation.looks.size();
    QVERIFY(m_rig->waitForTicks(4));
    QCOMPARE(m_rig->presentation.looks.size(), shown);
    QCOMPARE(m_rig->presentation.messages.size(), 1);
}

void TestServerControl::stopClosesEverything()
{
    QVERIFY(makeRig());
    QVERIFY(m_rig->start());
    const quint16 commandPort = m_rig->commandPort();
    const quint16 broadcastPort = m_rig->broadcastPort();
    Clients commandClients, listeners;
    QVERIFY(connectClients(commandClients, 3, listeners, 2));
    QVERIFY(m_rig->waitForTicks(1));
    QCOMPARE(m_rig->presentation.commandCount, 3);
    QCOMPARE(m_rig->presentation.broadcastCount, 2);

    m_rig->server.MSStopServer_Click();
    COMPARE_LOOK(m_rig->presentation.looks.constLast(), LooksIn(Common::German).stopped);
    QCOMPARE(m_rig->presentation.startEnabled, true);
    QCOMPARE(m_rig->presentation.stopEnabled, false);
    QVERIFY(!m_rig->server.isRunning());
    QVERIFY(!m_rig->server.serialLink().isOpen());

    const int updates = m_rig->presentation.countUpdates;
    QTRY_VERIFY(m_rig->presentation.countUpdates > updates);
    QCOMPARE(m_rig->presentation.commandCount, 0);
    QCOMPARE(m_rig->presentation.broadcastCount, 0);
    for (const Clients *clients : { &commandClients, &listeners }) {
        for (const auto &client : *clients) {
            QVERIFY(client->waitForDisconnected());
            QCOMPARE(client->received(), QByteArray()); // nobody is told anything
        }
    }
    QVERIFY(IsRefused(commandPort));
    QVERIFY(IsRefused(broadcastPort));

    // Stopped stays stopped: no restart although the port is closed.
    const qsizetype shown = m_rig->presentation.looks.size();
    QVERIFY(m_rig->waitForTicks(4));
    QCOMPARE(m_rig->presentation.looks.size(), shown);
    QVERIFY(!m_rig->server.serialLink().isOpen());
}

void TestServerControl::stopWhileStopped_data()
{
    QTest::addColumn<bool>("startedBefore");
    QTest::newRow("never started") << false;
    QTest::newRow("stopped after a start") << true;
}

void TestServerControl::stopWhileStopped()
{
    QFETCH(bool, startedBefore);
    QVERIFY(makeRig());
    if (startedBefore) {
        QVERIFY(m_rig->start());
        m_rig->server.MSStopServer_Click();
    }
    const qsizetype shown = m_rig->presentation.looks.size();

    m_rig->server.MSStopServer_Click();
    QCOMPARE(m_rig->presentation.looks.size(), shown + 1);
    COMPARE_LOOK(m_rig->presentation.looks.constLast(), LooksIn(Common::German).stopped);
    QCOMPARE(m_rig->presentation.startEnabled, true);
    QCOMPARE(m_rig->presentation.stopEnabled, false);
    QVERIFY(!m_rig->server.isRunning());
    QVERIFY(!m_rig->server.commandService().connections().isListening());
    QVERIFY(!m_rig->server.broadcastService().connections().isListening());
    QVERIFY(!m_rig->server.serialLink().isOpen());

    // And it starts again as usual.
    QVERIFY(m_rig->start());
    TcpClient client;
    QCOMPARE(m_rig->connectCommandClient(client), 1);
    client.send("F20203F3\r");
    QVERIFY(client.waitForLine());
    QCOMPARE(client.takeLine(), QByteArray("6182E3\r\n"));
}

void TestServerControl::startWhileRunningKeepsConnections()
{
    QVERIFY(makeRig());
    QVERIFY(m_rig->start());
    const quint16 commandPort = m_rig->commandPort();
    const quint16 broadcastPort = m_rig->broadcastPort();
    Clients commandClients, listeners;
    QVERIFY(connectClients(commandClients, 1, listeners, 1));
    m_rig->device().clearRequests();
    const qsizetype shown = m_rig->presentation.looks.size();

    QVERIFY(m_rig->start());
    // The device was searched again, and found.
    QCOMPARE(m_rig->device().requests(), QList<QByteArray>({ Protocol::ProbeRequest() }));
    QCOMPARE(m_rig->presentation.looks.size(), shown + 2);
    COMPARE_LOOK(m_rig->presentation.looks[shown], LooksIn(Common::German).searching);
    COMPARE_LOOK(m_rig->presentation.looks[shown + 1], LooksIn(Common::German).running);
    QVERIFY(m_rig->presentation.messages.isEmpty());

    // The listeners and both connections carry on.
    QCOMPARE(m_rig->commandPort(), commandPort);
    QCOMPARE(m_rig->broadcastPort(), broadcastPort);
    QCOMPARE(m_rig->commandSlotsInUse(), 1);
    QCOMPARE(m_rig->broadcastSlotsInUse(), 1);
    commandClients[0]->send("2181A0\r");
    QVERIFY(commandClients[0]->waitForLine());
    QCOMPARE(commandClients[0]->takeLine(), QByteArray("2181A0\r\n"));
    m_rig->device().sendBroadcast(QByteArray::fromHex("610263"));
    QVERIFY(listeners[0]->waitForLine());
    QCOMPARE(listeners[0]->takeLine(), QByteArray("610263\r\n"));
    QVERIFY(!commandClients[0]->isDisconnected());
    QVERIFY(!listeners[0]->isDisconnected());
}

void TestServerControl::failedStartWhileRunningKeepsServing()
{
    QVERIFY(makeRig());
    QVERIFY(m_rig->start());
    Clients commandClients, listeners;
    QVERIFY(connectClients(commandClients, 1, listeners, 1));
    const Looks looks = LooksIn(Common::German);

    // The device stops answering: the new search finds nothing.
    m_rig->device().setSilent(true);
    m_rig->device().clearRequests();
    m_rig->beginStart();
    // The stored port first, then the scan from port 1: two probes go unanswered.
    for (int probes = 1; probes <= 2; ++probes) {
        QVERIFY(m_rig->waitForRequests(probes));
        m_rig->clock.advance(2);
    }
    QTRY_COMPARE(m_rig->presentation.messages.size(), 1);
    m_rig->presentation.closeMessage();
    QVERIFY(m_rig->startEnded());
    COMPARE_LOOK(m_rig->presentation.looks.constLast(), looks.stopped);

    // Yet the server runs on: listeners, connections and the search for the device stay.
    QVERIFY(m_rig->server.isRunning());
    QVERIFY(m_rig->server.commandService().connections().isListening());
    QVERIFY(m_rig->server.broadcastService().connections().isListening());
    QCOMPARE(m_rig->commandSlotsInUse(), 1);
    QCOMPARE(m_rig->broadcastSlotsInUse(), 1);
    m_rig->device().setSilent(false);
    m_rig->clock.advance(2); // a probe of the search may still wait for the silent device
    QTRY_VERIFY(SameLook(m_rig->presentation.looks.constLast(), looks.running));
    QCOMPARE(m_rig->presentation.messages.size(), 1); // the search again says nothing
    commandClients[0]->send("F20203F3\r");
    QVERIFY(commandClients[0]->waitForLine());
    QCOMPARE(commandClients[0]->takeLine(), QByteArray("6182E3\r\n"));
    QVERIFY(!listeners[0]->isDisconnected());
}

void TestServerControl::stopDuringStartSearchStaysStopped_data()
{
    QTest::addColumn<int>("deviceNumber"); // 0: no number names the device
    QTest::newRow("device present") << 1;
    QTest::newRow("device absent: the search would go on to port 30") << 0;
}

void TestServerControl::stopDuringStartSearchStaysStopped()
{
    QFETCH(int, deviceNumber);
    QVERIFY(makeRig(deviceNumber));
    m_rig->beginStart(); // the search runs from the event loop
    m_rig->server.MSStopServer_Click();

    QTRY_VERIFY(m_rig->startEnded());
    QVERIFY(!m_rig->server.isRunning());
    QVERIFY(!m_rig->server.commandService().connections().isListening());
    QVERIFY(!m_rig->server.broadcastService().connections().isListening());
    QVERIFY(!m_rig->server.serialLink().isOpen());
    COMPARE_LOOK(m_rig->presentation.looks.constLast(), LooksIn(Common::German).stopped);
    QVERIFY(m_rig->waitForTicks(2));
    QCOMPARE(m_rig->presentation.captions.constLast(), LooksIn(Common::German).stopped.caption);
    QCOMPARE(m_rig->presentation.startEnabled, true);
    QCOMPARE(m_rig->presentation.stopEnabled, false);
    QVERIFY(m_rig->presentation.messages.isEmpty());
}

void TestServerControl::lostDeviceIsFoundAgain()
{
    QVERIFY(makeRig());
    QVERIFY(m_rig->start());
    const quint16 commandPort = m_rig->commandPort();
    const quint16 broadcastPort = m_rig->broadcastPort();
    Clients commandClients, listeners;
    QVERIFY(connectClients(commandClients, 1, listeners, 1));
    TcpClient &client = *commandClients[0];
    TcpClient &listener = *listeners[0];

    m_rig->unplugDevice();
    QTRY_VERIFY(!m_rig->server.serialLink().isOpen());
    m_rig->clock.advance(1); // a search at most once a second
    QTRY_VERIFY(SameLook(m_rig->presentation.looks.constLast(), LooksIn(Common::German).searching));
    QVERIFY(m_rig->server.isRunning()); // searching, not stopped

    // Commands are answered as the device's silence; nobody is disconnected.
    client.send("2181A0\r");
    QVERIFY(client.waitForLine());
    QCOMPARE(client.takeLine(), QByteArray("010100\r\n"));
    QVERIFY(m_rig->presentation.messages.isEmpty());
    QCOMPARE(m_rig->commandSlotsInUse(), 1);
    QCOMPARE(m_rig->broadcastSlotsInUse(), 1);

    QVERIFY(m_rig->device().plug());
    m_rig->clock.advance(1);
    QTRY_VERIFY(m_rig->server.serialLink().isOpen());
    QTRY_VERIFY(SameLook(m_rig->presentation.looks.constLast(), LooksIn(Common::German).running));
    QCOMPARE(m_rig->presentation.startEnabled, false);
    QCOMPARE(m_rig->presentation.stopEnabled, true);

    // The same listeners and connections are served again.
    QCOMPARE(m_rig->commandPort(), commandPort);
    QCOMPARE(m_rig->broadcastPort(), broadcastPort);
    client.send("F20203F3\r");
    QVERIFY(client.waitForLine());
    QCOMPARE(client.takeLine(), QByteArray("6182E3\r\n"));
    m_rig->device().sendBroadcast(QByteArray::fromHex("610263"));
    QVERIFY(listener.waitForLine());
    QCOMPARE(listener.takeLine(), QByteArray("610263\r\n"));
    QVERIFY(!client.isDisconnected());
    QVERIFY(!listener.isDisconnected());
}

void TestServerControl::serviceThatCannotListenStopsTheServer_data()
{
    QTest::addColumn<bool>("commandPortTaken"); // else the broadcast port
    QTest::addColumn<QString>("service");
    QTest::newRow("command port taken") << true << "Command service";
    QTest::newRow("broadcast port taken") << false << "Broadcast service";
}

// A server that serves nobody must not look as if it ran: the start fails with a message that
// names the service, its port and the system's reason, and everything is closed.
void TestServerControl::serviceThatCannotListenStopsTheServer()
{
    QFETCH(bool, commandPortTaken);
    QFETCH(QString, service);
    QTcpServer other;
    QVERIFY(other.listen(QHostAddress::LocalHost, 0));
    const quint16 taken = other.serverPort();
    m_rig = std::make_unique<ServerRig>(1,
        ListenConfig { QHostAddress::LocalHost, quint16(commandPortTaken ? taken : 0),
            quint16(commandPortTaken ? 0 : taken) });
    QVERIFY(m_rig->isReady());
    QSignalSpy cannotServe(&m_rig->server, &Server::cannotServe);

    m_rig->beginStart();

    QTRY_VERIFY(m_rig->presentation.messageOpen());
    const QString text = m_rig->presentation.messages.constLast().text;
    QVERIFY2(
        text.startsWith(QStringLiteral("%1 cannot listen on port %2: ").arg(service).arg(taken))
            && text.size() > service.size() + 30,
        qPrintable(text));
    QCOMPARE(cannotServe.count(), 1);
    QVERIFY(!m_rig->server.isRunning());
    QVERIFY(!m_rig->server.commandService().connections().isListening());
    QVERIFY(!m_rig->server.broadcastService().connections().isListening());
    QVERIFY(!m_rig->server.serialLink().isOpen());

    m_rig->presentation.closeMessage();
    QVERIFY(m_rig->startEnded());
    COMPARE_LOOK(m_rig->presentation.looks.constLast(), LooksIn(Common::German).stopped);
    QCOMPARE(m_rig->presentation.startEnabled, true);
    QCOMPARE(m_rig->presentation.stopEnabled, false);
}

// While the device is missing the server searches again, but at most once a second, however fast
// a search fails (here the device gives a wrong probe answer at once).
void TestServerControl::searchesAtMostOncePerSecond()
{
    QVERIFY(makeRig());
    SimulatedDevice &device = m_rig->device();
    device.setSilent(true);
    connect(&device, &SimulatedDevice::requestReceived, &device,
        [&device] { device.sendRaw(QByteArray::fromHex("FFFE618200")); });
    m_rig->presentation.autoClose = true;
    m_rig->server.setSearchUntilFound(true); // as the headless program does
    QVERIFY(!m_rig->start());
    QCOMPARE(device.requests().size(), 1);
    QCOMPARE(m_rig->server.phase(), ServerPhase::Searching);

    for (int quarter = 1; quarter <= 12; ++quarter) {
        m_rig->clock.advanceMs(250);
        QVERIFY(m_rig->waitForTicks(2));
        QTRY_VERIFY(!m_rig->state().T2InUse); // a search that began has ended
        QCOMPARE(device.requests().size(), 1 + quarter / 4);
    }
}

QTEST_GUILESS_MAIN(TestServerControl)
#include "test_server_control.moc"
