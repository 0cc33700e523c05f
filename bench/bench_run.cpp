#include "bench_run.h"

#include "broadcast_burst.h"
#include "child_program.h"
#include "free_port.h"
#include "server_setup.h"
#include "step_run.h"
#include "tagged_message.h"

#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTimer>

#include <cmath>
#include <memory>
#include <numeric>

namespace {

constexpr int WarmUpCommands = 100;
constexpr int RoundTripCommands = 1000;
constexpr int ThroughputCommands = 10000;
constexpr int ManyClients = 100;
constexpr int CommandsPerClient = 100;
constexpr int BurstBroadcasts = 10000;
constexpr int BurstRounds = 5; // a burst takes milliseconds: the median of five, per path
constexpr int LineRateWarmUpCommands = 20;
constexpr int LineRateCommands = 600; // about 2 s at 57600 baud
const QString LineRateBaud = QStringLiteral("57600");
constexpr std::chrono::seconds IdleTime { 10 };
constexpr std::chrono::seconds SilentWaitTime { 5 };
constexpr std::chrono::seconds StartTimeout { 20 };
constexpr std::chrono::seconds StepTimeout { 60 };
const Path Paths[] = { Path::Direct, Path::Server, Path::Socat };

// The nearest-rank percentile: the smallest sample with `percent` of all at or below it.
double Percentile(QList<double> samples, double percent)
{
    std::sort(samples.begin(), samples.end());
    const auto rank = qsizetype(std::ceil(percent / 100.0 * double(samples.size())));
    return samples.value(std::max<qsizetype>(rank - 1, 0)); // 0 for no samples
}

QList<double> ToDouble(const QList<qint64> &values)
{
    return QList<double>(values.cbegin(), values.cend());
}

// Commands per second of a client whose commands followed each other without a pause.
double PerSecond(const QList<qint64> &roundTripsUs)
{
    const double us
        = double(std::accumulate(roundTripsUs.cbegin(), roundTripsUs.cend(), qint64(0)));
    return us > 0 ? double(roundTripsUs.size()) * 1e6 / us : 0;
}

} // namespace

BenchRun::BenchRun(QObject *parent)
    : QObject(parent)
    , m_steps(new StepRun(QStringLiteral("qx-bench"), this))
    , m_clientOwner(new QObject(this))
{
    connect(m_steps, &StepRun::finished, this, [this] {
        m_figures.errors = m_steps->failures();
        Q_EMIT finished();
    });
    for (ChildProgram *&device : m_devices)
        device = new ChildProgram(this);
}

void BenchRun::start()
{
    m_steps->add(QStringLiteral("starting five simulated devices"), [this] { startDevices(); });
    m_steps->add(
        QStringLiteral("starting qx-server twice (one on the 57600 baud device) and socat"),
        [this] { startPrograms(); });
    m_steps->add(QStringLiteral("idle CPU of qx-server over 10 s"),
        [this] { measureCpu(IdleTime, Figure::IdleCpuPercent); });
    m_steps->add(QStringLiteral("connecting a client on each path"), [this] { openClients(); });
    addPathSteps();
    addServerSteps();
    m_steps->add(QStringLiteral("ending the programs"), [this] { stopAll(); });
    m_steps->start();
}

// The paths side by side, taking turns.
void BenchRun::addPathSteps()
{
    m_steps->add(QStringLiteral("command round trip: 1,000 commands on each path in turn"), [this] {
        runCommands(m_pathClients, WarmUpCommands, RoundTripCommands, true, [this](const auto &r) {
            for (const Path path : Paths) {
                const QList<double> us = ToDouble(r.roundTripsUs.at(int(path)));
                m_figures.at(Figure::RoundTripMedianUs, path) = Percentile(us, 50);
                m_figures.at(Figure::RoundTripP99Us, path) = Percentile(us, 99);
            }
        });
    });
    m_steps->add(
        QStringLiteral("commands per second: 10,000 commands on each path in turn"), [this] {
            runCommands(m_pathClients, 0, ThroughputCommands, true, [this](const auto &r) {
                for (const Path path : Paths)
                    m_figures.at(Figure::CommandsPerSecond, path)
                        = PerSecond(r.roundTripsUs.at(int(path)));
            });
        });
    for (int round = 1; round <= BurstRounds; ++round)
        m_steps->add(QStringLiteral("10,000 broadcasts to 1 client on each path, %1 of %2")
                         .arg(round)
                         .arg(BurstRounds),
            [this] { runBursts(0); });
    m_steps->add(
        QStringLiteral("at 57600 baud: 600 commands, direct and qx-server in turn"), [this] {
            runCommands(m_pacedClients, LineRateWarmUpCommands, LineRateCommands, true,
                [this](const auto &r) {
                    for (const Path path : { Path::Direct, Path::Server })
                        m_figures.at(Figure::LineRateCommandsPerSecond, path)
                            = PerSecond(r.roundTripsUs.at(int(path)));
                });
        });
}

// What only the server has: many clients, and the process itself.
void BenchRun::addServerSteps()
{
    m_steps->add(QStringLiteral("qx-server: 99 more command and broadcast clients"),
        [this] { openServerClients(ManyClients - 1); });
    m_steps->add(QStringLiteral("qx-server: 100 clients × 100 commands"), [this] {
        runCommands(m_commandClients, 0, CommandsPerClient, false, [this](const auto &r) {
            m_figures.at(Figure::CommandsPerSecond100, Path::Server) = r.perSecond;
            m_figures.foreignAnswers100 = r.wrong;
        });
    });
    m_steps->add(QStringLiteral("qx-server: 10,000 broadcasts to 100 clients"), [this] {
        runBurst(m_broadcastClients, ServerDevice, [this](double seconds) {
            m_figures.at(Figure::Burst100Ms, Path::Server) = seconds * 1000;
            // The memory with all 200 clients, just after the server has served every one.
            if (const std::optional<qint64> bytes = m_server->residentBytes())
                m_figures.at(Figure::ResidentMb200, Path::Server) = double(*bytes) / 1e6;
            m_steps->next();
        });
    });
    // The wait is measured as the idle CPU is, with one client: 200 idle connections cost every
    // pass of the event loop a poll of their sockets, which is not the wait's doing.
    m_steps->add(QStringLiteral("qx-server: back to one client of each service"), [this] {
        for (const QList<DeviceClient *> *clients : { &m_commandClients, &m_broadcastClients }) {
            for (DeviceClient *client : clients->mid(1))
                client->deleteLater();
        }
        m_commandClients.resize(1);
        m_broadcastClients.resize(1);
        QTimer::singleShot(std::chrono::seconds(1), m_steps->scope(), [this] { m_steps->next(); });
    });
    m_steps->add(QStringLiteral("CPU of qx-server while a command waits on a silent device"),
        [this] { measureSilentWait(); });
}

// ---- programs and clients --------------------------------------------------------------------

void BenchRun::startDevices()
{
    auto waiting = std::make_shared<int>(DeviceCount);
    for (int device = 0; device < DeviceCount; ++device) {
        const bool paced = device == PacedDirectDevice || device == PacedServerDevice;
        m_devices[device]->start(QStringLiteral(QX_BENCH_SIM),
            paced ? QStringList { QStringLiteral("--baud"), LineRateBaud } : QStringList());
        // Each prints "pty: PATH" once its device is there.
        m_devices[device]->waitForLine(QStringLiteral("pty: "), StartTimeout,
            [this, device, waiting](const std::optional<QString> &line) {
                if (!line) {
                    m_steps->fail(QStringLiteral("qx-sim: ") + m_devices[device]->endDescription());
                    return;
                }
                m_ptys[device] = line->mid(line->indexOf(QLatin1Char(' ')) + 1);
                if (--*waiting == 0)
                    m_steps->next();
            });
    }
}

void BenchRun::startPrograms()
{
    const QString socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
    if (socat.isEmpty()) {
        m_steps->fail(QStringLiteral("socat is not installed (scripts/install-deps socat)"));
        return;
    }
    auto waiting = std::make_shared<int>(3);
    const auto ready = [this, waiting](ChildProgram *program, const QString &name) {
        return [this, waiting, program, name](const std::optional<QString> &line) {
            if (!line)
                m_steps->fail(
                    QStringLiteral("%1 did not start: %2: %3")
                        .arg(name, program->endDescription(), program->errorLines().join(u'\n')));
            else if (--*waiting == 0)
                m_steps->next();
        };
    };
    for (const Device device : { ServerDevice, PacedServerDevice }) {
        const ServerSetup setup = ServerSetup::onFreePorts(
            m_ptys[device], m_dir.filePath(QStringLiteral("settings-%1.ini").arg(device)));
        ChildProgram *&server = device == ServerDevice ? m_server : m_pacedServer;
        server = new ChildProgram(this);
        server->start(QStringLiteral(QX_BENCH_SERVER), setup.arguments());
        server->waitForLine(
            ServerRunningLine, StartTimeout, ready(server, QStringLiteral("qx-server")));
        (device == ServerDevice ? m_commandPort : m_pacedCommandPort) = setup.commandPort;
        if (device == ServerDevice)
            m_broadcastPort = setup.broadcastPort;
    }
    m_socatPort = FreeLoopbackPort();
    m_socat = new ChildProgram(this);
    // -d -d: socat says when it listens.
    m_socat->start(socat,
        { QStringLiteral("-d"), QStringLiteral("-d"),
            QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr,nodelay").arg(m_socatPort),
            QStringLiteral("FILE:%1,rawer").arg(m_ptys[SocatDevice]) });
    m_socat->waitForLine(
        QStringLiteral("listening on"), StartTimeout, ready(m_socat, QStringLiteral("socat")));
}

DeviceClient *BenchRun::client(DeviceClient::Kind kind, const QString &pty, quint16 port)
{
    auto *client = new DeviceClient(kind, pty, port, m_clientOwner);
    // Whichever step runs, a client that fails fails it.
    connect(client, &DeviceClient::failed, m_steps, &StepRun::fail);
    return client;
}

void BenchRun::openClients()
{
    using Kind = DeviceClient::Kind;
    DeviceClient *direct = client(Kind::Pty, m_ptys[DirectDevice]);
    DeviceClient *socat = client(Kind::Bridge, {}, m_socatPort);
    m_commandClients = { client(Kind::CommandService, {}, m_commandPort) };
    m_broadcastClients = { client(Kind::BroadcastService, {}, m_broadcastPort) };
    m_pathClients = { direct, m_commandClients.first(), socat };
    m_pathReceivers = { direct, m_broadcastClients.first(), socat };
    m_pacedClients = { client(Kind::Pty, m_ptys[PacedDirectDevice]),
        client(Kind::CommandService, {}, m_pacedCommandPort) };
    openAll(m_pathClients + m_pathReceivers.mid(1, 1) + m_pacedClients);
}

void BenchRun::openServerClients(int count)
{
    QList<DeviceClient *> clients;
    for (int i = 0; i < count; ++i) {
        m_commandClients.append(client(DeviceClient::Kind::CommandService, {}, m_commandPort));
        m_broadcastClients.append(
            client(DeviceClient::Kind::BroadcastService, {}, m_broadcastPort));
        clients << m_commandClients.last() << m_broadcastClients.last();
    }
    openAll(clients);
}

void BenchRun::openAll(const QList<DeviceClient *> &clients)
{
    auto waiting = std::make_shared<qsizetype>(clients.size());
    for (DeviceClient *client : clients) {
        connect(client, &DeviceClient::opened, m_steps->scope(), [this, waiting] {
            if (--*waiting == 0)
                m_steps->next();
        });
        client->open();
    }
    QTimer::singleShot(StepTimeout, m_steps->scope(), [this, waiting] {
        m_steps->fail(QStringLiteral("%1 connections not opened in time").arg(*waiting));
    });
}

void BenchRun::stopAll()
{
    // The clients go first: a connection that an ending server closes is no failure.
    delete m_clientOwner;
    m_clientOwner = nullptr;
    m_devices[ServerDevice]->write("silent off\n");
    QList<ChildProgram *> programs(m_devices.cbegin(), m_devices.cend());
    for (ChildProgram *program : { m_server, m_pacedServer, m_socat }) {
        if (program)
            programs.append(program);
    }
    auto waiting = std::make_shared<qsizetype>(programs.size());
    for (ChildProgram *program : programs) {
        const bool server = program == m_server || program == m_pacedServer;
        program->waitForExit([this, waiting, program, server] {
            if (server)
                m_figures.serverEnds.append(program->endDescription());
            if (--*waiting == 0)
                m_steps->next();
        });
        if (m_devices.cend() != std::find(m_devices.cbegin(), m_devices.cend(), program))
            program->closeInput(); // a simulator ends with its input
        else
            program->terminate();
    }
}

// ---- measurements ----------------------------------------------------------------------------

void BenchRun::runCommands(
    const QList<DeviceClient *> &clients, int warmUp, int commands, bool inTurn, Store store)
{
    auto *load = new CommandLoad(clients, warmUp > 0 ? warmUp : commands, inTurn, m_steps->scope());
    connect(load, &CommandLoad::finished, this, [=](const CommandLoad::Result &result) {
        m_figures.wrongAnswers += result.wrong;
        if (!result.error.isEmpty()) {
            m_steps->fail(result.error);
        } else if (warmUp > 0) {
            runCommands(clients, 0, commands, inTurn, store); // the measured part
        } else {
            store(result);
            m_steps->next();
        }
    });
    load->start(StepTimeout);
}

void BenchRun::runBursts(int path)
{
    if (path == int(Path::Count)) {
        m_steps->next();
        return;
    }
    const Device device = path == int(Path::Direct) ? DirectDevice
        : path == int(Path::Server)                 ? ServerDevice
                                                    : SocatDevice;
    runBurst({ m_pathReceivers.at(path) }, device, [this, path](double seconds) {
        QList<double> &samples = m_burstSamples[path];
        samples.append(BurstBroadcasts / seconds);
        m_figures.at(Figure::BurstFramesPerSecond, Path(path)) = Percentile(samples, 50);
        runBursts(path + 1);
    });
}

void BenchRun::runBurst(const QList<DeviceClient *> &receivers, Device device,
    std::function<void(double seconds)> store)
{
    auto *burst = new BroadcastBurst(
        receivers, *m_devices[device], m_nextBroadcast, BurstBroadcasts, m_steps->scope());
    m_nextBroadcast += BurstBroadcasts;
    connect(burst, &BroadcastBurst::finished, this, [this, store](const auto &result) {
        if (!result.error.isEmpty())
            m_steps->fail(result.error);
        else
            store(double(std::max<qint64>(result.elapsedUs, 1)) / 1e6);
    });
    burst->start(StepTimeout);
}

void BenchRun::measureCpu(std::chrono::milliseconds span, Figure figure)
{
    const std::optional<qint64> before = m_server->cpuMilliseconds();
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QTimer::singleShot(span, Qt::PreciseTimer, m_steps->scope(), [this, before, clock, figure] {
        const std::optional<qint64> now = m_server->cpuMilliseconds();
        if (!before || !now) {
            m_steps->fail(QStringLiteral("no CPU time of qx-server in /proc"));
            return;
        }
        m_figures.at(figure, Path::Server)
            = 100.0 * double(*now - *before) / double(clock->elapsed());
        m_steps->next();
    });
}

void BenchRun::measureSilentWait()
{
    // Each command times out with 010100 after 2 s, and the next one waits again.
    m_devices[ServerDevice]->write("silent on\n");
    DeviceClient *client = m_commandClients.constFirst();
    auto counter = std::make_shared<quint32>(0);
    const auto send = [client, counter] {
        client->send(TaggedMessage::message(TaggedMessage::commandNumber(0, (*counter)++)));
    };
    connect(client, &DeviceClient::answer, m_steps->scope(), send);
    measureCpu(SilentWaitTime, Figure::WaitCpuPercent);
    send();
}
