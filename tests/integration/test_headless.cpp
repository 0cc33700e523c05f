#include "core/settings_store.h"
#include "support/tcp_client.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <vector>

#include <csignal>
#include <sys/stat.h>
#include <sys/types.h>

namespace {

constexpr int StartTimeoutMs = 20000;
constexpr int EndTimeoutMs = 10000;

// Two TCP ports that were free a moment ago (never the defaults of the program).
struct FreePorts
{
    quint16 command = 0;
    quint16 broadcast = 0;
};

FreePorts PickFreePorts()
{
    QTcpServer first, second;
    if (!first.listen(QHostAddress::LocalHost, 0) || !second.listen(QHostAddress::LocalHost, 0))
        return {};
    return { first.serverPort(), second.serverPort() };
}

// One qx-server process with its standard error collected.
class ServerProcess
{
public:
    explicit ServerProcess(const QStringList &arguments,
        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
    {
        m_process.setProcessEnvironment(environment);
        QObject::connect(&m_process, &QProcess::readyReadStandardError,
            [this] { m_stderr += QString::fromUtf8(m_process.readAllStandardError()); });
        m_process.start(QStringLiteral(QX_SERVER_PROGRAM), arguments);
    }
    ~ServerProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(EndTimeoutMs);
        }
    }

    QProcess &process() { return m_process; }
    QString standardError()
    {
        m_stderr += QString::fromUtf8(m_process.readAllStandardError());
        return m_stderr;
    }
    bool waitForError(const QString &text, int timeoutMs = StartTimeoutMs)
    {
        return QTest::qWaitFor([&] { return m_stderr.contains(text); }, timeoutMs);
    }
    // Waits for the end; false when the process is still running.
    bool waitForEnd(int timeoutMs = EndTimeoutMs)
    {
        return m_process.state() == QProcess::NotRunning
            || QTest::qWaitFor(
                [&] { return m_process.state() == QProcess::NotRunning; }, timeoutMs);
    }

private:
    QProcess m_process;
    QString m_stderr;
};

} // namespace

// The program as its users run it: qx-server --headless --simulate on free ports.
class TestHeadless : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void servesAndEndsOnSigterm_data();
    void servesAndEndsOnSigterm();
    void searchesUntilDeviceAppears();
    void logsConnectionsWithReasons();
    void secondInstanceEndsAtOnce();
    void failsWhenItCannotServe_data();
    void failsWhenItCannotServe();
    void logsPrioritiesToTheJournal();
    void rejectsBadOptions_data();
    void rejectsBadOptions();

private:
    // The program's arguments: the simulated device unless `device` names other options.
    QStringList serverArguments(const FreePorts &ports, bool headless = true,
        const QStringList &device = { QStringLiteral("--simulate") }) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_settingsPath;
};

void TestHeadless::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_settingsPath = m_dir->filePath(QStringLiteral("settings.ini"));
}

QStringList TestHeadless::serverArguments(
    const FreePorts &ports, bool headless, const QStringList &device) const
{
    QStringList arguments = device;
    arguments += { QStringLiteral("--settings"), m_settingsPath, QStringLiteral("--listen"),
        QStringLiteral("127.0.0.1"), QStringLiteral("--command-port"),
        QString::number(ports.command), QStringLiteral("--broadcast-port"),
        QString::number(ports.broadcast) };
    if (headless)
        arguments.prepend(QStringLiteral("--headless"));
    return arguments;
}

void TestHeadless::servesAndEndsOnSigterm_data()
{
    QTest::addColumn<bool>("headlessOption"); // else: no display, and the program says so
    QTest::addColumn<bool>("verbose");
    QTest::addColumn<int>("storedLanguage"); // "Lang"; 0: none stored
    QTest::addColumn<QString>("runningLine");
    QTest::addColumn<int>("ending"); // the signal that ends it
    QTest::newRow("German without a stored language")
        << true << false << 0 << QStringLiteral("Server läuft ....") << SIGTERM;
    QTest::newRow("English from the stored language")
        << true << false << 100 << QStringLiteral("Server is running ....") << SIGTERM;
    QTest::newRow("no display and no --headless")
        << false << false << 0 << QStringLiteral("Server läuft ....") << SIGTERM;
    QTest::newRow("verbose: every frame in hex")
        << true << true << 0 << QStringLiteral("Server läuft ....") << SIGTERM;
    QTest::newRow("a hang-up ends it as cleanly")
        << true << false << 0 << QStringLiteral("Server läuft ....") << SIGHUP;
}

void TestHeadless::servesAndEndsOnSigterm()
{
    QFETCH(bool, headlessOption);
    QFETCH(bool, verbose);
    QFETCH(int, storedLanguage);
    QFETCH(QString, runningLine);
    QFETCH(int, ending);
    const SettingsStore settings(m_settingsPath);
    if (storedLanguage != 0)
        QCOMPARE(settings.WriteKeyValue(QString::fromLatin1(SettingsKey), QStringLiteral("Lang"),
                     SettingValue::fromNumber(storedLanguage), ValueTypeNumber),
            StoreSuccess);
    const FreePorts ports = PickFreePorts();
    QVERIFY(ports.command != 0 && ports.broadcast != 0);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QTemporaryDir temporary; // the program's temporary folder: no lock of ours goes there
    QVERIFY(temporary.isValid());
    environment.insert(QStringLiteral("TMPDIR"), temporary.path());
    if (!headlessOption) {
        for (const char *name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
            environment.remove(QString::fromLatin1(name));
    }
    QStringList arguments = serverArguments(ports, headlessOption);
    if (verbose)
        arguments << QStringLiteral("--verbose");
    ServerProcess server(arguments, environment);
    QVERIFY2(server.waitForError(runningLine), qPrintable(server.standardError()));

    TcpClient commandClient, listener;
    QVERIFY(commandClient.connectTo(ports.command));
    QVERIFY(listener.connectTo(ports.broadcast));
    commandClient.send("F20203F3\r");
    QVERIFY(commandClient.waitForLine());
    QCOMPARE(commandClient.takeLine(), QByteArray("6182E3\r\n"));
    commandClient.send("2181A0\r");
    QVERIFY(commandClient.waitForLine());
    QCOMPARE(commandClient.takeLine(), QByteArray("2181A0\r\n"));
    QVERIFY(server.waitForError(QStringLiteral("command slot 1: 127.0.0.1 accepted")));
    QVERIFY(server.waitForError(QStringLiteral("broadcast slot 1: 127.0.0.1 accepted")));

    // The start-up stored the program's folder, as the desktop program does.
    QCOMPARE(
        settings.ReadKeyValue(QString::fromLatin1(VendorKey), QStringLiteral("SP"), {}).toText(),
        QFileInfo(QStringLiteral(QX_SERVER_PROGRAM)).absolutePath() + QLatin1Char('/'));

    // One instance per settings store: the lock lies beside the settings.
    QVERIFY(QFileInfo::exists(m_settingsPath + QStringLiteral(".instance.lock")));
    QVERIFY(QDir(temporary.path())
                .entryList({ QStringLiteral("*.lock") }, QDir::AllEntries | QDir::Hidden)
                .isEmpty());

    QSignalSpy finished(&server.process(), &QProcess::finished);
    QCOMPARE(::kill(pid_t(server.process().processId()), ending), 0);
    QVERIFY(finished.wait(EndTimeoutMs));
    QCOMPARE(server.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.process().exitCode(), 0);
    QVERIFY(commandClient.waitForDisconnected());
    QVERIFY(listener.waitForDisconnected());
    QVERIFY(server.standardError().contains(
        QStringLiteral("Ending on %1").arg(ending == SIGHUP ? "SIGHUP" : "SIGTERM")));

    // Every log line carries its time stamp; the notice about the display comes before the log.
    static const QRegularExpression stamped(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} "));
    QStringList lines = server.standardError().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (!headlessOption)
        QCOMPARE(
            lines.takeFirst(), QStringLiteral("qx-server: no display available, running headless"));
    QVERIFY(lines.size() >= 3);
    for (const QString &line : lines)
        QVERIFY2(stamped.match(line).hasMatch(), qPrintable(line));
    QCOMPARE(server.standardError().contains(QStringLiteral(">> FF FE 21 81 A0")), verbose);
}

void TestHeadless::searchesUntilDeviceAppears()
{
    // The device is a separate simulator that comes only after the server has given up once.
    // Port 2 is a file that is no serial port; every other number names nothing, so no real
    // serial port is touched.
    const QString link = m_dir->filePath(QStringLiteral("qx-usb"));
    QStringList device = { QStringLiteral("--port"), QStringLiteral("1=") + link,
        QStringLiteral("--port"), QStringLiteral("2=/dev/null") };
    for (int number = 3; number <= 30; ++number)
        device << QStringLiteral("--port")
               << QStringLiteral("%1=%2").arg(number).arg(
                      m_dir->filePath(QStringLiteral("missing-%1").arg(number)));
    const FreePorts ports = PickFreePorts();
    QVERIFY(ports.command != 0 && ports.broadcast != 0);
    ServerProcess server(serverArguments(ports, true, device));
    QVERIFY2(server.waitForError(QStringLiteral("warning: Kein Interface QX-USB gefunden !")),
        qPrintable(server.standardError()));
    QVERIFY(!server.standardError().contains(QStringLiteral("Server läuft")));
    // A port that will not open is logged with the system's reason.
    static const QRegularExpression notOpening(
        QStringLiteral("warning: port 2 \\(/dev/null\\) does not open: \\S"));
    QVERIFY2(
        notOpening.match(server.standardError()).hasMatch(), qPrintable(server.standardError()));

    QProcess simulator;
    simulator.start(QStringLiteral(QX_SIM_PROGRAM), { QStringLiteral("--link"), link });
    const auto endSimulator = qScopeGuard([&] {
        simulator.kill();
        simulator.waitForFinished(EndTimeoutMs);
    });
    QVERIFY2(server.waitForError(QStringLiteral("Server läuft ....")),
        qPrintable(server.standardError()));

    TcpClient commandClient, listener;
    QVERIFY(commandClient.connectTo(ports.command));
    QVERIFY(listener.connectTo(ports.broadcast));
    QVERIFY(server.waitForError(QStringLiteral("broadcast slot 1: 127.0.0.1 accepted")));
    commandClient.send("F20203F3\r");
    QVERIFY(commandClient.waitForLine());
    QCOMPARE(commandClient.takeLine(), QByteArray("6182E3\r\n"));
    simulator.write("broadcast 61 02 63\n");
    QVERIFY(listener.waitForLine());
    QCOMPARE(listener.takeLine(), QByteArray("610263\r\n"));

    QSignalSpy finished(&server.process(), &QProcess::finished);
    server.process().terminate();
    QVERIFY(finished.wait(EndTimeoutMs));
    QCOMPARE(server.process().exitCode(), 0);
}

void TestHeadless::logsConnectionsWithReasons()
{
    const FreePorts ports = PickFreePorts();
    QVERIFY(ports.command != 0 && ports.broadcast != 0);
    ServerProcess server(serverArguments(ports));
    QVERIFY2(server.waitForError(QStringLiteral("Server läuft ....")),
        qPrintable(server.standardError()));

    TcpClient programmer, other, turnedAway;
    QVERIFY(programmer.connectTo(ports.command));
    QVERIFY(server.waitForError(QStringLiteral("command slot 1: 127.0.0.1 accepted")));
    QVERIFY(other.connectTo(ports.command));
    QVERIFY(server.waitForError(QStringLiteral("command slot 2: 127.0.0.1 accepted")));
    programmer.send("22150000\r");
    QVERIFY(programmer.waitForLine());
    QVERIFY(other.waitForDisconnected());
    QVERIFY(
        server.waitForError(QStringLiteral("command slot 2: 127.0.0.1 closed (programming mode)")));
    QVERIFY(turnedAway.connectTo(ports.command));
    QVERIFY(turnedAway.waitForDisconnected());
    QVERIFY(server.waitForError(
        QStringLiteral("command connection from 127.0.0.1 refused (programming mode)")));
    programmer.close();
    QVERIFY(server.waitForError(
        QStringLiteral("command slot 1: 127.0.0.1 closed (closed by the client)")));
}

void TestHeadless::secondInstanceEndsAtOnce()
{
    const FreePorts ports = PickFreePorts();
    QVERIFY(ports.command != 0 && ports.broadcast != 0);
    ServerProcess first(serverArguments(ports));
    QVERIFY2(
        first.waitForError(QStringLiteral("Server läuft ....")), qPrintable(first.standardError()));

    const FreePorts otherPorts = PickFreePorts();
    ServerProcess second(serverArguments(otherPorts));
    QVERIFY(second.waitForEnd());
    QCOMPARE(second.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.process().exitCode(), 0);
    const QString said = second.standardError();
    QCOMPARE(said.count(QLatin1Char('\n')), 1);
    QVERIFY(said.endsWith(QLatin1Char('\n')));

    // The first one serves on.
    TcpClient client;
    QVERIFY(client.connectTo(ports.command));
    client.send("F20203F3\r");
    QVERIFY(client.waitForLine());
    QCOMPARE(client.takeLine(), QByteArray("6182E3\r\n"));
}

void TestHeadless::rejectsBadOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("unknown option") << QStringList { QStringLiteral("--frobnicate") };
    QTest::newRow("unexpected argument") << QStringList { QStringLiteral("extra") };
    QTest::newRow("command port out of range")
        << QStringList { QStringLiteral("--command-port"), QStringLiteral("65536") };
    QTest::newRow("broadcast port not a number")
        << QStringList { QStringLiteral("--broadcast-port"), QStringLiteral("many") };
    QTest::newRow("serial port number outside 1 to 30")
        << QStringList { QStringLiteral("--port"), QStringLiteral("31=/dev/null") };
    QTest::newRow("listen address that is no address")
        << QStringList { QStringLiteral("--listen"), QStringLiteral("nowhere") };
    QTest::newRow("option value missing") << QStringList { QStringLiteral("--settings") };
}

void TestHeadless::rejectsBadOptions()
{
    QFETCH(QStringList, arguments);
    // Should an option be taken after all, the server must not come up on the usual ports.
    const FreePorts ports = PickFreePorts();
    QStringList all = { QStringLiteral("--headless"), QStringLiteral("--command-port"),
        QString::number(ports.command), QStringLiteral("--broadcast-port"),
        QString::number(ports.broadcast), QStringLiteral("--settings"), m_settingsPath };
    all += arguments;

    ServerProcess server(all);
    QVERIFY(server.waitForEnd());
    QCOMPARE(server.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.process().exitCode(), 2);
    QVERIFY(!server.standardError().isEmpty());
    QCOMPARE(server.process().readAllStandardOutput(), QByteArray());
}

void TestHeadless::failsWhenItCannotServe_data()
{
    QTest::addColumn<QString>("taken"); // "command" or "broadcast": that port is held by another
    QTest::addColumn<QString>("settings"); // "fifo" or "folder": the settings path is no file
    QTest::addColumn<QString>("error");

    QTest::newRow("command port taken")
        << "command" << QString() << "error: Command service cannot listen on port {port}: ";
    QTest::newRow("broadcast port taken")
        << "broadcast" << QString() << "error: Broadcast service cannot listen on port {port}: ";
    QTest::newRow("settings path is a FIFO")
        << QString() << "fifo"
        << "error: the settings path {settings} is not a regular file";
    QTest::newRow("settings path is a folder")
        << QString() << "folder"
        << "error: the settings path {settings} is not a regular file";
}

// A service manager must see a server that cannot serve fail, with the reason in its log.
void TestHeadless::failsWhenItCannotServe()
{
    QFETCH(QString, taken);
    QFETCH(QString, settings);
    QFETCH(QString, error);
    FreePorts ports = PickFreePorts();
    QVERIFY(ports.command != 0 && ports.broadcast != 0);
    QTcpServer other;
    if (!taken.isEmpty()) {
        QVERIFY(other.listen(QHostAddress::LocalHost, 0));
        (taken == "command" ? ports.command : ports.broadcast) = other.serverPort();
    }
    if (settings == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(m_settingsPath).constData(), 0600), 0);
    else if (settings == "folder")
        QVERIFY(QDir().mkpath(m_settingsPath));

    ServerProcess server(serverArguments(ports));
    QVERIFY2(server.waitForEnd(), qPrintable(server.standardError()));
    QCOMPARE(server.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.process().exitCode(), 1);
    const QString expected
        = QString(error)
              .replace(QStringLiteral("{port}"), QString::number(other.serverPort()))
              .replace(QStringLiteral("{settings}"), m_settingsPath);
    QVERIFY2(server.standardError().contains(expected), qPrintable(server.standardError()));
    QVERIFY(!server.standardError().contains(QStringLiteral("Server läuft")));
}

// Under a service manager standard error is the journal: it stamps the time itself, and each
// line starts with its syslog priority so that `journalctl -p` can filter.
void TestHeadless::logsPrioritiesToTheJournal()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString log = folder.filePath(QStringLiteral("journal"));
    QFile file(log);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    struct stat journal
    {
    };
    QCOMPARE(::stat(QFile::encodeName(log).constData(), &journal), 0);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("JOURNAL_STREAM"),
        QStringLiteral("%1:%2").arg(journal.st_dev).arg(journal.st_ino));
    // A port that is no serial port gives a warning; nothing else names a device.
    const QStringList device = { QStringLiteral("--port"), QStringLiteral("1=/dev/null") };
    const FreePorts ports = PickFreePorts();

    QProcess server;
    server.setProcessEnvironment(environment);
    server.setStandardErrorFile(log);
    server.start(QStringLiteral(QX_SERVER_PROGRAM), serverArguments(ports, true, device));
    const auto logged = [&] {
        QFile read(log);
        return read.open(QIODevice::ReadOnly) ? QString::fromUtf8(read.readAll()) : QString();
    };
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                     return logged().contains(
                         QStringLiteral("<4>port 1 (/dev/null) does not open"));
                 },
                 StartTimeoutMs),
        qPrintable(logged()));
    server.terminate();
    QVERIFY(server.waitForFinished(EndTimeoutMs));
    QCOMPARE(server.exitCode(), 0);

    static const QRegularExpression priority(QStringLiteral("^<[3467]>\\D"));
    const QStringList lines = logged().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY(lines.size() >= 3);
    for (const QString &line : lines)
        QVERIFY2(priority.match(line).hasMatch(), qPrintable(line));
    QVERIFY(logged().contains(QStringLiteral("<6>Ending on SIGTERM")));
}

QTEST_GUILESS_MAIN(TestHeadless)
#include "test_headless.moc"
