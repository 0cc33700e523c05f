#include "load_run.h"

#include "child_program.h"
#include "server_setup.h"
#include "tagged_message.h"

#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

constexpr int CommandClients = 100;
constexpr int BroadcastReaders = 96;
constexpr int SilentClients = 4; // never read; with the readers: 100 slots
constexpr int JunkClients = 3;
constexpr int OverlongClients = 2;
constexpr int VanishingClients = 4;
constexpr int FirstOtherId = 100; // a tag names its client: the others have ids of their own
// Broadcasts per second: in the long form enough that the clients that never read pile up more
// than the server's 1 MiB cap, while the readers and the command clients keep their share.
constexpr int ShortFormBroadcastRate = 2000;
constexpr int LongFormBroadcastRate = 4000;
constexpr int EmitIntervalMs = 5;
constexpr qint64 MaxCatchUpMs = 50; // a late timer shot never turns into a burst
constexpr int GarbageWithoutFrameByte = 64 * 1024;
constexpr int GarbagePairs = 50 * 1000; // FF 00: frame bytes, but no frame start
constexpr int RawBytesPerLine = 30000; // qx-sim takes lines of up to 64 KiB
constexpr int UnpluggedMs = 1000;
constexpr int MemorySampleMs = 250;
constexpr std::chrono::seconds StartTimeout { 20 };
constexpr int StepTimeoutMs = 30000;
const QString SlowReaderLog = QStringLiteral("(slow reader)");

void Progress(const QString &text)
{
    std::fprintf(stderr, "qx-load: %s\n", qPrintable(text));
}

// Runs `then` once: at the first call, or with false when `timeoutMs` passes first.
std::function<void(bool)> Once(QObject *context, int timeoutMs, std::function<void(bool)> then)
{
    auto done = std::make_shared<bool>(false);
    auto call = [done, then](bool inTime) {
        if (!std::exchange(*done, true))
            then(inTime);
    };
    QTimer::singleShot(timeoutMs, context, [call] { call(false); });
    return call;
}

} // namespace

LoadRun::LoadRun(const Options &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_device(new ChildProgram(this))
    , m_server(new ChildProgram(this))
    , m_emitTimer(new QTimer(this))
{
    connect(m_emitTimer, &QTimer::timeout, this, &LoadRun::emitBroadcasts);
    connect(m_server, &ChildProgram::lineRead, this,
        [this](const QString &line) { m_slowReadersClosed += line.contains(SlowReaderLog); });
    connect(m_server, &ChildProgram::finished, this, [this] {
        if (m_stopping)
            return;
        fail(QStringLiteral("qx-server ended during the run: ") + m_server->endDescription());
        m_steps = { [this] { stopServer(); } };
    });
}

void LoadRun::start()
{
    m_tally.clock.start();
    m_steps = { [this] { startPrograms(); }, [this] { connectListeners(); }, [this] { storm(); },
        [this] { drain(); }, [this] { stopServer(); } };
    next();
}

void LoadRun::next()
{
    if (m_steps.isEmpty())
        Q_EMIT finished(report() ? 0 : 1);
    else
        QTimer::singleShot(0, this, m_steps.takeFirst());
}

void LoadRun::fail(const QString &reason)
{
    m_failures.append(reason);
    Progress(QStringLiteral("FAIL: ") + reason);
}

void LoadRun::startPrograms()
{
    Progress(QStringLiteral("starting the simulated device and qx-server"));
    const QString link = m_dir.filePath(QStringLiteral("device"));
    const ServerSetup setup
        = ServerSetup::onFreePorts(link, m_dir.filePath(QStringLiteral("settings.ini")));
    m_commandPort = setup.commandPort;
    m_broadcastPort = setup.broadcastPort;
    m_device->start(QStringLiteral(QX_LOAD_SIM), { QStringLiteral("--link"), link });
    m_device->waitForLine(QStringLiteral("pty: "), StartTimeout, [this, setup](const auto &pty) {
        m_server->start(QStringLiteral(QX_LOAD_SERVER), setup.arguments());
        m_server->waitForLine(ServerRunningLine, StartTimeout, [this, pty](const auto &running) {
            if (!pty || !running) {
                fail(QStringLiteral(
                    "the device or the server did not start: qx-sim %1, qx-server %2")
                         .arg(m_device->endDescription(), m_server->endDescription()));
                m_steps = { [this] { stopServer(); } };
            }
            auto *sampler = new QTimer(this);
            connect(sampler, &QTimer::timeout, this, [this] {
                if (const std::optional<qint64> bytes = m_server->residentBytes()) {
                    m_peakResidentBytes = std::max(m_peakResidentBytes, *bytes);
                    ++m_residentSamples;
                }
            });
            sampler->start(MemorySampleMs);
            next();
        });
    });
}

void LoadRun::connectListeners()
{
    Progress(QStringLiteral("connecting the broadcast readers and the clients that never read"));
    auto waiting = std::make_shared<int>(SilentClients + BroadcastReaders);
    const auto done = Once(this, StepTimeoutMs, [this](bool inTime) {
        if (!inTime) {
            fail(QStringLiteral("broadcast clients not connected in time"));
            m_steps = { [this] { stopServer(); } };
        }
        next();
    });
    // The clients that never read come first, so that each gets a slot.
    for (int i = 0; i < SilentClients + BroadcastReaders; ++i) {
        auto *reader = new BroadcastReader(m_broadcastPort, i >= SilentClients, this);
        connect(reader, &BroadcastReader::connected, this, [waiting, done] {
            if (--*waiting == 0)
                done(true);
        });
        if (i >= SilentClients) {
            m_readers.append(reader);
            connect(reader, &BroadcastReader::progressed, this, &LoadRun::checkQuiet);
        }
    }
}

void LoadRun::storm()
{
    Progress(QStringLiteral("storm: %1 s").arg(m_options.seconds));
    using Kind = StormClient::Kind;
    for (int i = 0; i < CommandClients; ++i)
        m_commandClients.append(new StormClient(Kind::Command, i, m_commandPort, m_tally, this));
    for (const auto &[kind, count] : { std::pair { Kind::Junk, JunkClients },
             { Kind::Overlong, OverlongClients }, { Kind::Vanishing, VanishingClients } }) {
        for (int i = 0; i < count; ++i)
            m_otherClients.append(new StormClient(
                kind, FirstOtherId + int(m_otherClients.size()), m_commandPort, m_tally, this));
    }
    for (StormClient *client : m_commandClients + m_otherClients)
        client->start();
    m_emitting = true;
    m_sinceEmit.start();
    m_emitTimer->start(EmitIntervalMs);
    // The faults, spread over the storm: garbage, then an unplug, as often as the form asks.
    const int cycles = m_options.longForm ? 4 : 1;
    const qint64 slice = qint64(m_options.seconds) * 1000 / (2 * cycles + 1);
    for (int i = 0; i < cycles; ++i) {
        QTimer::singleShot(slice * (2 * i + 1), this, &LoadRun::floodGarbage);
        QTimer::singleShot(slice * (2 * i + 2), this, &LoadRun::unplugDevice);
    }
    QTimer::singleShot(qint64(m_options.seconds) * 1000, this, &LoadRun::next);
}

void LoadRun::emitBroadcasts()
{
    const qint64 elapsedMs = std::min(m_sinceEmit.restart(), MaxCatchUpMs);
    if (!m_emitting)
        return;
    const int rate = m_options.longForm ? LongFormBroadcastRate : ShortFormBroadcastRate;
    QByteArray commands;
    for (m_credit += double(rate) * double(elapsedMs) / 1000.0; m_credit >= 1; m_credit -= 1)
        commands += "broadcast " + TaggedMessage::line(m_nextBroadcast++) + '\n';
    m_device->write(commands);
}

void LoadRun::checkQuiet()
{
    if (!m_emitting && slowestReader() == m_nextBroadcast)
        Q_EMIT broadcastsQuiet();
}

quint32 LoadRun::slowestReader() const
{
    quint32 slowest = m_nextBroadcast;
    for (const BroadcastReader *reader : m_readers) {
        if (reader->isConnected())
            slowest = std::min(slowest, reader->next());
    }
    return slowest;
}

void LoadRun::floodGarbage()
{
    ++m_floods;
    Progress(QStringLiteral("the device floods garbage"));
    // No frame byte at all, then frame bytes that start no frame; the broadcasts that follow
    // must come through whole.
    QByteArray garbage(GarbageWithoutFrameByte, Qt::Uninitialized);
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = char(i % 0x7F);
    garbage += QByteArray("\xFF\x00", 2).repeated(GarbagePairs);
    for (qsizetype at = 0; at < garbage.size(); at += RawBytesPerLine)
        m_device->write("raw " + garbage.mid(at, RawBytesPerLine).toHex() + '\n');
}

void LoadRun::unplugDevice()
{
    ++m_unplugs;
    Progress(QStringLiteral("the device is unplugged for %1 ms").arg(UnpluggedMs));
    m_emitting = false;
    // What was still on its way to the readers may die with the line: the tail of what was sent.
    if (m_nextBroadcast > slowestReader())
        m_lostWithDevice.append({ slowestReader(), m_nextBroadcast - 1 });
    const qint64 unpluggedAt = m_tally.clock.elapsed();
    m_device->write("unplug\n");
    QTimer::singleShot(UnpluggedMs, this, [this, unpluggedAt] {
        m_device->write("plug\n");
        // The device is back once the server has found it again: the first echo after the plug.
        const auto recovered = Once(this, StepTimeoutMs, [this, unpluggedAt](bool inTime) {
            if (!inTime)
                fail(QStringLiteral("the server did not find the device again in time"));
            m_deviceAway.append({ unpluggedAt, m_tally.clock.elapsed() });
            m_emitting = !m_stopping;
        });
        for (StormClient *client : std::as_const(m_commandClients))
            connect(
                client, &StormClient::echoed, this, [recovered] { recovered(true); },
                Qt::SingleShotConnection);
    });
}

void LoadRun::drain()
{
    Progress(
        QStringLiteral("draining: every reader gets every broadcast, every command its answer"));
    m_stopping = true; // no more broadcasts, also after an unplug still under way
    m_emitting = false;
    for (StormClient *client : std::as_const(m_otherClients))
        client->stop();
    auto busy = std::make_shared<int>(CommandClients + 1); // + the readers
    const auto done = Once(this, StepTimeoutMs, [this](bool inTime) {
        if (!inTime)
            fail(QStringLiteral("answers or broadcasts still missing after the storm"));
        next();
    });
    const auto oneDone = [busy, done] {
        if (--*busy == 0)
            done(true);
    };
    connect(this, &LoadRun::broadcastsQuiet, this, oneDone, Qt::SingleShotConnection);
    for (StormClient *client : std::as_const(m_commandClients)) {
        connect(client, &StormClient::idle, this, oneDone, Qt::SingleShotConnection);
        client->stop();
    }
    QTimer::singleShot(0, this, &LoadRun::checkQuiet);
}

void LoadRun::stopServer()
{
    Progress(QStringLiteral("ending qx-server with SIGTERM"));
    m_stopping = true;
    m_emitTimer->stop();
    for (const BroadcastReader *reader : std::as_const(m_readers))
        m_readersConnected += reader->isConnected();
    m_server->terminate();
    m_server->waitForExit([this] {
        m_device->closeInput(); // the simulator ends with its input
        m_device->waitForExit([this] { next(); });
    });
}

LoadRun::Verdict LoadRun::answersVerdict() const
{
    qint64 whileAway = 0; // 010100 for a command still open while the device was away
    for (const auto &[sentMs, answeredMs] : std::as_const(m_tally.noAnswers)) {
        whileAway += std::any_of(m_deviceAway.cbegin(), m_deviceAway.cend(),
            [sent = sentMs, answered = answeredMs](
                const auto &away) { return answered >= away.first && sent <= away.second; });
    }
    const qint64 otherwise = m_tally.noAnswers.size() - whileAway;
    return { m_tally.ownAnswers > 0 && m_tally.malformedLines > 0 && m_tally.wrongAnswers == 0
            && otherwise == 0 && m_tally.unexpectedCloses == 0,
        QStringLiteral("answers: %1 commands with their own echo, %2 junk and 40,000-character "
                       "lines with 6180E1 (an overlong one then a working command); %3 wrong; "
                       "010100 %4 times while the device was away, %5 otherwise; %6 connections "
                       "ended by the server while an answer was due")
            .arg(m_tally.ownAnswers)
            .arg(m_tally.malformedLines)
            .arg(m_tally.wrongAnswers)
            .arg(whileAway)
            .arg(otherwise)
            .arg(m_tally.unexpectedCloses) };
}

LoadRun::Verdict LoadRun::broadcastsVerdict() const
{
    QString problem = m_readersConnected < m_readers.size()
        ? QStringLiteral("%1 readers closed by the server")
              .arg(m_readers.size() - m_readersConnected)
        : QString();
    qint64 lost = 0;
    for (const BroadcastReader *reader : std::as_const(m_readers)) {
        if (problem.isEmpty())
            problem = reader->judge(m_nextBroadcast, m_lostWithDevice);
        if (problem.isEmpty() && reader->gaps() != m_readers.first()->gaps())
            problem = QStringLiteral("readers lost different broadcasts");
    }
    for (const BroadcastReader::Range &gap : m_readers.first()->gaps())
        lost += gap.last - gap.first + 1;
    if (!problem.isEmpty())
        return { false, QStringLiteral("broadcasts: ") + problem };
    return { m_nextBroadcast > 0,
        QStringLiteral("broadcasts: %1 sent; all %2 readers got every one in order but %3 on their "
                       "way when the device was unplugged")
            .arg(m_nextBroadcast)
            .arg(m_readers.size())
            .arg(lost) };
}

bool LoadRun::report()
{
    const QList<Verdict> verdicts = {
        { m_server->exitStatus() == 0,
            QStringLiteral("qx-server on SIGTERM after the storm: ") + m_server->endDescription() },
        answersVerdict(),
        { m_tally.vanished > 0,
            QStringLiteral("%1 connections vanished on purpose, %2 refused with all slots in use")
                .arg(m_tally.vanished)
                .arg(m_tally.refused) },
        m_readers.isEmpty() ? Verdict { false, QStringLiteral("no broadcast readers") }
                            : broadcastsVerdict(),
        { !m_options.longForm || m_slowReadersClosed >= SilentClients,
            QStringLiteral("clients that never read: %1 of %2 closed as slow readers%3")
                .arg(m_slowReadersClosed)
                .arg(SilentClients)
                .arg(m_options.longForm ? QString()
                                        : QStringLiteral(" (required in the long form)")) },
        { m_residentSamples > 0 && m_peakResidentBytes <= m_options.memoryLimitBytes,
            QStringLiteral("memory: the server's VmRSS peaked at %1 MB (%2 samples; limit %3 MB)")
                .arg(double(m_peakResidentBytes) / 1e6, 0, 'f', 1)
                .arg(m_residentSamples)
                .arg(double(m_options.memoryLimitBytes) / 1e6, 0, 'f', 0) },
        { m_floods > 0 && m_unplugs > 0,
            QStringLiteral("faults: %1 garbage floods, %2 unplugs").arg(m_floods).arg(m_unplugs) },
    };
    bool passed = m_failures.isEmpty();
    std::printf("qx-load: %s form, %d s of storm\n", m_options.longForm ? "long" : "short",
        m_options.seconds);
    for (const auto &[pass, text] : verdicts) {
        std::printf("%s  %s\n", pass ? "PASS" : "FAIL", qPrintable(text));
        passed = passed && pass;
    }
    for (const QString &line : m_failures)
        std::printf("FAIL  %s\n", qPrintable(line));
    for (const QString &line : m_tally.problems)
        std::printf("      seen at %s\n", qPrintable(line));
    if (!passed) {
        std::printf("      the server's last log lines:\n");
        for (const QString &line : m_server->errorLines().mid(m_server->errorLines().size() - 20))
            std::printf("      %s\n", qPrintable(line));
    }
    std::printf("qx-load: %s\n", passed ? "PASS" : "FAIL");
    std::fflush(stdout);
    return passed;
}
