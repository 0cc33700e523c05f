#include "bench_run.h"

#include "bridge_channel.h"
#include "child_process.h"
#include "machine_info.h"
#include "proc_stats.h"
#include "pty_channel.h"
#include "server_channel.h"
#include "server_process.h"
#include "sim_process.h"
#include "tagged_message.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <utility>

namespace {

constexpr std::chrono::milliseconds SettleTime { 500 };
constexpr std::chrono::milliseconds StateSampleInterval { 100 };
constexpr std::chrono::seconds OpenTimeout { 10 };
constexpr std::chrono::seconds LatencyTimeout { 30 };
constexpr std::chrono::seconds BurstTimeout { 60 };

void Progress(const QString &text)
{
    std::fprintf(stderr, "qx-bench: %s\n", qPrintable(text));
}

BurstFigure ToBurst(const BroadcastProbe::Result &result)
{
    return { result.complete && result.inOrder, result.milliseconds, result.receivedLines };
}

} // namespace

BenchRun::BenchRun(const BenchOptions &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_steps(new StepSequence(this))
{
    m_results.machine = DescribeMachine();
    // QX_BENCH_KEEP=1 keeps the servers' logs and settings for a look after the run.
    if (qEnvironmentVariableIntValue("QX_BENCH_KEEP") == 1) {
        m_dir.setAutoRemove(false);
        Progress(QStringLiteral("keeping %1").arg(m_dir.path()));
    }
    connect(m_steps, &StepSequence::stepStarted, this, [](const QString &name) {
        if (!name.isEmpty())
            Progress(name);
    });
    connect(m_steps, &StepSequence::finished, this, [this] { Q_EMIT finished(m_simsReady); });
}

BenchRun::~BenchRun() = default;

void BenchRun::start()
{
    const QString fastLink = m_dir.filePath(QStringLiteral("fast-device"));
    const QString pacedLink = m_dir.filePath(QStringLiteral("paced-device"));
    m_fastSim = new SimProcess(m_options.sim, { QStringLiteral("--link"), fastLink }, this);
    m_pacedSim = new SimProcess(m_options.sim,
        { QStringLiteral("--link"), pacedLink, QStringLiteral("--baud"), QStringLiteral("57600") },
        this);
    m_steps->add(QStringLiteral("starting two simulated devices"),
        [this](Next next) { startSims(std::move(next)); });
    addDirectBlock();
    addServerBlock();
    addSocatBlock();
    addLineRateBlocks();
    m_steps->add(QStringLiteral("stopping the simulated devices"), [this](Next next) {
        auto waiting = std::make_shared<int>(2);
        for (SimProcess *sim : { m_fastSim, m_pacedSim }) {
            connect(sim, &SimProcess::stopped, this, [waiting, next] {
                if (--*waiting == 0)
                    next();
            });
            sim->stop();
        }
    });
    m_steps->start();
}

void BenchRun::beginBlock(PathFigures *path)
{
    m_steps->add(QString(), [this, path](Next next) {
        m_path = path;
        m_blockFailed = !m_simsReady;
        next();
    });
}

void BenchRun::add(const QString &name, Step step)
{
    m_steps->add(name, [this, step](Next next) {
        releaseServerChannels([this, step, next] {
            clearScope();
            if (m_blockFailed)
                next();
            else
                step(next);
        });
    });
}

void BenchRun::failBlock(const QString &reason)
{
    if (!m_blockFailed && m_path)
        m_path->errors.append(reason);
    m_blockFailed = true;
}

void BenchRun::clearScope()
{
    delete m_scope;
    m_scope = new QObject(this);
}

void BenchRun::releaseServerChannels(Next next)
{
    const QList<Channel *> channels = std::exchange(m_serverChannels, {});
    if (channels.isEmpty()) {
        next();
        return;
    }
    auto waiting = std::make_shared<qsizetype>(channels.size());
    auto done = std::make_shared<bool>(false);
    // Goes on from the event loop: the caller may be a signal of a socket that the next step
    // deletes.
    const auto finish = [this, done, next] {
        if (!*done) {
            *done = true;
            QTimer::singleShot(0, this, next);
        }
    };
    auto *timeout = new QTimer(m_scope);
    timeout->setSingleShot(true);
    connect(timeout, &QTimer::timeout, this, [finish] {
        Progress(QStringLiteral("the server did not let every connection go in time"));
        finish();
    });
    timeout->start(OpenTimeout);
    for (Channel *channel : channels) {
        connect(channel, &Channel::released, timeout, [waiting, finish] {
            if (--*waiting == 0)
                finish();
        });
        channel->release();
    }
}

void BenchRun::startSims(Next next)
{
    auto waiting = std::make_shared<int>(2);
    for (SimProcess *sim : { m_fastSim, m_pacedSim }) {
        connect(sim, &SimProcess::ready, this, [this, waiting, next] {
            if (--*waiting == 0) {
                m_simsReady = true;
                next();
            }
        });
        connect(sim, &SimProcess::failed, this, [next](const QString &reason) {
            Progress(QStringLiteral("simulator failed: ") + reason);
            next();
        });
        sim->start();
    }
}

// ---- blocks ---------------------------------------------------------------------------------

void BenchRun::addDirectBlock()
{
    beginBlock(&m_results.direct);
    add(QStringLiteral("direct: opening the pty"), [this](Next next) {
        m_device = m_fastSim;
        m_pty = new PtyChannel(m_fastSim->ptyPath(), this);
        openChannels({ m_pty }, std::move(next));
    });
    add(QStringLiteral("direct: command round trip"), [this](Next next) {
        runCommands(
            1, { 50, RoundTripCommands, {} },
            [this](const auto &r) { m_results.direct.roundTripUs = r.roundTripUs; }, next);
    });
    add(QStringLiteral("direct: commands per second"), [this](Next next) {
        runCommands(
            1, { 50, 0, ThroughputTime },
            [this](const auto &r) { m_results.direct.perSecond1 = r.perSecond; }, next);
    });
    add(QStringLiteral("direct: broadcast latency"), [this](Next next) {
        runBroadcasts(
            1, false, [this](const auto &r) { m_results.direct.broadcastUs = r.latencyUs; }, next);
    });
    add(QStringLiteral("direct: burst of 10,000 broadcasts"), [this](Next next) {
        runBroadcasts(
            1, true, [this](const auto &r) { m_results.direct.burst1 = ToBurst(r); }, next);
    });
    m_steps->add(QString(), [this](Next next) {
        delete m_pty;
        m_pty = nullptr;
        next();
    });
}

void BenchRun::addServerBlock()
{
    PathFigures &server = m_results.server;
    beginBlock(&server);
    add(QStringLiteral("qx-server: starting"), [this](Next next) { startServer(m_fastSim, next); });
    add(QStringLiteral("qx-server: idle CPU over 10 s"), [this](Next next) { measureIdle(next); });
    add(QStringLiteral("qx-server: memory with 200 clients"),
        [this](Next next) { measureMemory(next); });
    add(QStringLiteral("qx-server: command round trip"), [this, &server](Next next) {
        runCommands(
            1, { 50, RoundTripCommands, {} },
            [&server](const auto &r) { server.roundTripUs = r.roundTripUs; }, next);
    });
    for (const int clients : { 1, 10, 100 }) {
        add(QStringLiteral("qx-server: commands per second, %1 clients").arg(clients),
            [this, clients, &server](Next next) {
                runCommands(
                    clients, { 50, 0, ThroughputTime },
                    [clients, &server](const auto &r) {
                        (clients == 1           ? server.perSecond1
                                : clients == 10 ? server.perSecond10
                                                : server.perSecond100)
                            = r.perSecond;
                    },
                    next);
            });
    }
    add(QStringLiteral("qx-server: broadcast latency"), [this, &server](Next next) {
        runBroadcasts(
            1, false, [&server](const auto &r) { server.broadcastUs = r.latencyUs; }, next);
    });
    add(QStringLiteral("qx-server: burst of 10,000 broadcasts to 1 client"),
        [this, &server](Next next) {
            runBroadcasts(
                1, true, [&server](const auto &r) { server.burst1 = ToBurst(r); }, next);
        });
    add(QStringLiteral("qx-server: burst of 10,000 broadcasts to 100 clients"),
        [this, &server](Next next) {
            runBroadcasts(
                ClientsPerService, true, [&server](const auto &r) { server.burst100 = ToBurst(r); },
                next);
        });
    add(QStringLiteral("qx-server: CPU while commands wait for a silent device"),
        [this](Next next) { measureSilentWait(next); });
    m_steps->add(QStringLiteral("qx-server: stopping"), [this](Next next) { stopServer(next); });
}

void BenchRun::addSocatBlock()
{
    PathFigures &socat = m_results.socat;
    beginBlock(&socat);
    add(QStringLiteral("socat: starting"), [this](Next next) { startSocat(m_fastSim, next); });
    add(QStringLiteral("socat: command round trip"), [this, &socat](Next next) {
        runCommands(
            1, { 50, RoundTripCommands, {} },
            [&socat](const auto &r) { socat.roundTripUs = r.roundTripUs; }, next);
    });
    add(QStringLiteral("socat: commands per second"), [this, &socat](Next next) {
        runCommands(
            1, { 50, 0, ThroughputTime },
            [&socat](const auto &r) { socat.perSecond1 = r.perSecond; }, next);
    });
    add(QStringLiteral("socat: broadcast latency"), [this, &socat](Next next) {
        runBroadcasts(
            1, false, [&socat](const auto &r) { socat.broadcastUs = r.latencyUs; }, next);
    });
    add(QStringLiteral("socat: burst of 10,000 broadcasts"), [this, &socat](Next next) {
        runBroadcasts(
            1, true, [&socat](const auto &r) { socat.burst1 = ToBurst(r); }, next);
    });
    m_steps->add(QString(), [this](Next next) { stopSocat(next); });
}

void BenchRun::addLineRateBlocks()
{
    beginBlock(&m_results.direct);
    add(QStringLiteral("57600 baud, direct: commands per second"), [this](Next next) {
        m_device = m_pacedSim;
        m_pty = new PtyChannel(m_pacedSim->ptyPath(), this);
        openChannels({ m_pty }, [this, next] {
            runCommands(
                1, { 20, 0, LineRateTime },
                [this](const auto &r) { m_results.direct.lineRatePerSecond1 = r.perSecond; }, next);
        });
    });
    m_steps->add(QString(), [this](Next next) {
        delete m_pty;
        m_pty = nullptr;
        next();
    });

    PathFigures &server = m_results.server;
    beginBlock(&server);
    add(QStringLiteral("57600 baud, qx-server: starting"),
        [this](Next next) { startServer(m_pacedSim, next); });
    for (const int clients : { 1, 10 }) {
        add(QStringLiteral("57600 baud, qx-server: commands per second, %1 clients").arg(clients),
            [this, clients, &server](Next next) {
                runCommands(
                    clients, { 20, 0, LineRateTime },
                    [clients, &server](const auto &r) {
                        (clients == 1 ? server.lineRatePerSecond1 : server.lineRatePerSecond10)
                            = r.perSecond;
                    },
                    next);
            });
    }
    m_steps->add(
        QStringLiteral("57600 baud, qx-server: stopping"), [this](Next next) { stopServer(next); });

    PathFigures &socat = m_results.socat;
    beginBlock(&socat);
    add(QStringLiteral("57600 baud, socat: commands per second"), [this, &socat](Next next) {
        startSocat(m_pacedSim, [this, &socat, next] {
            runCommands(
                1, { 20, 0, LineRateTime },
                [&socat](const auto &r) { socat.lineRatePerSecond1 = r.perSecond; }, next);
        });
    });
    m_steps->add(QString(), [this](Next next) { stopSocat(next); });
}

// ---- building blocks ------------------------------------------------------------------------

QList<Channel *> BenchRun::makeChannels(ServerChannel::Service service, int count)
{
    // The pty and socat take one reader each; only the server has many clients.
    if (m_pty)
        return { m_pty };
    if (m_bridge)
        return { m_bridge };
    const quint16 port = service == ServerChannel::Service::Commands
        ? m_server->setup().commandPort
        : m_server->setup().broadcastPort;
    QList<Channel *> channels;
    for (int i = 0; i < count; ++i) {
        channels.append(new ServerChannel(service, port, m_scope));
        m_serverChannels.append(channels.constLast());
    }
    return channels;
}

QList<Channel *> BenchRun::makeCommandChannels(int count)
{
    return makeChannels(ServerChannel::Service::Commands, count);
}

QList<Channel *> BenchRun::makeBroadcastChannels(int count)
{
    return makeChannels(ServerChannel::Service::Broadcasts, count);
}

void BenchRun::openChannels(const QList<Channel *> &channels, Next next)
{
    // Shared by the callbacks below: whichever ends the wait, the step goes on once.
    auto waiting = std::make_shared<qsizetype>(channels.size());
    auto done = std::make_shared<bool>(false);
    // Goes on from the event loop: the caller may be a signal of a socket that the next step
    // deletes.
    const auto finish = [this, done, next] {
        if (!*done) {
            *done = true;
            QTimer::singleShot(0, this, next);
        }
    };
    auto *timeout = new QTimer(m_scope);
    timeout->setSingleShot(true);
    connect(timeout, &QTimer::timeout, this, [this, finish] {
        failBlock(QStringLiteral("connections not opened within %1 s").arg(OpenTimeout.count()));
        finish();
    });
    timeout->start(OpenTimeout);
    for (Channel *channel : channels) {
        connect(channel, &Channel::opened, timeout, [waiting, finish] {
            if (--*waiting == 0)
                finish();
        });
        connect(channel, &Channel::failed, timeout, [this, finish](const QString &reason) {
            failBlock(reason);
            finish();
        });
        channel->open();
    }
}

void BenchRun::runCommands(
    int clients, const CommandLoad::Plan &plan, StoreCommands store, Next next)
{
    const QList<Channel *> channels = makeCommandChannels(clients);
    const bool fresh = !m_pty && !m_bridge;
    auto run = [this, channels, plan, store, next] {
        if (m_blockFailed) {
            next();
            return;
        }
        auto *load = new CommandLoad(channels, m_scope);
        connect(load, &CommandLoad::finished, this, [this, store, next](const auto &result) {
            m_path->wrongAnswers += result.wrongAnswers;
            if (!result.error.isEmpty())
                failBlock(result.error);
            else
                store(result);
            next();
        });
        load->start(plan);
    };
    if (fresh)
        openChannels(channels, run);
    else
        run();
}

void BenchRun::runBroadcasts(int receivers, bool burst, StoreBroadcasts store, Next next)
{
    const QList<Channel *> channels = makeBroadcastChannels(receivers);
    const bool fresh = !m_pty && !m_bridge;
    auto run = [this, channels, burst, store, next] {
        if (m_blockFailed) {
            next();
            return;
        }
        SimProcess *device = m_device;
        auto *probe = new BroadcastProbe(
            channels, [device](const QByteArray &commands) { device->send(commands); },
            m_nextSequence, m_scope);
        connect(probe, &BroadcastProbe::finished, this,
            [this, probe, burst, store, next](const auto &result) {
                m_nextSequence = probe->nextSequence();
                // A burst that did not complete is a figure of its own; a latency run that
                // lost a line is not.
                if (!burst && !result.error.isEmpty())
                    failBlock(result.error);
                else
                    store(result);
                next();
            });
        if (burst)
            probe->measureBurst(BurstBroadcasts, BurstTimeout);
        else
            probe->measureLatency(BroadcastSamples, LatencyTimeout);
    };
    if (fresh)
        openChannels(channels, run);
    else
        run();
}

void BenchRun::startServer(SimProcess *device, Next next)
{
    m_device = device;
    delete m_server;
    m_server = new ServerProcess(this);
    const QString name = device == m_fastSim ? QStringLiteral("fast") : QStringLiteral("paced");
    ServerProcess::Setup setup;
    setup.program = m_options.server;
    setup.devicePath = device->ptyPath();
    setup.settingsFile = m_dir.filePath(name + QStringLiteral("-settings.ini"));
    setup.logFile = m_dir.filePath(name + QStringLiteral("-server.log"));
    setup.commandPort = FreeLoopbackPort();
    setup.broadcastPort = FreeLoopbackPort();
    connect(m_server, &ServerProcess::ready, this, next);
    connect(m_server, &ServerProcess::failed, this, [this, next](const QString &reason) {
        failBlock(QStringLiteral("qx-server: ") + reason);
        next();
    });
    connect(m_server, &ServerProcess::finished, this, [this](int exitCode, bool crashed) {
        // Any end counts: one nobody asked for shows as a crash or a non-zero status.
        m_results.process.crashed = m_results.process.crashed || crashed;
        if (!m_results.process.exitCode || exitCode != 0)
            m_results.process.exitCode = exitCode;
        if (!m_blockFailed && m_path == &m_results.server && crashed)
            failBlock(QStringLiteral("qx-server ended during the measurement"));
    });
    m_server->start(setup);
}

void BenchRun::stopServer(Next next)
{
    // The clients go first: a connection that the stopping server closes is no failure.
    m_serverChannels.clear();
    clearScope();
    if (!m_server || !m_server->isRunning()) {
        next();
        return;
    }
    connect(m_server, &ServerProcess::finished, this, next);
    m_server->terminate();
}

void BenchRun::startSocat(SimProcess *device, Next next)
{
    if (m_options.socat.isEmpty()) {
        m_results.socat.unavailable
            = QStringLiteral("socat is not installed (scripts/install-deps socat)");
        failBlock(m_results.socat.unavailable);
        next();
        return;
    }
    m_device = device;
    m_socatPort = FreeLoopbackPort();
    m_socat = new QProcess(this);
    m_socat->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    EndWithParent(m_socat);
    m_socat->start(m_options.socat,
        { QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr,nodelay").arg(m_socatPort),
            QStringLiteral("FILE:%1,rawer").arg(device->ptyPath()) });
    // socat takes one connection: the bridge channel is that connection, kept for the block.
    m_bridge = new BridgeChannel(m_socatPort, this);
    openChannels({ m_bridge }, next);
}

void BenchRun::stopSocat(Next next)
{
    delete m_bridge;
    m_bridge = nullptr;
    if (!m_socat) {
        next();
        return;
    }
    if (m_socat->state() == QProcess::NotRunning) {
        m_socat->deleteLater();
        m_socat = nullptr;
        next();
        return;
    }
    connect(m_socat, &QProcess::finished, this, [this, next] {
        m_socat->deleteLater();
        m_socat = nullptr;
        next();
    });
    m_socat->terminate();
}

void BenchRun::measureIdle(Next next)
{
    const qint64 pid = m_server->pid();
    m_results.process.idleResidentBytes = ProcStats::readResidentBytes(pid);
    // Start-up work is done once the service listens; a moment later the server only ticks.
    QTimer::singleShot(SettleTime, m_scope, [this, pid, next] {
        const auto before = ProcStats::readCpu(pid);
        auto clock = std::make_shared<QElapsedTimer>();
        clock->start();
        QTimer::singleShot(IdleTime, m_scope, [this, pid, next, before, clock] {
            const auto after = ProcStats::readCpu(pid);
            if (before && after)
                m_results.process.idleCpuPercent
                    = ProcStats::cpuPercent(*before, *after, clock->nsecsElapsed());
            next();
        });
    });
}

void BenchRun::measureMemory(Next next)
{
    QList<Channel *> channels = makeCommandChannels(ClientsPerService);
    channels += makeBroadcastChannels(ClientsPerService);
    openChannels(channels, [this, next] {
        QTimer::singleShot(SettleTime, m_scope, [this, next] {
            m_results.process.residentBytes200 = ProcStats::readResidentBytes(m_server->pid());
            next();
        });
    });
}

void BenchRun::measureSilentWait(Next next)
{
    m_device->send("silent on\n");
    Channel *channel = makeCommandChannels(1).constFirst();
    openChannels({ channel }, [this, channel, next] {
        const qint64 pid = m_server->pid();
        auto counter = std::make_shared<quint32>(0);
        const auto send = [channel, counter] {
            channel->sendCommand(TaggedMessage::command({ 0, (*counter)++ }));
        };
        // Each command times out after 1 to 2 s with 010100; the next one waits again.
        connect(channel, &Channel::answerReceived, m_scope, send);
        auto *sampler = new QTimer(m_scope);
        connect(sampler, &QTimer::timeout, m_scope, [this, pid] {
            if (const auto sample = ProcStats::readCpu(pid)) {
                ++m_results.process.stateSamples;
                m_results.process.asleepSamples += sample->state == 'S';
            }
        });
        sampler->start(StateSampleInterval);
        const auto before = ProcStats::readCpu(pid);
        auto clock = std::make_shared<QElapsedTimer>();
        clock->start();
        send();
        QTimer::singleShot(SilentWaitTime, m_scope, [this, pid, before, clock, next] {
            const auto after = ProcStats::readCpu(pid);
            if (before && after)
                m_results.process.waitCpuPercent
                    = ProcStats::cpuPercent(*before, *after, clock->nsecsElapsed());
            m_device->send("silent off\n");
            next();
        });
    });
}
