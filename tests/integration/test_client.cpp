// qx-client end to end: against qx-server with its built-in simulated device,
// against a server whose simulated device the test drives, and against a
// scripted stand-in for the faults a real server does not make on request.

#include "support/sim_fixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int ProcessTimeoutMs = 20000;
constexpr int ServerStartTimeoutMs = 20000;

const QByteArray RefusalText
    = QByteArrayLiteral("Sorry, I could not accept your connection request");

QString BuildFile(const QString &relativePath)
{
    // Tests live in <build>/tests, the programs in <build>/src and <build>/tools.
    return QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(relativePath);
}

QString ServerProgram()
{
    return BuildFile(QStringLiteral("../src/qx-server"));
}

QString ClientProgram()
{
    return BuildFile(QStringLiteral("../tools/qx-client/qx-client"));
}

// TCP ports that were free a moment ago, on the loopback address.
QList<quint16> FreePorts(int count)
{
    std::vector<std::unique_ptr<QTcpServer>> servers;
    QList<quint16> ports;
    for (int i = 0; i < count; ++i) {
        servers.push_back(std::make_unique<QTcpServer>());
        if (!servers.back()->listen(QHostAddress::LocalHost, 0))
            return {};
        ports << servers.back()->serverPort();
    }
    return ports;
}

QStringList Port(quint16 port)
{
    return { QStringLiteral("--port"), QString::number(port) };
}

struct ClientRun
{
    bool ended = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs qx-client to its end while the event loop keeps serving the test's own
// sockets and devices.
ClientRun RunClient(const QStringList &arguments)
{
    QProcess process;
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(ClientProgram(), arguments);
    ClientRun run;
    run.ended = finished.wait(ProcessTimeoutMs);
    if (!run.ended) {
        process.kill();
        finished.wait(ProcessTimeoutMs);
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

// A qx-server process, headless, on free loopback ports with its own settings.
class ServerProcess
{
public:
    ~ServerProcess() { stop(); }

    // Starts the server; its services listen once the device has answered.
    bool launch(const QStringList &extraArguments)
    {
        const QList<quint16> ports = FreePorts(2);
        if (ports.size() != 2 || !m_dir.isValid())
            return false;
        m_commandPort = ports.at(0);
        m_broadcastPort = ports.at(1);
        const QStringList arguments { QStringLiteral("--headless"), QStringLiteral("--settings"),
            m_dir.filePath(QStringLiteral("settings.ini")), QStringLiteral("--listen"),
            QStringLiteral("127.0.0.1"), QStringLiteral("--command-port"),
            QString::number(m_commandPort), QStringLiteral("--broadcast-port"),
            QString::number(m_broadcastPort) };
        m_process.start(ServerProgram(), arguments + extraArguments);
        return m_process.waitForStarted();
    }

    bool isServing()
    {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, m_broadcastPort);
        return probe.waitForConnected(1000);
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        QSignalSpy finished(&m_process, &QProcess::finished);
        m_process.terminate();
        if (!finished.wait(ProcessTimeoutMs))
            m_process.kill();
    }

    quint16 commandPort() const { return m_commandPort; }
    quint16 broadcastPort() const { return m_broadcastPort; }
    QProcess &process() { return m_process; }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_commandPort = 0;
    quint16 m_broadcastPort = 0;
};

// A stand-in server on a free loopback port: sends its greeting when a client
// connects, then answers each CR-ended line with the next reply of its
// script. The reply Close closes the connection, an empty reply says nothing.
class ScriptedServer : public QObject
{
public:
    static inline const QByteArray Close = QByteArrayLiteral("<close>");

    // Port 0: any free one.
    ScriptedServer(QByteArray greeting, QByteArrayList replies, quint16 port = 0)
        : m_greeting(std::move(greeting))
        , m_replies(std::move(replies))
    {
        m_server.listen(QHostAddress::LocalHost, port);
        connect(&m_server, &QTcpServer::newConnection, this, &ScriptedServer::accept);
    }

    bool isListening() const { return m_server.isListening(); }
    quint16 port() const { return m_server.serverPort(); }
    const QByteArray &received() const { return m_received; }

private:
    void accept()
    {
        QTcpSocket *socket = m_server.nextPendingConnection();
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
        reply(socket, m_greeting);
    }

    void answer(QTcpSocket *socket)
    {
        m_received += socket->readAll();
        while (m_received.count('\r') > m_answered && m_answered < m_replies.size())
            reply(socket, m_replies.at(m_answered++));
    }

    void reply(QTcpSocket *socket, const QByteArray &text)
    {
        if (text.endsWith(Close)) {
            socket->write(text.chopped(Close.size()));
            socket->disconnectFromHost();
        } else {
            socket->write(text);
        }
    }

    QTcpServer m_server;
    QByteArray m_greeting;
    QByteArrayList m_replies;
    QByteArray m_received;
    qsizetype m_answered = 0;
};

// A loopback port on which connection requests go unanswered: its listening
// socket has a backlog of none and one connection that is never accepted, so
// the kernel drops every further request.
class UnansweredPort
{
public:
    UnansweredPort()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr *>(&address), size) != 0
            || ::listen(m_fd, 0) != 0
            || ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &size) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_filler.connectToHost(QHostAddress::LocalHost, m_port);
        m_filler.waitForConnected(ProcessTimeoutMs);
    }
    ~UnansweredPort()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isReady() const { return m_filler.state() == QAbstractSocket::ConnectedState; }
    quint16 port() const { return m_port; }

private:
    int m_fd = -1;
    quint16 m_port = 0;
    QTcpSocket m_filler;
};

} // namespace

class TestClient : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void commandsAgainstServer_data();
    void commandsAgainstServer();
    void silentDeviceGivesTimeoutAnswer();
    void listenPrintsDeviceBroadcasts();
    void programmingModeRefusesCommandsAndNotifiesListeners();

    void commandFaults_data();
    void commandFaults();
    void listenEnds_data();
    void listenEnds();
    void listenSendsKeepAliveBytes();
    void listenReconnectsAcrossAServerRestart();
    void timeoutBoundsTheWait_data();
    void timeoutBoundsTheWait();
    void refusedConnection_data();
    void refusedConnection();
    void badArguments_data();
    void badArguments();

private:
    void startServer(ServerProcess &server, const QStringList &arguments);

    ServerProcess m_simulated; // qx-server --simulate
    std::unique_ptr<SimFixture> m_fixture; // the device of m_driven
    ServerProcess m_driven; // qx-server with the test's own simulated device
};

void TestClient::initTestCase()
{
    QVERIFY2(QFileInfo::exists(ClientProgram()), qPrintable(ClientProgram()));
    QVERIFY2(QFileInfo::exists(ServerProgram()), qPrintable(ServerProgram()));
    startServer(m_simulated, { QStringLiteral("--simulate") });
    if (QTest::currentTestFailed())
        return;

    m_fixture = std::make_unique<SimFixture>(1);
    QVERIFY2(m_fixture->isReady(), qPrintable(m_fixture->errorString()));
    QStringList ports;
    for (int number = 1; number <= 30; ++number)
        ports << QStringLiteral("--port")
              << QStringLiteral("%1=%2").arg(number).arg(m_fixture->ports().path(number));
    startServer(m_driven, ports);
}

void TestClient::startServer(ServerProcess &server, const QStringList &arguments)
{
    QVERIFY(server.launch(arguments));
    QTRY_VERIFY2_WITH_TIMEOUT(server.isServing(),
        server.process().readAllStandardError().constData(), ServerStartTimeoutMs);
}

void TestClient::cleanupTestCase()
{
    m_simulated.stop();
    m_driven.stop();
}

void TestClient::commandsAgainstServer_data()
{
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("errContains");

    QTest::newRow("a command is answered by the device's echo")
        << QStringList { "2181A0" } << 0 << QByteArray("2181A0\n") << QByteArray();
    // The server drops a line that comes while the connection's previous line
    // is pending: every answer arrives only if each command waited for the last.
    QTest::newRow("commands go one at a time and are answered in order")
        << QStringList { "2181A0", "2000", "240102030455", "2181A0" } << 0
        << QByteArray("2181A0\n2000\n240102030455\n2181A0\n") << QByteArray();
    QTest::newRow("lower case and spaces make the same command")
        << QStringList { "21 81 a0" } << 0 << QByteArray("2181A0\n") << QByteArray();
    QTest::newRow("a malformed command ends the run with 3 and no later command is sent")
        << QStringList { "2181A0", "123", "2000" } << 3 << QByteArray("2181A0\n6180E1\n")
        << QByteArray("\"123\" malformed");
}

void TestClient::commandsAgainstServer()
{
    QFETCH(QStringList, commands);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, errContains);

    const ClientRun run = RunClient(Port(m_simulated.commandPort()) + commands);
    QVERIFY(run.ended);
    QCOMPARE(run.out, out);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.contains(errContains), run.err.constData());
    if (exitCode == 0)
        QVERIFY2(run.err.isEmpty(), run.err.constData());
}

void TestClient::silentDeviceGivesTimeoutAnswer()
{
    m_fixture->device().setSilent(true);
    const ClientRun run = RunClient(Port(m_driven.commandPort()) << "2181A0"
                                                                 << "2000");
    m_fixture->device().setSilent(false);
    QVERIFY(run.ended);
    QCOMPARE(run.out, QByteArray("010100\n"));
    QCOMPARE(run.exitCode, 4);
    QVERIFY2(run.err.contains("did not answer the command \"2181A0\""), run.err.constData());
}

void TestClient::listenPrintsDeviceBroadcasts()
{
    QProcess listener;
    QByteArray err;
    listener.start(ClientProgram(), Port(m_driven.broadcastPort()) << "--listen");
    QTRY_VERIFY_WITH_TIMEOUT(
        (err += listener.readAllStandardError()).contains("listening"), ProcessTimeoutMs);

    m_fixture->device().sendBroadcast(QByteArray::fromHex("2181A0"));
    m_fixture->device().sendBroadcast(QByteArray::fromHex("22AABBCC"));
    QByteArray out;
    QTRY_COMPARE_WITH_TIMEOUT(out += listener.readAllStandardOutput(),
        QByteArray("2181A0\n22AABBCC\n"), ProcessTimeoutMs);

    QSignalSpy finished(&listener, &QProcess::finished);
    listener.terminate();
    QVERIFY(finished.wait(ProcessTimeoutMs));
    QCOMPARE(listener.exitStatus(), QProcess::NormalExit);
    QCOMPARE(listener.exitCode(), 0);
}

void TestClient::programmingModeRefusesCommandsAndNotifiesListeners()
{
    QProcess listener;
    QByteArray err;
    listener.start(ClientProgram(), Port(m_simulated.broadcastPort()) << "--listen");
    QTRY_VERIFY_WITH_TIMEOUT(
        (err += listener.readAllStandardError()).contains("listening"), ProcessTimeoutMs);

    // 22 11 puts the device into programming mode; its client stays connected.
    QTcpSocket programmer;
    programmer.connectToHost(QHostAddress::LocalHost, m_simulated.commandPort());
    QVERIFY(programmer.waitForConnected(ProcessTimeoutMs));
    programmer.write("22110033\r");
    QByteArray answer;
    QTRY_COMPARE_WITH_TIMEOUT(
        answer += programmer.readAll(), QByteArray("22110033\r\n"), ProcessTimeoutMs);

    QByteArray out;
    QTRY_COMPARE_WITH_TIMEOUT(
        out += listener.readAllStandardOutput(), QByteArray("610263\n610263\n"), ProcessTimeoutMs);

    const ClientRun refused = RunClient(Port(m_simulated.commandPort()) << "2181A0");
    QVERIFY(refused.ended);
    QCOMPARE(refused.exitCode, 5);
    QCOMPARE(refused.out, QByteArray());
    QVERIFY2(refused.err.contains(RefusalText), refused.err.constData());

    // When the programming client leaves, the server ends programming mode.
    programmer.disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(
        RunClient(Port(m_simulated.commandPort()) << "2000").exitCode, 0, ProcessTimeoutMs);

    QSignalSpy finished(&listener, &QProcess::finished);
    listener.terminate();
    QVERIFY(finished.wait(ProcessTimeoutMs));
    QCOMPARE(listener.exitCode(), 0);
}

void TestClient::commandFaults_data()
{
    QTest::addColumn<QByteArray>("greeting");
    QTest::addColumn<QByteArrayList>("replies");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QByteArray>("errContains");

    const QByteArray close = ScriptedServer::Close;
    QTest::newRow("the time-out answer ends the run with 4")
        << QByteArray() << QByteArrayList { "010100\r\n", "2000\r\n" }
        << QStringList { "2181A0", "2000" } << 4 << QByteArray("010100\n") << QByteArray("2181A0\r")
        << QByteArray("did not answer");
    QTest::newRow("the refusal text ends the run with 5")
        << RefusalText + close << QByteArrayList {} << QStringList { "2181A0" } << 5 << QByteArray()
        << QByteArray() << QByteArray("refused the connection");
    QTest::newRow("a refusal cut short by the close still is a refusal")
        << RefusalText.left(12) + close << QByteArrayList {} << QStringList { "2181A0" } << 5
        << QByteArray() << QByteArray() << QByteArray("refused the connection");
    QTest::newRow("a close before the answer ends the run with 6")
        << QByteArray() << QByteArrayList { "2181A0\r\n", close }
        << QStringList { "2181A0", "2000" } << 6 << QByteArray("2181A0\n")
        << QByteArray("2181A0\r2000\r") << QByteArray("lost before the answer to \"2000\"");
    QTest::newRow("endless text without a line end is no server's answer")
        << QByteArray() << QByteArrayList { QByteArray(5000, 'A') } << QStringList { "2181A0" } << 1
        << QByteArray() << QByteArray("2181A0\r") << QByteArray("without a line end");
}

void TestClient::commandFaults()
{
    QFETCH(QByteArray, greeting);
    QFETCH(QByteArrayList, replies);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, received);
    QFETCH(QByteArray, errContains);

    ScriptedServer server(greeting, replies);
    const ClientRun run = RunClient(Port(server.port()) + arguments);
    QVERIFY(run.ended);
    QCOMPARE(run.out, out);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.contains(errContains), run.err.constData());
    if (!received.isNull())
        QCOMPARE(server.received(), received);
}

void TestClient::listenEnds_data()
{
    QTest::addColumn<QByteArray>("greeting");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("errContains");

    const QByteArray close = ScriptedServer::Close;
    QTest::newRow("the server's close ends listening with 6 after the lines it sent")
        << QByteArray("2181A0\r\n000FFF\r\n") + close << 6 << QByteArray("2181A0\n000FFF\n")
        << QByteArray("closed the connection");
    QTest::newRow("a refusal after the programming notice ends listening with 5")
        << QByteArray("610263\r\n610263\r\n") + RefusalText + close << 5
        << QByteArray("610263\n610263\n") << QByteArray("refused the connection");
    QTest::newRow("control characters from the network never reach the terminal")
        << QByteArray("\x1b[2J\x07"
                      "2181A0\xff\r\n")
            + close
        << 6 << QByteArray("?[2J?2181A0?\n") << QByteArray("closed the connection");
}

void TestClient::listenEnds()
{
    QFETCH(QByteArray, greeting);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, errContains);

    ScriptedServer server(greeting, {});
    const ClientRun run = RunClient(Port(server.port()) << "--listen");
    QVERIFY(run.ended);
    QCOMPARE(run.out, out);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.contains(errContains), run.err.constData());
}

void TestClient::listenSendsKeepAliveBytes()
{
    ScriptedServer server({}, {});
    QProcess listener;
    listener.start(ClientProgram(),
        Port(server.port()) << "--listen"
                            << "--keepalive-ms"
                            << "50");
    // Two bytes prove that the byte repeats; only the harmless line feed is sent.
    QTRY_VERIFY_WITH_TIMEOUT(server.received().size() >= 2, ProcessTimeoutMs);
    QCOMPARE(server.received(), QByteArray(server.received().size(), '\n'));

    QSignalSpy finished(&listener, &QProcess::finished);
    listener.terminate();
    QVERIFY(finished.wait(ProcessTimeoutMs));
    QCOMPARE(listener.exitCode(), 0);
}

void TestClient::listenReconnectsAcrossAServerRestart()
{
    auto server = std::make_unique<ScriptedServer>("2181A0\r\n", QByteArrayList {});
    const quint16 port = server->port();
    QProcess listener;
    listener.start(ClientProgram(),
        Port(port) << "--listen"
                   << "--reconnect");
    QByteArray out, err;
    QTRY_COMPARE_WITH_TIMEOUT(
        out += listener.readAllStandardOutput(), QByteArray("2181A0\n"), ProcessTimeoutMs);

    // The server goes away; the listener says so once and keeps trying.
    server.reset();
    QTRY_VERIFY_WITH_TIMEOUT(
        (err += listener.readAllStandardError()).contains("connecting again"), ProcessTimeoutMs);
    QCOMPARE(listener.state(), QProcess::Running);

    // Back on the same port: the listener prints what the new server sends.
    ScriptedServer restarted("000FFF\r\n", {}, port);
    QVERIFY(restarted.isListening());
    QTRY_COMPARE_WITH_TIMEOUT(
        out += listener.readAllStandardOutput(), QByteArray("2181A0\n000FFF\n"), ProcessTimeoutMs);
    err += listener.readAllStandardError();
    QCOMPARE(err.count("connecting again"), 1);
    QCOMPARE(err.count("listening to the broadcasts"), 2);

    QSignalSpy finished(&listener, &QProcess::finished);
    listener.terminate();
    QVERIFY(finished.wait(ProcessTimeoutMs));
    QCOMPARE(listener.exitStatus(), QProcess::NormalExit);
    QCOMPARE(listener.exitCode(), 0);
}

void TestClient::timeoutBoundsTheWait_data()
{
    QTest::addColumn<bool>("connectionAnswered");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("errContains");

    QTest::newRow("a server that accepts and never answers: the time-out status 4")
        << true << 4 << QByteArray("no answer to \"2181A0\" from 127.0.0.1:");
    QTest::newRow("a connection request that is never answered: status 1")
        << false << 1 << QByteArray("no connection to 127.0.0.1:");
}

void TestClient::timeoutBoundsTheWait()
{
    QFETCH(bool, connectionAnswered);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, errContains);

    ScriptedServer silent({}, { QByteArray() });
    UnansweredPort unanswered;
    QVERIFY(unanswered.isReady());
    const quint16 port = connectionAnswered ? silent.port() : unanswered.port();
    QElapsedTimer clock;
    clock.start();
    const ClientRun run = RunClient(Port(port) << "--host"
                                               << "127.0.0.1"
                                               << "--timeout"
                                               << "1"
                                               << "2181A0");
    const qint64 elapsedMs = clock.elapsed();
    QVERIFY(run.ended);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.contains(errContains + QByteArray::number(port) + " within 1 s"),
        run.err.constData());
    QVERIFY2(elapsedMs < 1500, qPrintable(QStringLiteral("%1 ms").arg(elapsedMs)));
    if (connectionAnswered)
        QCOMPARE(silent.received(), QByteArray("2181A0\r"));
}

void TestClient::refusedConnection_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("sending commands") << QStringList { "2181A0" };
    QTest::newRow("listening") << QStringList { "--listen" };
}

void TestClient::refusedConnection()
{
    QFETCH(QStringList, arguments);
    const QList<quint16> ports = FreePorts(1); // closed again: nothing listens there
    QVERIFY(!ports.isEmpty());
    const ClientRun run = RunClient(Port(ports.first()) + arguments);
    QVERIFY(run.ended);
    QCOMPARE(run.exitCode, 5);
    QVERIFY2(run.err.contains("Connection refused: is qx-server running?"), run.err.constData());
}

void TestClient::badArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("errContains");

    QTest::newRow("no command") << QStringList {} << QByteArray("no command given");
    QTest::newRow("commands with --listen")
        << QStringList { "--listen", "2181A0" } << QByteArray("--listen takes no commands");
    QTest::newRow("port zero") << QStringList { "--port", "0", "2181A0" }
                               << QByteArray("--port expects");
    QTest::newRow("port above 65535")
        << QStringList { "--port", "65536", "2181A0" } << QByteArray("--port expects");
    QTest::newRow("port not a number")
        << QStringList { "--port", "x", "2181A0" } << QByteArray("--port expects");
    QTest::newRow("empty host") << QStringList { "--host", "", "2181A0" }
                                << QByteArray("--host needs");
    QTest::newRow("a line end inside a command would make two requests")
        << QStringList { "2181A0\r2000" } << QByteArray("one line");
    QTest::newRow("unknown option")
        << QStringList { "--bogus", "2181A0" } << QByteArray("Unknown option");
    QTest::newRow("time-out of zero")
        << QStringList { "--timeout", "0", "2181A0" } << QByteArray("--timeout expects");
    QTest::newRow("time-out not a number")
        << QStringList { "--timeout", "soon", "2181A0" } << QByteArray("--timeout expects");
    QTest::newRow("reconnecting without listening")
        << QStringList { "--reconnect", "2181A0" } << QByteArray("--reconnect goes with --listen");
}

void TestClient::badArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, errContains);

    const ClientRun run = RunClient(arguments);
    QVERIFY(run.ended);
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(run.out, QByteArray());
    QVERIFY2(run.err.contains(errContains), run.err.constData());
    QVERIFY2(run.err.contains("Usage: qx-client"), run.err.constData());
}

QTEST_GUILESS_MAIN(TestClient)
#include "test_client.moc"
