#include "bench_run.h"

#include "child_program.h"
#include "free_port.h"
#include "tagged_message.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>

#include <cmath>
#include <limits>
#include <memory>
#include <numeric>

namespace {

constexpr int WarmUpCommands = 100;
constexpr int RoundTripCommands = 1000;
constexpr int ThroughputCommands = 10000;
constexpr int ManyClients = 100;
constexpr int CommandsPerClient = 100;
constexpr int BurstBroadcasts = 10000;
constexpr int BurstRounds = 25; // a burst takes milliseconds: the median of 25, per path
constexpr int LineRateWarmUpCommands = 20;
constexpr int LineRateCommands = 600; // about 2 s at 57600 baud
const QString LineRateBaud = QStringLiteral("57600");
constexpr std::chrono::seconds IdleTime { 10 };
constexpr std::chrono::seconds SilentWaitTime { 5 };
constexpr std::chrono::seconds StartTimeout { 20 };
constexpr std::chrono::seconds StepTimeout { 60 };
// Frames per "raw" line: the simulator takes lines of up to 64 KiB.
constexpr quint32 FramesPerLine = 2000;
const QByteArray BroadcastStart("\xFF\xFD", 2);

// The nearest-rank percentile: the smallest sample with `percent` of all at or below it.
double Percentile(QList<double> samples, double percent)
{
    std::sort(samples.begin(), samples.end());
    const auto rank = qsizetype(std::ceil(percent / 100.0 * double(samples.size())));
    return samples.value(std::max<qsizetype>(rank - 1, 0)); // 0 for no samples
}

// Commands per second of a client whose commands followed each other without a pause.
double PerSecond(const QList<double> &roundTripsUs)
{
    const double us = std::accumulate(roundTripsUs.cbegin(), roundTripsUs.cend(), 0.0);
    return us > 0 ? double(roundTripsUs.size()) * 1e6 / us : 0;
}

// The simulator's commands that write broadcasts first .. end - 1.
QByteArray RawLines(quint32 first, quint32 end)
{
    QByteArray commands;
    for (quint32 lineStart = first; lineStart < end; lineStart += FramesPerLine) {
        QByteArray frames;
        for (quint32 number = lineStart; number < std::min(lineStart + FramesPerLine, end);
             ++number)
            frames += BroadcastStart + TaggedMessage::message(number);
        commands += "raw " + frames.toHex() + '\n';
    }
    return commands;
}

} // namespace

BenchRun::BenchRun(const QString &server, QObject *parent)
    : QObject(parent)
    , m_serverProgram(server)
{ }

void BenchRun::start(std::function<void(const Figures &figures)> finished)
{
    connect(m_steps, &StepRun::finished, this, [this, finished] {
        m_figures.errors = m_steps->failures();
        finished(m_figures);
    });
    step(QStringLiteral("starting five simulated devices"), [this] { startDevices(); });
    step(QStringLiteral("starting qx-server twice (one on the 57600 baud device) and socat"),
        [this] { startPrograms(); });
    step(QStringLiteral("idle CPU of qx-server over 10 s"),
        [this] { measureCpu(IdleTime, Figure::IdleCpuPercent); });
    step(QStringLiteral("connecting a client on each path"), [this] { openClients(); });
    addPathSteps();
    addServerSteps();
    step(QStringLiteral("ending the programs"), [this] { stopAll(); });
    m_steps->start();
}

// The paths side by side, taking turns.
void BenchRun::addPathSteps()
{
    step(QStringLiteral("command round trip: 1,000 commands on each path in turn"), [this] {
        runCommands(m_pathClients, WarmUpCommands, RoundTripCommands, true, [this](auto &r) {
            for (int path = 0; path < r.roundTripsUs.size(); ++path) {
                const QList<double> &us = r.roundTripsUs.at(path);
                m_figures.at(Figure::RoundTripMedianUs, Path(path)) = Percentile(us, 50);
                m_figures.at(Figure::RoundTripP99Us, Path(path)) = Percentile(us, 99);
            }
        });
    });
    step(QStringLiteral("commands per second: 10,000 commands on each path in turn"), [this] {
        runCommands(
            m_pathClients, 0, ThroughputCommands, true, storePerSecond(Figure::CommandsPerSecond));
    });
    for (int round = 1; round <= BurstRounds; ++round)
        step(QStringLiteral("10,000 broadcasts to 1 client on each path, %1 of %2")
                 .arg(round)
                 .arg(BurstRounds),
            [this] { runBursts(0); });
    step(QStringLiteral("at 57600 baud: 600 commands, direct and qx-server in turn"), [this] {
        runCommands(m_pacedClients, LineRateWarmUpCommands, LineRateCommands, true,
            storePerSecond(Figure::LineRateCommandsPerSecond));
    });
}

// What only the server has: many clients, and the process itself.
void BenchRun::addServerSteps()
{
    step(QStringLiteral("qx-server: 99 more command and broadcast clients"),
        [this] { openServerClients(ManyClients - 1); });
    step(QStringLiteral("qx-server: 100 clients × 100 commands"), [this] {
        runCommands(m_commandClients, 0, CommandsPerClient, false, [this](const auto &r) {
            m_figures.at(Figure::CommandsPerSecond100, Path::Server) = r.perSecond;
            m_figures.foreignAnswers100 = r.wrong;
        });
    });
    step(QStringLiteral("qx-server: 10,000 broadcasts to 100 clients"), [this] {
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
    step(QStringLiteral("qx-server: back to one client of each service"), [this] {
        for (QList<DeviceClient *> *clients : { &m_commandClients, &m_broadcastClients }) {
            qDeleteAll(clients->mid(1));
            clients->resize(1);
        }
        QTimer::singleShot(std::chrono::seconds(1), m_steps->scope(), [this] { m_steps->next(); });
    });
    // Each command gets 010100 after 2 s and the next one waits again: a load without end, whose
    // answers are no echoes and count nowhere.
    step(QStringLiteral("CPU of qx-server while a command waits on a silent device"), [this] {
        m_devices[ServerDevice]->write("silent on\n");
        measureCpu(SilentWaitTime, Figure::WaitCpuPercent);
        runCommands(
            { m_commandClients.constFirst() }, 0, std::numeric_limits<int>::max(), true, {});
    });
}

// Every step has a time limit: a load, a burst or a client that stalls fails its step.
void BenchRun::step(const QString &name, std::function<void()> begin)
{
    m_steps->add(name, StepTimeout, std::move(begin));
}

std::function<void()> BenchRun::countdown(qsizetype calls)
{
    auto left = std::make_shared<qsizetype>(calls);
    return [this, left] {
        if (--*left == 0)
            m_steps->next();
    };
}

ChildProgram *BenchRun::launch(const QString &program, const QStringList &arguments,
    const QRegularExpression &ready, std::function<void(const QString &line)> started)
{
    auto *child = new ChildProgram(this);
    child->start(program, arguments);
    child->waitForLine(ready, StartTimeout, [=](const std::optional<QString> &line) {
        if (line)
            return started(*line);
        m_steps->fail(QStringLiteral("%1 did not start: %2: %3")
                          .arg(QFileInfo(program).fileName(), child->endDescription(),
                              child->errorLines().join(u'\n')));
    });
    return child;
}

void BenchRun::startDevices()
{
    const std::function<void()> started = countdown(DeviceCount);
    for (int device = 0; device < DeviceCount; ++device) {
        const bool paced = device == PacedDirectDevice || device == PacedServerDevice;
        // Each prints "pty: PATH" once its device is there.
        m_devices[device] = launch(QStringLiteral(QX_BENCH_SIM),
            paced ? QStringList { QStringLiteral("--baud"), LineRateBaud } : QStringList(),
            QRegularExpression(QStringLiteral("pty: ")),
            [this, device, started](const QString &line) {
                m_ptys[device] = line.mid(line.indexOf(QLatin1Char(' ')) + 1);
                started();
            });
    }
}

void BenchRun::startPrograms()
{
    const QString socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
    if (socat.isEmpty())
        return m_steps->fail(QStringLiteral("socat is not installed (scripts/install-deps socat)"));
    const std::function<void()> ready = countdown(3);
    const auto started = [ready](const QString &) { ready(); };
    m_setup = ServerSetup::onFreePorts(
        m_ptys[ServerDevice], m_dir.filePath(QStringLiteral("server.ini")));
    m_pacedSetup = ServerSetup::onFreePorts(
        m_ptys[PacedServerDevice], m_dir.filePath(QStringLiteral("paced.ini")));
    m_server = launch(m_serverProgram, m_setup.arguments(), ServerRunningLine, started);
    m_pacedServer = launch(m_serverProgram, m_pacedSetup.arguments(), ServerRunningLine, started);
    m_socatPort = FreeLoopbackPort();
    // -d -d: socat says when it listens.
    ChildProgram *bridge = launch(socat,
        { QStringLiteral("-d"), QStringLiteral("-d"),
            QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr,nodelay").arg(m_socatPort),
            QStringLiteral("FILE:%1,rawer").arg(m_ptys[SocatDevice]) },
        QRegularExpression(QStringLiteral("listening on")), started);
    m_pathPrograms = { nullptr, m_server, bridge };
}

DeviceClient *BenchRun::client(DeviceClient::Kind kind, quint16 port, const QString &pty)
{
    auto *client = new DeviceClient(kind, pty, port, m_clientOwner);
    // Whichever step runs, a client that fails fails it.
    connect(client, &DeviceClient::failed, m_steps, &StepRun::fail);
    return client;
}

void BenchRun::openClients()
{
    using Kind = DeviceClient::Kind;
    DeviceClient *direct = client(Kind::Pty, 0, m_ptys[DirectDevice]);
    DeviceClient *socat = client(Kind::Bridge, m_socatPort);
    m_commandClients = { client(Kind::CommandService, m_setup.commandPort) };
    m_broadcastClients = { client(Kind::BroadcastService, m_setup.broadcastPort) };
    m_pathClients = { direct, m_commandClients.first(), socat };
    m_pathReceivers = { direct, m_broadcastClients.first(), socat };
    m_pacedClients = { client(Kind::Pty, 0, m_ptys[PacedDirectDevice]),
        client(Kind::CommandService, m_pacedSetup.commandPort) };
    openAll(m_pathClients + m_pathReceivers.mid(1, 1) + m_pacedClients);
}

void BenchRun::openServerClients(int count)
{
    QList<DeviceClient *> clients;
    for (int i = 0; i < count; ++i) {
        m_commandClients << client(DeviceClient::Kind::CommandService, m_setup.commandPort);
        m_broadcastClients << client(DeviceClient::Kind::BroadcastService, m_setup.broadcastPort);
        clients << m_commandClients.last() << m_broadcastClients.last();
    }
    openAll(clients);
}

void BenchRun::openAll(const QList<DeviceClient *> &clients)
{
    const std::function<void()> opened = countdown(clients.size());
    for (DeviceClient *client : clients) {
        connect(client, &DeviceClient::opened, m_steps->scope(), opened);
        client->open();
    }
}

void BenchRun::stopAll()
{
    // The clients go first: a connection that an ending server closes is no failure.
    delete std::exchange(m_clientOwner, nullptr);
    m_devices[ServerDevice]->write("silent off\n");
    const auto programs = findChildren<ChildProgram *>(QString(), Qt::FindDirectChildrenOnly);
    const std::function<void()> ended = countdown(programs.size());
    for (ChildProgram *program : programs) {
        program->waitForExit([this, program, ended] {
            if (program == m_server || program == m_pacedServer)
                m_figures.serverEnds.append(program->endDescription());
            ended();
        });
        if (std::find(m_devices.cbegin(), m_devices.cend(), program) != m_devices.cend())
            program->closeInput(); // a simulator ends with its input
        else
            program->terminate();
    }
}

void BenchRun::runCommands(
    const QList<DeviceClient *> &clients, int warmUp, int commands, bool inTurn, Store store)
{
    struct Client
    {
        QByteArray expected; // the command out, which the device echoes
        qint64 sentNs = 0;
        int sent = 0;
    };
    struct Load
    {
        QList<Client> clients;
        qint64 outstanding = 0; // answers still due over all clients
        QElapsedTimer clock;
        Commands result;
    };
    const int count = warmUp > 0 ? warmUp : commands;
    auto load = std::make_shared<Load>();
    load->clients.resize(clients.size());
    load->outstanding = qint64(count) * clients.size();
    load->result.roundTripsUs.resize(clients.size());
    const auto send = [load, clients](int index) {
        Client &client = load->clients[index];
        client.expected
            = TaggedMessage::message(TaggedMessage::commandNumber(index, client.sent++));
        client.sentNs = load->clock.nsecsElapsed();
        clients.at(index)->send(client.expected);
    };
    const auto take = [=](int index, const QByteArray &message) {
        Client &client = load->clients[index];
        if (client.expected.isEmpty())
            return; // nothing out: not this load's answer
        const qint64 ns = load->clock.nsecsElapsed();
        load->result.roundTripsUs[index].append(double((ns - client.sentNs) / 1000));
        load->result.wrong += message != std::exchange(client.expected, {});
        if (--load->outstanding > 0) {
            if (inTurn)
                send((index + 1) % clients.size());
            else if (client.sent < count)
                send(index);
            return;
        }
        m_figures.wrongAnswers += load->result.wrong;
        if (warmUp > 0)
            return runCommands(clients, 0, commands, inTurn, store); // the measured part
        load->result.perSecond = double(count) * double(clients.size()) * 1e9 / ns;
        store(load->result);
        m_steps->next();
    };
    for (int i = 0; i < clients.size(); ++i) {
        connect(clients.at(i), &DeviceClient::answer, m_steps->scope(),
            [take, i](const QByteArray &message) { take(i, message); });
    }
    load->clock.start();
    for (int i = 0; i < (inTurn ? 1 : clients.size()); ++i)
        send(i);
}

BenchRun::Store BenchRun::storePerSecond(Figure figure)
{
    return [this, figure](const Commands &result) {
        for (int path = 0; path < result.roundTripsUs.size(); ++path)
            m_figures.at(figure, Path(path)) = PerSecond(result.roundTripsUs.at(path));
    };
}

void BenchRun::runBursts(int path)
{
    if (path == int(Path::Count))
        return m_steps->next();
    ChildProgram *const program = m_pathPrograms[size_t(path)];
    const std::optional<qint64> cpuBefore = program ? program->cpuNanoseconds() : std::nullopt;
    runBurst({ m_pathReceivers.at(path) }, Device(path), [=](double seconds) {
        m_burstSamples[path].append(BurstBroadcasts / seconds);
        m_figures.at(Figure::BurstFramesPerSecond, Path(path))
            = Percentile(m_burstSamples[path], 50);
        if (program) {
            const std::optional<qint64> cpu = program->cpuNanoseconds();
            if (!cpuBefore || !cpu)
                return m_steps->fail(QStringLiteral("no CPU time of %1 in /proc")
                                         .arg(program == m_server ? "qx-server" : "socat"));
            m_burstCpuSamples[path].append(double(*cpu - *cpuBefore) / BurstBroadcasts);
            m_figures.at(Figure::BurstCpuNsPerFrame, Path(path))
                = Percentile(m_burstCpuSamples[path], 50);
        }
        runBursts(path + 1);
    });
}

void BenchRun::runBurst(const QList<DeviceClient *> &receivers, Device device,
    std::function<void(double seconds)> store)
{
    struct Burst
    {
        QList<quint32> next; // per receiver: the number due next
        qsizetype receiversDone = 0;
        QElapsedTimer clock;
        bool over = false; // every one came, or one out of order
    };
    const quint32 end = m_nextBroadcast + BurstBroadcasts;
    auto burst = std::make_shared<Burst>();
    burst->next.fill(m_nextBroadcast, receivers.size());
    for (qsizetype i = 0; i < receivers.size(); ++i) {
        connect(receivers.at(i), &DeviceClient::broadcast, m_steps->scope(),
            [=](const QByteArray &message) {
                quint32 &next = burst->next[i];
                if (burst->over)
                    return;
                if (TaggedMessage::numberOf(message) != next) {
                    burst->over = true;
                    m_steps->fail(QStringLiteral("broadcast %1 due, %2 came")
                                      .arg(next)
                                      .arg(QString::fromLatin1(message.toHex().toUpper())));
                } else if (++next == end && ++burst->receiversDone == receivers.size()) {
                    burst->over = true;
                    store(std::max(double(burst->clock.nsecsElapsed()) / 1e9, 1e-6));
                }
            });
    }
    const QByteArray commands = RawLines(m_nextBroadcast, end);
    m_nextBroadcast = end;
    burst->clock.start();
    m_devices[device]->write(commands);
}

void BenchRun::measureCpu(std::chrono::milliseconds span, Figure figure)
{
    const std::optional<qint64> before = m_server->cpuNanoseconds();
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QTimer::singleShot(span, Qt::PreciseTimer, m_steps->scope(), [this, before, clock, figure] {
        const std::optional<qint64> now = m_server->cpuNanoseconds();
        if (!before || !now)
            return m_steps->fail(QStringLiteral("no CPU time of qx-server in /proc"));
        m_figures.at(figure, Path::Server)
            = 100.0 * double(*now - *before) / double(clock->nsecsElapsed());
        m_steps->next();
    });
}
