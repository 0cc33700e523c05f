// The three programs as their users run them: qx-server headless (and under a service manager),
// qx-client against it or against a scripted server, and qx-sim. Free loopback ports only.

#include "app/service_notifier.h"
#include "child_program.h"
#include "core/protocol.h"
#include "core/settings_store.h"
#include "core/stored_settings.h"
#include "free_port.h"
#include "sim/simulated_device.h"
#include "support/recording_presentation.h"
#include "support/tcp_client.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSerialPort>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int WaitMs = 20000;

bool WaitForLine(ChildProgram &program, const QString &text)
{
    return QTest::qWaitFor(
        [&] { return !(program.errorLines() + program.outputLines()).filter(text).isEmpty(); },
        WaitMs);
}

bool WaitForExit(ChildProgram &program, int timeoutMs = WaitMs)
{
    return QTest::qWaitFor([&] { return !program.isRunning(); }, timeoutMs);
}

QString Said(const ChildProgram &program)
{
    return (program.errorLines() + program.outputLines()).join(QLatin1Char('\n'));
}

// What the program logs, with its kind, while a test listens.
QStringList &Logged()
{
    static QStringList lines;
    return lines;
}

void Record(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    Logged() << (type == QtWarningMsg ? QStringLiteral("warning: ") : QString()) + text;
}

// An AF_UNIX datagram socket as systemd offers it in NOTIFY_SOCKET.
class NotifySocket : public QObject
{
public:
    explicit NotifySocket(const QString &path)
    {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address { AF_UNIX, {} };
        qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path);
        ::bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
        connect(new QSocketNotifier(m_fd, QSocketNotifier::Read, this), &QSocketNotifier::activated,
            this, [this] {
                char buffer[4096];
                for (ssize_t size; (size = ::recv(m_fd, buffer, sizeof buffer, 0)) >= 0;)
                    datagrams << QByteArray(buffer, int(size));
            });
    }
    ~NotifySocket() override { ::close(m_fd); }
    QByteArrayList datagrams;

private:
    int m_fd = -1;
};

} // namespace

class TestPrograms : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void serverServesAndEnds_data();
    void serverServesAndEnds();
    void serverEndsCleanlyWhenItsProgramObjectGoes();
    void serverFailsWhenItCannotServe_data();
    void serverFailsWhenItCannotServe();
    void serverSearchesUntilItsDeviceAppears();
    void serverTellsTheServiceManager();
    void notifierWarnsOnceWhileTheServiceManagerIsAway();
    void serverLogsPrioritiesToTheJournal();
    void clientExitStatuses_data();
    void clientExitStatuses();
    void clientListensAcrossAServerRestart();
    void simulatorRunsItsCommands();

private:
    QStringList serverArguments(const QStringList &device = { QStringLiteral("--simulate") });
    // qx-client's output and exit status.
    std::pair<QString, int> runClient(const QStringList &arguments, int timeoutMs = WaitMs);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_settings;
    std::pair<quint16, quint16> m_ports;
};

void TestPrograms::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_settings = m_dir->filePath(QStringLiteral("settings.ini"));
    m_ports = FreeLoopbackPortPair();
    QVERIFY(m_dir->isValid() && m_ports.first != 0);
}

QStringList TestPrograms::serverArguments(const QStringList &device)
{
    return device
        + QStringList { "--headless", "--settings", m_settings, "--listen", "127.0.0.1",
              "--command-port", QString::number(m_ports.first), "--broadcast-port",
              QString::number(m_ports.second) };
}

std::pair<QString, int> TestPrograms::runClient(const QStringList &arguments, int timeoutMs)
{
    ChildProgram client;
    client.start(QStringLiteral(QX_CLIENT_PROGRAM), arguments);
    if (!WaitForExit(client, timeoutMs))
        return { QStringLiteral("still running"), -1 };
    return { Said(client), client.exitStatus().value_or(-1) };
}

void TestPrograms::serverServesAndEnds_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("ending");
    QTest::newRow("German stored: the log in English, SIGTERM ends it")
        << QStringList {} << SIGTERM;
    QTest::newRow("verbose: the frames in hex, a hang-up ends it")
        << QStringList { "--verbose" } << SIGHUP;
}

void TestPrograms::serverServesAndEnds()
{
    QFETCH(QStringList, options);
    QFETCH(int, ending);
    const bool verbose = !options.isEmpty();
    if (!verbose) // the window's language; the log stays English
        StoreLanguageOffset(SettingsStore(m_settings), 0);
    ChildProgram server;
    server.start(QStringLiteral(QX_SERVER_PROGRAM), serverArguments() + options);
    QVERIFY2(WaitForLine(server, "Server is running ...."), qPrintable(Said(server)));

    const auto [answer, status] = runClient({ "--port", QString::number(m_ports.first), "2181A0" });
    QCOMPARE(answer, QStringLiteral("2181A0"));
    QCOMPARE(status, 0);
    QVERIFY(WaitForLine(
        server, QStringLiteral("command slot 1: 127.0.0.1 closed (closed by the client)")));
    QVERIFY(QFileInfo::exists(m_settings + QStringLiteral(".instance.lock")));
    QCOMPARE(::kill(pid_t(server.pid()), ending), 0);
    QVERIFY(WaitForExit(server));
    QCOMPARE(server.exitStatus(), 0);
    QVERIFY(Said(server).contains(ending == SIGHUP ? "Ending on SIGHUP" : "Ending on SIGTERM"));
    QCOMPARE(Said(server).contains(QStringLiteral(">> FF FE 21 81 A0")), verbose);
    static const QRegularExpression stamped(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:"));
    QVERIFY(stamped.match(server.errorLines().constFirst()).hasMatch());
}

// A test or a tool that drops a server while it runs ends it as a service manager would: a
// server killed outright would leave its serial port locked, and its simulated device's folder.
void TestPrograms::serverEndsCleanlyWhenItsProgramObjectGoes()
{
    auto server = std::make_unique<ChildProgram>();
    server->start(QStringLiteral(QX_SERVER_PROGRAM), serverArguments());
    QVERIFY2(
        WaitForLine(*server, QStringLiteral("Server is running ....")), qPrintable(Said(*server)));
    static const QRegularExpression found(QStringLiteral("device found on port 1 \\((.+)\\)"));
    const QString device = found.match(Said(*server)).captured(1);
    QVERIFY2(QFileInfo::exists(device), qPrintable(Said(*server)));
    const QByteArray pid = QByteArray::number(server->pid());

    server.reset();
    const QDir locks(QStringLiteral("/run/lock"), QStringLiteral("LCK..*"));
    for (const QString &name : locks.entryList(QDir::Files)) {
        QFile lock(locks.filePath(name));
        QVERIFY2(!lock.open(QIODevice::ReadOnly) || lock.readLine().trimmed() != pid,
            qPrintable(name + QStringLiteral(" is left locked by the server")));
    }
    QVERIFY(!QFileInfo::exists(QFileInfo(device).path()));
}

void TestPrograms::serverFailsWhenItCannotServe_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said");
    QTest::newRow("command port taken")
        << "command" << 1 << "error: Command service cannot listen on port";
    QTest::newRow("settings path is a folder") << "folder" << 1 << "is not a regular file";
    QTest::newRow("a bad option") << "option" << 2 << "Try 'qx-server --help'";
}

// A service manager must see a server that cannot serve fail, with the reason in its log.
void TestPrograms::serverFailsWhenItCannotServe()
{
    QFETCH(QString, fault);
    QFETCH(QString, said);
    QTcpServer other;
    QStringList options;
    if (fault == "command") {
        QVERIFY(other.listen(QHostAddress::LocalHost, 0));
        m_ports.first = other.serverPort();
        said += QStringLiteral(" %1: ").arg(other.serverPort());
    } else if (fault == "folder") {
        QVERIFY(QDir().mkpath(m_settings));
    } else {
        options << QStringLiteral("--command-port=0");
    }
    ChildProgram server;
    server.start(QStringLiteral(QX_SERVER_PROGRAM), serverArguments() + options);
    QVERIFY2(WaitForExit(server), qPrintable(Said(server)));
    QTEST(server.exitStatus().value_or(-1), "status");
    QVERIFY2(Said(server).contains(said), qPrintable(Said(server)));
    QVERIFY(!Said(server).contains(QStringLiteral("Server is running")));
}

void TestPrograms::serverSearchesUntilItsDeviceAppears()
{
    // Pinned: port 1 names the simulator's link (not there yet), port 2 a file that is no port.
    const QString link = m_dir->filePath(QStringLiteral("qx-usb"));
    ChildProgram server;
    server.start(QStringLiteral(QX_SERVER_PROGRAM),
        serverArguments({ "--port", "1=" + link, "--port", "2=/dev/null" }));
    QVERIFY(WaitForLine(server, QStringLiteral("warning: No interface QX-USB found !")));
    QVERIFY(WaitForLine(server, QStringLiteral("warning: port 2 (/dev/null) does not open: ")));
    // A second instance with the same settings, also named through a link, ends at once, saying so.
    const QString settingsLink = m_dir->filePath(QStringLiteral("settings-link.ini"));
    QVERIFY(QFile::link(m_settings, settingsLink));
    for (const QString &settings : { m_settings, settingsLink }) {
        QStringList arguments = serverArguments();
        arguments[arguments.indexOf(m_settings)] = settings;
        ChildProgram second;
        second.start(QStringLiteral(QX_SERVER_PROGRAM), arguments);
        QVERIFY2(WaitForExit(second), qPrintable(settings));
        QCOMPARE(second.exitStatus(), 0);
        QCOMPARE(second.errorLines().size(), 1);
    }

    ChildProgram simulator;
    simulator.start(QStringLiteral(QX_SIM_PROGRAM), { "--link", link });
    QVERIFY2(
        WaitForLine(server, QStringLiteral("Server is running ....")), qPrintable(Said(server)));
    QVERIFY(Said(server).count(QStringLiteral("device not found")) == 1); // once, not per search
    const auto [answer, status]
        = runClient({ "--port", QString::number(m_ports.first), "F20203F3" });
    QCOMPARE(answer, QStringLiteral("6182E3"));
}

// Type=notify: ready as soon as it searches, a status a person reads, and the watchdog.
void TestPrograms::serverTellsTheServiceManager()
{
    if (!ServiceNotifier::isSupported())
        QSKIP("built without libsystemd");
    const QString path = m_dir->filePath(QStringLiteral("notify"));
    NotifySocket socket(path);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NOTIFY_SOCKET"), path);
    environment.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("200000"));
    ChildProgram server;
    server.start(QStringLiteral(QX_SERVER_PROGRAM), serverArguments(), environment);
    QTRY_VERIFY_WITH_TIMEOUT(socket.datagrams.contains("WATCHDOG=1"), WaitMs);
    const auto sent = [&socket](const char *text) {
        return std::any_of(socket.datagrams.cbegin(), socket.datagrams.cend(),
            [text](const QByteArray &datagram) { return datagram.contains(text); });
    };
    QTRY_VERIFY(sent("STATUS=running: device on "));
    QCOMPARE(socket.datagrams.first(), QByteArray("READY=1\nSTATUS=searching the device"));
    TcpClient client;
    QVERIFY(client.connectTo(m_ports.first));
    QTRY_VERIFY(sent(", 1 command and 0 broadcast clients"));
}

// A service manager that does not answer is said once, however many notifications fail (here one
// a millisecond), and once more when it answers again.
void TestPrograms::notifierWarnsOnceWhileTheServiceManagerIsAway()
{
    if (!ServiceNotifier::isSupported())
        QSKIP("built without libsystemd");
    const QString path = m_dir->filePath(QStringLiteral("notify"));
    delete new NotifySocket(path); // its file stays: a socket that nobody answers on
    qputenv("NOTIFY_SOCKET", QFile::encodeName(path));
    qputenv("WATCHDOG_USEC", "2000");
    const auto unset = qScopeGuard([] { qunsetenv("NOTIFY_SOCKET"), qunsetenv("WATCHDOG_USEC"); });
    RecordingPresentation console;
    ServiceNotifier notifier(console);
    auto *watchdog = notifier.findChild<QTimer *>();
    QVERIFY(watchdog);
    QSignalSpy pings(watchdog, &QTimer::timeout);

    Logged().clear();
    const QtMessageHandler previous = qInstallMessageHandler(Record);
    QTRY_VERIFY(pings.count() >= 5);
    QVERIFY(QFile::remove(path));
    NotifySocket socket(path);
    const int failed = pings.count();
    QTRY_VERIFY(pings.count() >= failed + 5);
    qInstallMessageHandler(previous);
    QCOMPARE(Logged(),
        QStringList({ "warning: cannot notify the service manager: Connection refused",
            "the service manager is notified again" }));
    QVERIFY(socket.datagrams.contains("WATCHDOG=1"));
}

// Under a service manager standard error is the journal: it stamps the time itself, and each
// line starts with its syslog priority so that `journalctl -p` can filter.
void TestPrograms::serverLogsPrioritiesToTheJournal()
{
    const QString log = m_dir->filePath(QStringLiteral("journal"));
    QFile(log).open(QIODevice::WriteOnly);
    struct stat journal
    {
    };
    QCOMPARE(::stat(QFile::encodeName(log).constData(), &journal), 0);
    QProcess server; // standard error on the "journal" itself
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(
        "JOURNAL_STREAM", QStringLiteral("%1:%2").arg(journal.st_dev).arg(journal.st_ino));
    server.setProcessEnvironment(environment);
    server.setStandardErrorFile(log);
    server.start(QStringLiteral(QX_SERVER_PROGRAM), serverArguments({ "--port", "1=/dev/null" }));
    const auto logged = [&] {
        QFile file(log);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };
    QVERIFY2(QTest::qWaitFor(
                 [&] { return logged().contains("<4>port 1 (/dev/null) does not open"); }, WaitMs),
        qPrintable(logged()));
    server.terminate();
    QVERIFY(server.waitForFinished(WaitMs));
    static const QRegularExpression priority(QStringLiteral("^<[3467]>\\D"));
    for (const QString &line : logged().split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        QVERIFY2(priority.match(line).hasMatch(), qPrintable(line));
    QVERIFY(logged().contains(QStringLiteral("<6>Ending on SIGTERM")));
}

// What a scripted server sends after the client's command (or on connection, listening), and
// what the client then prints and ends with.
void TestPrograms::clientExitStatuses_data()
{
    QTest::addColumn<QString>("mode"); // "command", "listen", "silent": accepts, never answers;
                                       // "twice": a bad command line
    QTest::addColumn<QByteArray>("reply"); // then the connection is closed
    QTest::addColumn<QString>("printed");
    QTest::addColumn<int>("status");
    const QByteArray refusal = "Sorry, I could not accept your connection request";
    QTest::newRow("an answer: 0") << "command" << QByteArray("2181A0\r\n") << "2181A0" << 0;
    QTest::newRow("6180E1: malformed, 3")
        << "command" << QByteArray("6180E1\r\n") << "malformed" << 3;
    QTest::newRow("010100: no answer, 4")
        << "command" << QByteArray("010100\r\n") << "did not answer" << 4;
    QTest::newRow("the refusal, cut short: 5") << "command" << refusal.left(12) << "Sorry" << 5;
    QTest::newRow("lost before the answer: 6") << "command" << QByteArray() << "lost" << 6;
    QTest::newRow("an answer that is no hex line: 7")
        << "command" << QByteArray("Hello\r\n") << "is it a qx-server?" << 7;
    QTest::newRow("a 100 kB line of hex digits: 7") << "command" << QByteArray(100000, 'A') + "\r\n"
                                                    << "is it a qx-server?" << 7;
    QTest::newRow("--timeout given twice: 2")
        << "twice" << QByteArray() << "--timeout given more than once" << 2;
    QTest::newRow("--timeout 1 against a silent server: 4")
        << "silent" << QByteArray() << "no answer" << 4;
    QTest::newRow("listening: the lines, control characters made harmless, then 6")
        << "listen" << QByteArray("610263\r\n61\x1B[2J\r\n") << "610263\n61?[2J" << 6;
}

void TestPrograms::clientExitStatuses()
{
    QFETCH(QString, mode);
    QFETCH(QByteArray, reply);
    QFETCH(QString, printed);
    QTcpServer scripted;
    QVERIFY(scripted.listen(QHostAddress::LocalHost, 0));
    // From the connection on, so that a slow start of the client (under emulation) does not count.
    QElapsedTimer elapsed;
    connect(&scripted, &QTcpServer::newConnection, this, [&] {
        elapsed.start();
        QTcpSocket *socket = scripted.nextPendingConnection();
        const auto answer = [socket, reply] {
            socket->write(reply);
            socket->disconnectFromHost();
        };
        if (mode == "listen")
            answer();
        else if (mode == "command")
            connect(socket, &QTcpSocket::readyRead, socket, answer);
    });
    QStringList arguments { "--port", QString::number(scripted.serverPort()) };
    arguments << (mode == "listen" ? QStringList { "--listen" }
                                   : QStringList { "--timeout", "1", "2181A0" });
    if (mode == "twice")
        arguments << QStringList { "--timeout", "2" };
    const auto [said, status] = runClient(arguments);
    QVERIFY2(said.contains(printed), qPrintable(said));
    QTEST(status, "status");
    QVERIFY(!elapsed.isValid() || elapsed.elapsed() < 1500); // a bad command line connects not
}

void TestPrograms::clientListensAcrossAServerRestart()
{
    QTcpServer broadcaster;
    QVERIFY(broadcaster.listen(QHostAddress::LocalHost, 0));
    const quint16 port = broadcaster.serverPort();
    ChildProgram client;
    client.start(QStringLiteral(QX_CLIENT_PROGRAM),
        { "--listen", "--reconnect", "--port", QString::number(port) });
    for (const QByteArray &line : { QByteArray("610263"), QByteArray("42010241") }) {
        QVERIFY(broadcaster.waitForNewConnection(WaitMs));
        QTcpSocket *socket = broadcaster.nextPendingConnection();
        socket->write(line + "\r\n");
        QVERIFY(WaitForLine(client, QString::fromLatin1(line)));
        delete socket; // the server goes away, and comes back
        broadcaster.close();
        QVERIFY(broadcaster.listen(QHostAddress::LocalHost, port));
    }
    QCOMPARE(client.outputLines(), QStringList({ "610263", "42010241" }));
    client.terminate();
    QVERIFY(WaitForExit(client));
    QCOMPARE(client.exitStatus(), 0);
}

void TestPrograms::simulatorRunsItsCommands()
{
    const QString link = m_dir->filePath(QStringLiteral("device"));
    ChildProgram simulator;
    simulator.start(QStringLiteral(QX_SIM_PROGRAM), { "--link", link });
    QVERIFY(WaitForLine(simulator, QStringLiteral("pty: ")));
    QSerialPort port(link);
    QVERIFY(port.open(QIODevice::ReadWrite));
    port.write(QByteArray::fromHex("FFFEF20203F3FFFE42010241"));
    simulator.write("broadcast 61 02 63\nraw 01 02\nbogus\n");
    QVERIFY(WaitForLine(simulator, QStringLiteral("unknown command 'bogus'")));
    QByteArray got;
    QTRY_COMPARE(
        got += port.readAll(), QByteArray::fromHex("FFFE6182E3FFFE42010241FFFD6102630102"));
    simulator.write("unplug\n");
    QVERIFY(QTest::qWaitFor([&] { return !QFileInfo::exists(link); }, WaitMs));
    simulator.write("plug\n");
    QVERIFY(QTest::qWaitFor([&] { return QFileInfo::exists(link); }, WaitMs));
    simulator.write("quit\n");
    QVERIFY(WaitForExit(simulator));
    QCOMPARE(simulator.exitStatus(), 0);
    for (const QStringList &arguments :
        { QStringList { "--delay", "-1" }, QStringList { "--link", link, "--link", link } }) {
        ChildProgram bad;
        bad.start(QStringLiteral(QX_SIM_PROGRAM), arguments);
        QVERIFY(WaitForExit(bad));
        QCOMPARE(bad.exitStatus(), 2);
    }

    // The device keeps only its latest requests: a --simulate server runs for months.
    SimulatedDevice device;
    QVERIFY(device.plug());
    QSerialPort server(device.slavePath());
    QVERIFY(server.open(QIODevice::ReadWrite));
    for (int i = 0; i <= 1000; ++i)
        server.write(QByteArray::fromHex("FFFE21") + char(i >> 8) + char(i));
    const QByteArray latest = QByteArray::fromHex("21") + char(1000 >> 8) + char(1000 & 0xFF);
    QTRY_VERIFY(!device.requests().isEmpty() && device.requests().last() == latest);
    QCOMPARE(device.requests().size(), 1000);
}

QTEST_GUILESS_MAIN(TestPrograms)
#include "test_programs.moc"
