#include "bench_run.h"

#include "broadcast_burst.h"
#include "child_program.h"
#include "free_port.h"
#include "server_setup.h"
#include "tagged_message.h"

#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <memory>

namespace {

constexpr int WarmUpCommands = 100;
constexpr int RoundTripCommands = 1000;
constexpr int ThroughputCommands = 10000;
constexpr int ManyClients = 100;
constexpr int CommandsPerClient = 100;
constexpr int BurstBroadcasts = 10000;
constexpr int LineRateWarmUpCommands = 20;
constexpr int LineRateCommands = 600; // about 2 s at 57600 baud
const QString LineRateBaud = QStringLiteral("57600");
// The programs under measurement, built next to the benchmark.
const QString ServerProgram = QStringLiteral(QX_BENCH_SERVER);
const QString SimProgram = QStringLiteral(QX_BENCH_SIM);
constexpr std::chrono::seconds IdleTime { 10 };
constexpr std::chrono::seconds SilentWaitTime { 5 };
constexpr std::chrono::seconds StartTimeout { 20 };
constexpr std::chrono::seconds StepTimeout { 60 };

// The nearest-rank percentile: the smallest sample with `percent` of all at or below it.
qint64 Percentile(const QList<qint64> &sorted, double percent)
{
    const auto rank = qsizetype(std::ceil(percent / 100.0 * double(sorted.size())));
    return sorted.isEmpty() ? 0 : sorted.at(std::clamp<qsizetype>(rank - 1, 0, sorted.size() - 1));
}

} // namespace

BenchRun::BenchRun(QObject *parent)
    : QObject(parent)
    , m_scope(new QObject(this))
    , m_clientOwner(new QObject(this))
{ }

void BenchRun::start()
{
    m_steps.append({ QStringLiteral("starting two simulated devices"), [this] { startSims(); } });
    m_fastSim = new ChildProgram(this);
    m_pacedSim = new ChildProgram(this);
    addDirect(m_fastSim);
    addServer(m_fastSim);
    addSocat();
    addDirect(m_pacedSim);
    addServer(m_pacedSim);
    endPath([this] {
        for (ChildProgram *sim : { m_fastSim, m_pacedSim })
            sim->closeInput(); // the simulator ends with its input
        m_pacedSim->waitForExit([this] { m_fastSim->waitForExit([this] { next(); }); });
    });
    QTimer::singleShot(0, this, &BenchRun::runStep);
}

void BenchRun::add(const QString &name, std::function<void()> step)
{
    m_steps.append({ name, std::move(step) });
}

void BenchRun::endPath(std::function<void()> step)
{
    m_steps.append({ QString(), std::move(step), true });
}

void BenchRun::runStep()
{
    delete m_scope;
    m_scope = new QObject(this);
    while (!m_steps.isEmpty()) {
        const Step step = m_steps.takeFirst();
        if (m_pathFailed && !step.always)
            continue;
        m_pathFailed = false;
        if (!step.name.isEmpty())
            std::fprintf(stderr, "qx-bench: %s\n", qPrintable(step.name));
        m_stepRunning = true;
        step.run();
        return;
    }
    Q_EMIT finished();
}

void BenchRun::next()
{
    // Once per step, and from the event loop: the caller may be a signal of what the next step
    // deletes.
    if (!std::exchange(m_stepRunning, false))
        return;
    QTimer::singleShot(0, this, &BenchRun::runStep);
}

void BenchRun::fail(const QString &reason)
{
    if (!m_stepRunning)
        return;
    m_figures.errors.append(reason);
    m_pathFailed = true;
    next();
}

// ---- the paths -------------------------------------------------------------------------------

void BenchRun::addFigures(const QString &name, Path path, ChildProgram *sim)
{
    add(name + QStringLiteral(": command round trip"), [this, path] {
        runCommands(
            m_commandClients, WarmUpCommands, RoundTripCommands, [this, path](const auto &r) {
                m_figures.at(Figure::RoundTripMedianUs, path) = Percentile(r.roundTripsUs, 50);
                m_figures.at(Figure::RoundTripP99Us, path) = Percentile(r.roundTripsUs, 99);
            });
    });
    add(name + QStringLiteral(": commands per second, 1 client"), [this, path] {
        runCommands(m_commandClients, 0, ThroughputCommands, [this, path](const auto &r) {
            m_figures.at(Figure::CommandsPerSecond, path) = r.perSecond;
        });
    });
    add(name + QStringLiteral(": 10,000 broadcasts to 1 client"), [this, sim, path] {
        runBurst(m_broadcastClients.mid(0, 1), sim, Figure::BurstFramesPerSecond, path);
    });
}

void BenchRun::addLineRate(const QString &name, Path path)
{
    add(name + QStringLiteral(": commands per second"), [this, path] {
        runCommands(m_commandClients, LineRateWarmUpCommands, LineRateCommands,
            [this, path](const auto &r) {
                m_figures.at(Figure::LineRateCommandsPerSecond, path) = r.perSecond;
            });
    });
}

void BenchRun::addDirect(ChildProgram *sim)
{
    const bool paced = sim == m_pacedSim;
    const QString name = paced ? QStringLiteral("57600 baud, direct") : QStringLiteral("direct");
    add(name + QStringLiteral(": opening the pty"), [this, sim] {
        openAll(makeClients(DeviceClient::Kind::Pty, sim == m_fastSim ? m_fastPty : m_pacedPty, 1));
    });
    if (paced)
        addLineRate(name, Path::Direct);
    else
        addFigures(name, Path::Direct, sim);
    endPath([this] {
        closeClients();
        next();
    });
}

void BenchRun::addServer(ChildProgram *sim)
{
    const bool paced = sim == m_pacedSim;
    const QString name
        = paced ? QStringLiteral("57600 baud, qx-server") : QStringLiteral("qx-server");
    add(name + QStringLiteral(": starting"), [this, sim] { startServer(sim); });
    if (paced) {
        add(name + QStringLiteral(": connecting a client"),
            [this] { openAll(makeClients(DeviceClient::Kind::CommandService, {}, 1)); });
        addLineRate(name, Path::Server);
    } else {
        add(name + QStringLiteral(": idle CPU over 10 s"),
            [this] { measureCpu(IdleTime, Figure::IdleCpuPercent); });
        add(name + QStringLiteral(": connecting a command and a broadcast client"),
            [this] { openServerClients(1); });
        addFigures(name, Path::Server, sim);
        add(name + QStringLiteral(": 99 more command and broadcast clients"),
            [this] { openServerClients(ManyClients - 1); });
        add(name + QStringLiteral(": 100 clients × 100 commands"), [this] {
            runCommands(m_commandClients, 0, CommandsPerClient, [this](const auto &r) {
                m_figures.at(Figure::CommandsPerSecond100, Path::Server) = r.perSecond;
                m_figures.foreignAnswers100 = r.wrong;
            });
        });
        add(name + QStringLiteral(": 10,000 broadcasts to 100 clients"),
            [this, sim] { runBurst(m_broadcastClients, sim, Figure::Burst100Ms, Path::Server); });
        add(name + QStringLiteral(": CPU while a command waits on a silent device"),
            [this] { measureSilentWait(); });
    }
    endPath([this, sim] {
        sim->write("silent off\n");
        // The clients go first: a connection that the ending server closes is no failure.
        closeClients();
        stopChild(m_server, &m_figures.serverEnds);
    });
}

void BenchRun::addSocat()
{
    add(QStringLiteral("socat: starting"), [this] { startSocat(); });
    addFigures(QStringLiteral("socat"), Path::Socat, m_fastSim);
    endPath([this] {
        closeClients();
        stopChild(m_socat);
    });
}

// ---- programs --------------------------------------------------------------------------------

void BenchRun::startSims()
{
    m_fastSim->start(SimProgram, {});
    m_pacedSim->start(SimProgram, { QStringLiteral("--baud"), LineRateBaud });
    // Each prints "pty: PATH" once its device is there.
    auto waiting = std::make_shared<int>(2);
    for (auto [sim, pty] : { std::pair { m_fastSim, &m_fastPty }, { m_pacedSim, &m_pacedPty } }) {
        sim->waitForLine(QStringLiteral("pty: "), StartTimeout,
            [this, sim, pty, waiting](const std::optional<QString> &line) {
                if (!line) {
                    // Nothing can be measured: only the last step, which ends the simulators.
                    m_steps = m_steps.mid(m_steps.size() - 1);
                    fail(QStringLiteral("qx-sim did not start: ") + sim->endDescription());
                    return;
                }
                *pty = line->mid(line->indexOf(QLatin1Char(' ')) + 1);
                if (--*waiting == 0)
                    next();
            });
    }
}

void BenchRun::startServer(ChildProgram *sim)
{
    const QString name = sim == m_fastSim ? QStringLiteral("fast") : QStringLiteral("paced");
    const ServerSetup setup = ServerSetup::onFreePorts(sim == m_fastSim ? m_fastPty : m_pacedPty,
        m_dir.filePath(name + QStringLiteral("-settings.ini")));
    m_commandPort = setup.commandPort;
    m_broadcastPort = setup.broadcastPort;
    m_server = new ChildProgram(this);
    m_server->start(ServerProgram, setup.arguments());
    m_server->waitForLine(ServerRunningLine, StartTimeout, [this](const auto &line) {
        if (line)
            next();
        else
            fail(QStringLiteral("qx-server did not serve within %1 s (%2): %3")
                     .arg(StartTimeout.count())
                     .arg(m_server->endDescription(),
                         m_server->errorLines().join(QLatin1Char('\n'))));
    });
}

void BenchRun::startSocat()
{
    const QString socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
    if (socat.isEmpty()) {
        fail(QStringLiteral("socat is not installed (scripts/install-deps socat)"));
        return;
    }
    m_commandPort = FreeLoopbackPort();
    m_socat = new ChildProgram(this);
    // -d -d: socat says when it listens.
    m_socat->start(socat,
        { QStringLiteral("-d"), QStringLiteral("-d"),
            QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr,nodelay").arg(m_commandPort),
            QStringLiteral("FILE:%1,rawer").arg(m_fastPty) });
    m_socat->waitForLine(QStringLiteral("listening on"), StartTimeout, [this](const auto &line) {
        if (line)
            openAll(makeClients(DeviceClient::Kind::Bridge, {}, 1));
        else
            fail(QStringLiteral("socat did not listen: ") + m_socat->endDescription());
    });
}

void BenchRun::stopChild(ChildProgram *&child, QStringList *ends)
{
    if (!child) {
        next();
        return;
    }
    ChildProgram *ending = std::exchange(child, nullptr);
    ending->terminate();
    ending->waitForExit([this, ending, ends] {
        if (ends)
            ends->append(ending->endDescription());
        ending->deleteLater();
        next();
    });
}

// ---- clients and measurements ----------------------------------------------------------------

QList<DeviceClient *> BenchRun::makeClients(DeviceClient::Kind kind, const QString &pty, int count)
{
    using Kind = DeviceClient::Kind;
    const quint16 port = kind == Kind::BroadcastService ? m_broadcastPort : m_commandPort;
    QList<DeviceClient *> clients;
    for (int i = 0; i < count; ++i) {
        auto *client = new DeviceClient(kind, pty, port, m_clientOwner);
        // Whichever step runs, a client of its path that fails fails it (and so the path).
        connect(client, &DeviceClient::failed, this, &BenchRun::fail);
        if (kind != Kind::BroadcastService)
            m_commandClients.append(client);
        if (kind != Kind::CommandService)
            m_broadcastClients.append(client);
        clients.append(client);
    }
    return clients;
}

void BenchRun::openServerClients(int count)
{
    openAll(makeClients(DeviceClient::Kind::CommandService, {}, count)
        + makeClients(DeviceClient::Kind::BroadcastService, {}, count));
}

void BenchRun::openAll(const QList<DeviceClient *> &clients)
{
    auto waiting = std::make_shared<qsizetype>(clients.size());
    for (DeviceClient *client : clients) {
        connect(client, &DeviceClient::opened, m_scope, [this, waiting] {
            if (--*waiting == 0)
                next();
        });
        client->open();
    }
    QTimer::singleShot(StepTimeout, m_scope, [this, waiting] {
        fail(QStringLiteral("%1 connections not opened in time").arg(*waiting));
    });
}

void BenchRun::closeClients()
{
    delete m_clientOwner;
    m_clientOwner = new QObject(this);
    m_commandClients.clear();
    m_broadcastClients.clear();
}

void BenchRun::runCommands(
    const QList<DeviceClient *> &clients, int warmUp, int commands, Store store)
{
    auto *load = new CommandLoad(clients, warmUp > 0 ? warmUp : commands, m_scope);
    connect(load, &CommandLoad::finished, this, [=](const CommandLoad::Result &result) {
        m_figures.wrongAnswers += result.wrong;
        if (!result.error.isEmpty())
            fail(result.error);
        else if (warmUp > 0)
            runCommands(clients, 0, commands, store); // the measured part
        else {
            store(result);
            next();
        }
    });
    load->start(StepTimeout);
}

void BenchRun::runBurst(
    const QList<DeviceClient *> &receivers, ChildProgram *sim, Figure figure, Path path)
{
    auto *burst = new BroadcastBurst(receivers, *sim, m_nextBroadcast, BurstBroadcasts, m_scope);
    m_nextBroadcast += BurstBroadcasts;
    connect(burst, &BroadcastBurst::finished, this, [this, figure, path](const auto &result) {
        if (!result.error.isEmpty()) {
            fail(result.error);
            return;
        }
        const double seconds = double(std::max<qint64>(result.elapsedUs, 1)) / 1e6;
        m_figures.at(figure, path)
            = figure == Figure::Burst100Ms ? seconds * 1000 : BurstBroadcasts / seconds;
        // The server's memory with all its 200 clients, just after it has served every one.
        if (figure == Figure::Burst100Ms) {
            if (const std::optional<qint64> bytes = m_server->residentBytes())
                m_figures.at(Figure::ResidentMb200, Path::Server) = double(*bytes) / 1e6;
        }
        next();
    });
    burst->start(StepTimeout);
}

void BenchRun::measureCpu(std::chrono::milliseconds span, Figure figure)
{
    const std::optional<qint64> before = m_server->cpuMilliseconds();
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QTimer::singleShot(span, Qt::PreciseTimer, m_scope, [this, before, clock, figure] {
        const std::optional<qint64> now = m_server->cpuMilliseconds();
        if (!before || !now) {
            fail(QStringLiteral("no CPU time of qx-server in /proc"));
            return;
        }
        m_figures.at(figure, Path::Server)
            = 100.0 * double(*now - *before) / double(clock->elapsed());
        next();
    });
}

void BenchRun::measureSilentWait()
{
    // Each command times out with 010100 after 2 s, and the next one waits again.
    m_fastSim->write("silent on\n");
    DeviceClient *client = m_commandClients.constFirst();
    auto counter = std::make_shared<quint32>(0);
    const auto send = [client, counter] {
        client->send(TaggedMessage::message(TaggedMessage::commandNumber(0, (*counter)++)));
    };
    connect(client, &DeviceClient::answer, m_scope, send);
    measureCpu(SilentWaitTime, Figure::WaitCpuPercent);
    send();
}
