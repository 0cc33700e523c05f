#include "load_run.h"

#include "broadcast_emitter.h"
#include "broadcast_reader.h"
#include "command_client.h"
#include "junk_client.h"
#include "line_connection.h"
#include "overlong_client.h"
#include "proc_stats.h"
#include "server_process.h"
#include "silent_socket.h"
#include "tagged_message.h"
#include "vanishing_client.h"

#include <QFile>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

constexpr int ConnectTimeoutMs = 15000;
constexpr int RecoveryTimeoutMs = 20000;
constexpr int QuietTimeoutMs = 20000;
constexpr int DrainTimeoutMs = 10000;
constexpr int FinalAnswerTimeoutMs = 5000;
constexpr int GarbageFlushPollMs = 10;
constexpr int FinalCommandClient = 120;
// Client ids: tags name their client, so each kind of client has ids of its own.
constexpr int FirstOverlongId = 100;
constexpr int FirstVanishingId = 105;
constexpr int FirstSilentId = 110;

void Progress(const QString &text)
{
    std::fprintf(stderr, "qx-load: %s\n", qPrintable(text));
}

QString Megabytes(qint64 bytes)
{
    return QStringLiteral("%1 MB").arg(double(bytes) / 1e6, 0, 'f', 1);
}

// Runs `then` once, from whichever comes first: a signal handled by the caller or the time-out.
std::function<void(bool)> Once(QObject *context, int timeoutMs, std::function<void(bool)> then)
{
    auto done = std::make_shared<bool>(false);
    auto call = [done, then](bool inTime) {
        if (!*done) {
            *done = true;
            then(inTime);
        }
    };
    QTimer::singleShot(timeoutMs, context, [call] { call(false); });
    return call;
}

} // namespace

LoadRun::LoadRun(const LoadOptions &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_steps(new StepSequence(this))
    , m_server(new ServerProcess(this))
{
    m_tally.clock = &m_clock;
    connect(m_steps, &StepSequence::stepStarted, this, [](const QString &name) { Progress(name); });
    connect(m_steps, &StepSequence::finished, this, [this] { Q_EMIT finished(report()); });
    connect(m_server, &ServerProcess::finished, this, [this](int exitCode, bool crashed) {
        m_exitCode = exitCode;
        m_serverCrashed = crashed;
        if (!m_serverStopping) {
            fail(QStringLiteral("qx-server ended during the run (exit status %1%2)")
                     .arg(exitCode)
                     .arg(crashed ? QStringLiteral(", crashed") : QString()));
            m_steps->abort();
        }
    });
}

LoadRun::~LoadRun() = default;

void LoadRun::start()
{
    m_clock.start();
    m_steps->add(QStringLiteral("starting qx-server with the simulated device"),
        [this](Next next) { startServer(next); });
    m_steps->add(QStringLiteral("connecting the broadcast readers and the clients that never read"),
        [this](Next next) { connectListeners(next); });
    m_steps->add(
        QStringLiteral("storm: %1 s").arg(m_options.seconds), [this](Next next) { storm(next); });
    m_steps->add(QStringLiteral("draining: every reader gets every broadcast, every command its "
                                "answer"),
        [this](Next next) { drain(next); });
    m_steps->add(QStringLiteral("a normal command after the storm"),
        [this](Next next) { finalCommand(next); });
    m_steps->add(
        QStringLiteral("ending qx-server with SIGTERM"), [this](Next next) { stopServer(next); });
    m_steps->start();
}

void LoadRun::fail(const QString &reason)
{
    m_failures.append(reason);
    Progress(QStringLiteral("FAIL: ") + reason);
}

void LoadRun::startServer(Next next)
{
    m_device.setLinkPath(m_dir.filePath(QStringLiteral("device")));
    if (!m_device.plug()) {
        fail(QStringLiteral("simulated device: ") + m_device.errorString());
        m_steps->abort();
        return;
    }
    ServerProcess::Setup setup;
    setup.program = m_options.server;
    setup.devicePath = m_device.linkPath();
    setup.settingsFile = m_dir.filePath(QStringLiteral("settings.ini"));
    setup.logFile = m_dir.filePath(QStringLiteral("server.log"));
    setup.commandPort = FreeLoopbackPort();
    setup.broadcastPort = FreeLoopbackPort();
    connect(m_server, &ServerProcess::ready, this, [this, next] {
        auto *sampler = new QTimer(this);
        connect(sampler, &QTimer::timeout, this, &LoadRun::sampleMemory);
        sampler->start(MemorySampleMs);
        next();
    });
    connect(m_server, &ServerProcess::failed, this, [this](const QString &reason) {
        fail(QStringLiteral("qx-server: ") + reason);
        m_steps->abort();
    });
    m_server->start(setup);
}

void LoadRun::sampleMemory()
{
    if (const std::optional<qint64> bytes = ProcStats::readResidentBytes(m_server->pid())) {
        m_peakResidentBytes = std::max(m_peakResidentBytes, *bytes);
        ++m_residentSamples;
    }
}

void LoadRun::connectListeners(Next next)
{
    const quint16 broadcastPort = m_server->setup().broadcastPort;
    const quint16 commandPort = m_server->setup().commandPort;
    // The clients that never read come first, so that each gets a slot.
    for (int i = 0; i < SilentBroadcastClients; ++i)
        m_silentBroadcast.append(new SilentSocket(broadcastPort, {}, this));
    for (int i = 0; i < SilentCommandClients; ++i) {
        const QByteArray command = TaggedMessage::command({ FirstSilentId + i, 0 });
        m_silentCommand.append(
            new SilentSocket(commandPort, command.toHex().toUpper() + '\r', this));
    }
    for (SilentSocket *socket : m_silentBroadcast + m_silentCommand)
        socket->open();

    auto waiting = std::make_shared<int>(BroadcastReaders);
    const auto done = Once(this, ConnectTimeoutMs, [this, next](bool inTime) {
        if (!inTime) {
            fail(QStringLiteral("broadcast readers not connected within %1 ms")
                     .arg(ConnectTimeoutMs));
            m_steps->abort();
            return;
        }
        next();
    });
    for (int i = 0; i < BroadcastReaders; ++i) {
        auto *reader = new BroadcastReader(broadcastPort, this);
        m_readers.append(reader);
        connect(reader, &BroadcastReader::connected, this, [waiting, done] {
            if (--*waiting == 0)
                done(true);
        });
        reader->open();
    }
}

void LoadRun::storm(Next next)
{
    const quint16 port = m_server->setup().commandPort;
    for (int i = 0; i < CommandClients; ++i)
        m_commandClients.append(new CommandClient(i, port, m_tally, this));
    for (int i = 0; i < JunkClients; ++i)
        m_junkClients.append(new JunkClient(i, port, m_tally, this));
    for (int i = 0; i < OverlongClients; ++i)
        m_overlongClients.append(new OverlongClient(FirstOverlongId + i, port, m_tally, this));
    for (int i = 0; i < VanishingClients; ++i)
        m_vanishingClients.append(new VanishingClient(FirstVanishingId + i, port, m_tally, this));
    m_emitter = new BroadcastEmitter(m_device, m_readers,
        m_options.longForm ? LongFormBroadcastRate : ShortFormBroadcastRate, this);

    for (CommandClient *client : std::as_const(m_commandClients))
        client->start();
    for (JunkClient *client : std::as_const(m_junkClients))
        client->start();
    for (OverlongClient *client : std::as_const(m_overlongClients))
        client->start();
    for (VanishingClient *client : std::as_const(m_vanishingClients))
        client->start();
    m_emitter->start();

    // The faults, spread over the storm: garbage, then an unplug, as often as the form asks.
    const int cycles = m_options.longForm ? 4 : 1;
    const qint64 stormMs = qint64(m_options.seconds) * 1000;
    for (int i = 0; i < cycles; ++i) {
        const qint64 slice = stormMs / (2 * cycles + 2);
        QTimer::singleShot(slice * (2 * i + 1), this, &LoadRun::floodGarbage);
        QTimer::singleShot(slice * (2 * i + 2), this, &LoadRun::unplugDevice);
    }
    QTimer::singleShot(stormMs, this, [this, next] {
        // A fault that is still going on ends first.
        if (m_faultsRunning == 0)
            next();
        else
            connect(this, &LoadRun::faultsOver, this, next, Qt::SingleShotConnection);
    });
}

void LoadRun::floodGarbage()
{
    if (m_faultsRunning > 0)
        return;
    ++m_faultsRunning;
    ++m_floods;
    Progress(QStringLiteral("the device floods garbage"));
    // Broadcasts pause until every reader has all of them: the garbage then stands in front of
    // every frame that follows, as on a line that recovers from a fault.
    m_emitter->pause();
    const auto flood = Once(this, QuietTimeoutMs, [this](bool inTime) {
        if (!inTime)
            fail(QStringLiteral("readers did not catch up before the garbage: %1 sent, the "
                                "slowest reader is at %2")
                     .arg(m_emitter->emitted())
                     .arg(m_emitter->slowestReader()));
        QByteArray noFrameByte(GarbageWithoutFrameByte, '\0');
        for (int i = 0; i < noFrameByte.size(); ++i)
            noFrameByte[i] = char(i % 0x7F);
        m_device.sendRaw(noFrameByte);
        m_device.sendRaw(QByteArray("\xFF\x00", 2).repeated(GarbagePairs));
        auto *poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [this, poll] {
            if (m_device.pendingBytes() > 0)
                return;
            poll->deleteLater();
            m_emitter->resume();
            faultDone();
        });
        poll->start(GarbageFlushPollMs);
    });
    connect(
        m_emitter, &BroadcastEmitter::quiet, this, [flood] { flood(true); },
        Qt::SingleShotConnection);
}

void LoadRun::unplugDevice()
{
    if (m_faultsRunning > 0) {
        QTimer::singleShot(GarbageFlushPollMs, this, &LoadRun::unplugDevice);
        return;
    }
    ++m_faultsRunning;
    ++m_unplugs;
    Progress(QStringLiteral("the device is unplugged for %1 ms").arg(UnpluggedMs));
    m_emitter->pause();
    const quint32 slowest = m_emitter->slowestReader();
    if (m_emitter->emitted() > slowest)
        m_broadcastsAtUnplug.append({ slowest, m_emitter->emitted() - 1 });
    const qint64 unpluggedAt = m_tally.nowMs();
    m_device.unplug();
    QTimer::singleShot(UnpluggedMs, this, [this, unpluggedAt] {
        if (!m_device.plug())
            fail(QStringLiteral("simulated device: ") + m_device.errorString());
        // The device is back once the server has found it: the first echo after the plug.
        const auto recovered = Once(this, RecoveryTimeoutMs, [this, unpluggedAt](bool inTime) {
            if (!inTime)
                fail(QStringLiteral("the server did not find the device again within %1 ms")
                         .arg(RecoveryTimeoutMs));
            m_windows.append({ unpluggedAt, m_tally.nowMs() });
            m_emitter->resume();
            faultDone();
        });
        for (CommandClient *client : std::as_const(m_commandClients))
            connect(
                client, &CommandClient::echoed, this, [recovered] { recovered(true); },
                Qt::SingleShotConnection);
    });
}

void LoadRun::faultDone()
{
    if (--m_faultsRunning == 0)
        Q_EMIT faultsOver();
}

void LoadRun::drain(Next next)
{
    for (JunkClient *client : std::as_const(m_junkClients))
        client->stop();
    for (OverlongClient *client : std::as_const(m_overlongClients))
        client->stop();
    for (VanishingClient *client : std::as_const(m_vanishingClients))
        client->stop();
    auto busy = std::make_shared<int>(int(m_commandClients.size()) + 1); // + the readers
    const auto done = Once(this, DrainTimeoutMs + QuietTimeoutMs, [this, next](bool inTime) {
        if (!inTime)
            fail(QStringLiteral("answers or broadcasts still missing after the storm"));
        next();
    });
    const auto oneDone = [busy, done] {
        if (--*busy == 0)
            done(true);
    };
    connect(m_emitter, &BroadcastEmitter::quiet, this, oneDone, Qt::SingleShotConnection);
    for (CommandClient *client : std::as_const(m_commandClients)) {
        connect(client, &CommandClient::idle, this, oneDone, Qt::SingleShotConnection);
        client->stop();
    }
    m_emitter->stop(); // says quiet() at once when the readers are there already
}

void LoadRun::finalCommand(Next next)
{
    const auto done = Once(this, FinalAnswerTimeoutMs, [this, next](bool inTime) {
        if (!inTime)
            fail(QStringLiteral("no answer to a normal command after the storm"));
        next();
    });
    tryFinalCommand(done);
}

void LoadRun::tryFinalCommand(const std::function<void(bool)> &done)
{
    auto *connection = new LineConnection(this);
    const QByteArray expected = TaggedMessage::command({ FinalCommandClient, 0 }).toHex().toUpper();
    connect(connection, &LineConnection::connected, this,
        [connection, expected] { connection->send(expected + '\r'); });
    connect(connection, &LineConnection::lineReceived, this,
        [this, connection, expected, done](const QByteArray &line) {
            m_finalAnswered = line == expected;
            if (!m_finalAnswered)
                fail(QStringLiteral("a normal command after the storm got %1")
                         .arg(QString::fromLatin1(line)));
            connection->close();
            connection->deleteLater();
            done(true);
        });
    connect(connection, &LineConnection::closed, this,
        [this, connection, done](const QByteArray &rest) {
            connection->deleteLater();
            // The clients of the storm have just let their slots go; the server may not have
            // seen every one of them yet.
            if (rest == RefusalText()) {
                QTimer::singleShot(
                    GarbageFlushPollMs, this, [this, done] { tryFinalCommand(done); });
                return;
            }
            fail(QStringLiteral("the last command's connection ended: %1")
                     .arg(QString::fromLatin1(rest)));
            done(true);
        });
    connection->open(m_server->setup().commandPort);
}

void LoadRun::stopServer(Next next)
{
    for (const BroadcastReader *reader : std::as_const(m_readers))
        m_readersClosed += reader->wasClosed();
    for (const SilentSocket *socket : std::as_const(m_silentBroadcast))
        m_slowReadersClosed += socket->closedByServer();
    for (const SilentSocket *socket : std::as_const(m_silentCommand))
        m_silentCommandClosed += socket->closedByServer();
    m_serverStopping = true;
    if (!m_server->isRunning()) {
        next();
        return;
    }
    connect(m_server, &ServerProcess::finished, this, next);
    m_server->terminate();
}

bool LoadRun::report()
{
    QList<std::pair<QString, bool>> verdicts;
    const auto verdict = [&verdicts](const QString &text, bool pass) {
        verdicts.append({ text, pass });
    };

    verdict(m_exitCode && !m_serverCrashed ? QStringLiteral(
                "qx-server ran through the storm and ended with exit status %1 on SIGTERM")
                                                 .arg(*m_exitCode)
                                           : QStringLiteral("qx-server did not end cleanly"),
        m_exitCode == 0 && !m_serverCrashed && m_serverStopping);

    qint64 noAnswerInWindow = 0;
    for (const AnswerRules::NoAnswerEvent &event : std::as_const(m_tally.noAnswers))
        noAnswerInWindow += AnswerRules::WithinWindow(event, m_windows);
    const qint64 noAnswerOutside = m_tally.noAnswers.size() - noAnswerInWindow;
    verdict(
        QStringLiteral("commands: %1 answered by their own echo, %2 with 010100 while the device "
                       "was away, %3 with 010100 otherwise, %4 wrong; %5 connections ended by "
                       "the server")
            .arg(m_tally.ownAnswers)
            .arg(noAnswerInWindow)
            .arg(noAnswerOutside)
            .arg(m_tally.wrongAnswers)
            .arg(m_tally.unexpectedCloses),
        m_tally.ownAnswers > 0 && noAnswerOutside == 0 && m_tally.wrongAnswers == 0
            && m_tally.unexpectedCloses == 0);
    verdict(QStringLiteral("junk: %1 malformed lines, %2 not answered with 6180E1 alone")
                .arg(m_tally.junkLines)
                .arg(m_tally.junkWrong),
        m_tally.junkLines > 0 && m_tally.junkWrong == 0);
    verdict(QStringLiteral("overlong: %1 lines of 40,000 characters, each answered 6180E1 once and "
                           "followed by a working command; %2 wrong")
                .arg(m_tally.overlongLines)
                .arg(m_tally.overlongWrong),
        m_tally.overlongLines > 0 && m_tally.overlongWrong == 0);
    verdict(
        QStringLiteral("%1 connections vanished on purpose; %2 connection attempts refused while "
                       "all 100 slots were in use")
            .arg(m_tally.vanished)
            .arg(m_tally.refused),
        m_tally.vanished > 0);

    const quint32 emitted = m_emitter ? m_emitter->emitted() : 0;
    QString broadcastProblem;
    qint64 lostAtUnplug = 0;
    if (m_readersClosed > 0)
        broadcastProblem = QStringLiteral("%1 readers closed by the server").arg(m_readersClosed);
    for (const BroadcastReader *reader : std::as_const(m_readers)) {
        QString problem = reader->check().judge(emitted, m_broadcastsAtUnplug);
        if (problem.isEmpty() && reader->check().gaps() != m_readers.first()->check().gaps())
            problem = QStringLiteral("readers lost different broadcasts");
        if (!problem.isEmpty() && broadcastProblem.isEmpty())
            broadcastProblem = problem;
    }
    if (!m_readers.isEmpty()) {
        for (const SequenceCheck::Range &gap : m_readers.first()->check().gaps())
            lostAtUnplug += gap.last - gap.first + 1;
    }
    verdict(broadcastProblem.isEmpty()
            ? QStringLiteral("broadcasts: %1 sent; all %2 readers got every one in order, but %3 "
                             "that were on their way when the device was unplugged (the same for "
                             "every reader)")
                  .arg(emitted)
                  .arg(m_readers.size())
                  .arg(lostAtUnplug)
            : QStringLiteral("broadcasts: ") + broadcastProblem,
        broadcastProblem.isEmpty() && emitted > 0);

    const int slowClosed = m_slowReadersClosed;
    QFile log(m_server->setup().logFile);
    const int slowLogged
        = log.open(QIODevice::ReadOnly) ? int(log.readAll().count("(slow reader)")) : 0;
    const qint64 perClient = m_emitter ? m_emitter->emittedBytes() : 0;
    verdict(
        QStringLiteral("never-reading broadcast clients: %1 of %2 closed as slow readers (server "
                       "log: %3), after %4 of broadcast lines each%5")
            .arg(slowClosed)
            .arg(m_silentBroadcast.size())
            .arg(slowLogged)
            .arg(Megabytes(perClient))
            .arg(m_options.longForm ? QString() : QStringLiteral(" (required in the long form)")),
        !m_options.longForm || slowClosed == m_silentBroadcast.size());
    const int commandClosed = m_silentCommandClosed;
    verdict(
        QStringLiteral("never-reading command clients (one answer pending each): %1 of %2 still "
                       "connected")
            .arg(m_silentCommand.size() - commandClosed)
            .arg(m_silentCommand.size()),
        commandClosed == 0);

    verdict(QStringLiteral("memory: the server's VmRSS peaked at %1 (%2 samples; limit %3)")
                .arg(Megabytes(m_peakResidentBytes))
                .arg(m_residentSamples)
                .arg(Megabytes(m_options.memoryLimitBytes)),
        m_residentSamples > 0 && m_peakResidentBytes <= m_options.memoryLimitBytes);
    verdict(QStringLiteral("a normal command after the storm got its answer"), m_finalAnswered);
    verdict(QStringLiteral("faults: %1 garbage floods, %2 unplugs").arg(m_floods).arg(m_unplugs),
        m_floods > 0 && m_unplugs > 0 && m_failures.isEmpty());

    bool passed = true;
    std::printf("qx-load: %s form, %d s of storm\n", m_options.longForm ? "long" : "short",
        m_options.seconds);
    for (const auto &[text, pass] : std::as_const(verdicts)) {
        std::printf("%s  %s\n", pass ? "PASS" : "FAIL", qPrintable(text));
        passed = passed && pass;
    }
    for (const QString &failure : std::as_const(m_failures))
        std::printf("FAIL  %s\n", qPrintable(failure));
    for (const QString &problem : std::as_const(m_tally.problems))
        std::printf("      seen at %s\n", qPrintable(problem));
    if (!passed) {
        m_dir.setAutoRemove(false);
        std::printf("      server log kept: %s\n", qPrintable(m_server->setup().logFile));
    }
    std::printf("%s\n", passed ? "qx-load: PASS" : "qx-load: FAIL");
    std::fflush(stdout);
    return passed;
}
