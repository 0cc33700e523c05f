#include "load_run.h"

#include "child_program.h"
#include "step_run.h"
#include "tagged_message.h"

#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

using namespace std::chrono_literals;

// Each holds at most one place in the server's ring of 100 commands while the device answers:
// 010100 for a full ring only comes from the commands that waited while it was away. They take
// the command service's 100 slots; one that connects anew may be refused.
constexpr int CommandClients = 100;
constexpr int SilentClients = 4; // never read; with the readers: 100 slots
constexpr int BroadcastReaders = 96;
// Broadcasts every 5 ms: in the long form enough that the clients that never read pile up more
// than the server's 1 MiB cap, while the readers and the command clients keep their share.
constexpr auto EmitInterval = 5ms;
constexpr int ShortFormBroadcastsPerEmit = 10;
constexpr int LongFormBroadcastsPerEmit = 20;
constexpr int GarbageWithoutFrameByte = 64 * 1024;
constexpr int GarbagePairs = 50 * 1000; // FF 00: frame bytes, but no frame start
constexpr int RawBytesPerLine = 30000; // qx-sim takes lines of up to 64 KiB
constexpr auto Unplugged = 1000ms;
constexpr auto SampleInterval = 250ms; // of the server's memory
constexpr auto KeepAliveInterval = 20s; // the server closes a listener silent for 60 s
constexpr auto StepTimeout = 30s;
const QString SlowReaderLog = QStringLiteral("(slow reader)");
constexpr int BreachesShown = 12;

} // namespace

LoadRun::LoadRun(const Options &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_steps(new StepRun(QStringLiteral("qx-load"), this))
    , m_device(new ChildProgram(this))
    , m_server(new ChildProgram(this))
{
    connect(m_steps, &StepRun::finished, this, [this] { Q_EMIT finished(report() ? 0 : 1); });
    connect(m_server, &ChildProgram::lineRead, this,
        [this](const QString &line) { m_slowReadersClosed += line.contains(SlowReaderLog); });
    auto *sampler = new QTimer(this);
    connect(sampler, &QTimer::timeout, this, [this] {
        if (const std::optional<qint64> bytes = m_server->residentBytes())
            m_peakResidentBytes = std::max(m_peakResidentBytes, *bytes);
    });
    sampler->start(SampleInterval);
    auto *keepAlive = new QTimer(this); // a listener must send now and then to stay connected
    connect(keepAlive, &QTimer::timeout, this, [this] {
        for (const Listener &listener : std::as_const(m_listeners)) {
            if (listener.socket->state() == QAbstractSocket::ConnectedState)
                listener.socket->write("\n");
        }
    });
    keepAlive->start(KeepAliveInterval);
}

void LoadRun::start()
{
    const auto storm = std::chrono::seconds(m_options.seconds);
    m_steps->add(QStringLiteral("starting qx-sim and qx-server"), [this] { startPrograms(); });
    m_steps->add(QStringLiteral("storm"), storm + StepTimeout, [this] { this->storm(); });
    m_steps->add(QStringLiteral("draining"), StepTimeout, [this] { drain(); });
    m_steps->add(
        QStringLiteral("ending qx-server with SIGTERM"), StepTimeout, [this] { stopPrograms(); });
    m_steps->start();
}

void LoadRun::startPrograms()
{
    m_setup = ServerSetup::onFreePorts(
        m_dir.filePath(QStringLiteral("device")), m_dir.filePath(QStringLiteral("settings.ini")));
    // The server searches again every second until the simulator's link is there.
    m_device->start(QStringLiteral(QX_LOAD_SIM), { QStringLiteral("--link"), m_setup.device });
    m_server->start(QStringLiteral(QX_LOAD_SERVER), m_setup.arguments());
    m_server->waitForLine(ServerRunningLine, StepTimeout, [this](const auto &running) {
        if (!running)
            return m_steps->fail(QStringLiteral("qx-server did not serve: %1; qx-sim: %2")
                                     .arg(m_server->endDescription(), m_device->endDescription()));
        m_steps->next();
    });
}

void LoadRun::connectListeners()
{
    m_listeners.resize(SilentClients + BroadcastReaders);
    // The clients that never read connect first, so that each gets a slot.
    for (qsizetype i = 0; i < m_listeners.size(); ++i) {
        auto *socket = m_listeners[i].socket = new QTcpSocket(this);
        connect(socket, &QTcpSocket::connected, this, [this] { ++m_listenersConnected; });
        if (i >= SilentClients)
            connect(socket, &QTcpSocket::readyRead, this,
                [this, i] { readBroadcasts(m_listeners[i]); });
        else
            socket->setReadBufferSize(1); // once full, nothing more leaves the kernel
        socket->connectToHost(QHostAddress::LocalHost, m_setup.broadcastPort);
    }
}

void LoadRun::readBroadcasts(Listener &reader)
{
    while (reader.socket->canReadLine()) {
        const auto number = TaggedMessage::numberOfLine(reader.socket->readLine().chopped(2));
        // Each once and in order; a gap only as the tail of what was on its way at an unplug.
        if (!number || *number < reader.next
            || (*number > reader.next && !m_resumedAt.contains(*number))) {
            ++reader.bad;
            continue;
        }
        reader.lost += *number - reader.next;
        reader.next = *number + 1;
    }
}

void LoadRun::storm()
{
    connectListeners();
    for (int id = 0; id < CommandClients; ++id) {
        m_clients.append(new CommandClient(id, m_setup.commandPort, m_tally, this));
        m_clients.last()->start();
    }
    auto *emitter = new QTimer(m_steps->scope()); // the broadcasts end with the storm
    connect(emitter, &QTimer::timeout, this, &LoadRun::emitBroadcasts);
    emitter->start(EmitInterval);
    // The faults, spread over the storm: garbage, then an unplug, as often as the form asks.
    const int cycles = m_options.longForm ? 4 : 1;
    const std::chrono::milliseconds storm = std::chrono::seconds(m_options.seconds);
    for (int i = 1; i <= 2 * cycles; ++i) {
        QTimer::singleShot(storm * i / (2 * cycles + 1), m_steps->scope(),
            [this, i] { i % 2 == 1 ? floodGarbage() : unplugDevice(); });
    }
    QTimer::singleShot(storm, m_steps->scope(), [this] { m_steps->next(); });
}

void LoadRun::emitBroadcasts()
{
    // Once every listener is there, while the device is, until the storm ends.
    const bool emitting
        = m_listenersConnected == m_listeners.size() && m_tally.deviceEpoch % 3 == 0;
    QByteArray commands;
    for (int i = m_options.longForm ? LongFormBroadcastsPerEmit : ShortFormBroadcastsPerEmit;
         emitting && i > 0; --i)
        commands += "broadcast " + TaggedMessage::line(m_nextBroadcast++) + '\n';
    m_device->write(commands);
}

void LoadRun::floodGarbage()
{
    ++m_floods;
    m_steps->say(QStringLiteral("the device floods garbage"));
    // No frame byte at all, then frame bytes that start no frame: the broadcasts after it whole.
    const QByteArray garbage = QByteArray(GarbageWithoutFrameByte, '\x55')
        + QByteArray("\xFF\x00", 2).repeated(GarbagePairs);
    for (qsizetype at = 0; at < garbage.size(); at += RawBytesPerLine)
        m_device->write("raw " + garbage.mid(at, RawBytesPerLine).toHex() + '\n');
}

void LoadRun::unplugDevice()
{
    m_steps->say(QStringLiteral("the device is unplugged for %1 ms").arg(Unplugged.count()));
    m_resumedAt.append(m_nextBroadcast); // what was still on its way may die with the line
    ++m_tally.deviceEpoch; // unplugged
    m_device->write("unplug\n");
    QTimer::singleShot(Unplugged, this, [this] {
        m_device->write("plug\n");
        ++m_tally.deviceEpoch;
    });
}

void LoadRun::drain()
{
    // Done once every client is idle and every reader has every broadcast.
    const auto check = [this] {
        if (m_idleClients == m_clients.size() && slowestReader() == m_nextBroadcast)
            m_steps->next();
    };
    for (const Listener &listener : std::as_const(m_listeners))
        connect(listener.socket, &QTcpSocket::readyRead, m_steps->scope(), check);
    for (CommandClient *client : std::as_const(m_clients)) {
        connect(client, &CommandClient::idle, m_steps->scope(), [this, check] {
            ++m_idleClients;
            check();
        });
        client->stop();
    }
}

quint32 LoadRun::slowestReader() const
{
    quint32 slowest = m_nextBroadcast;
    for (qsizetype i = SilentClients; i < m_listeners.size(); ++i)
        slowest = std::min(slowest, m_listeners.at(i).next);
    return slowest;
}

void LoadRun::stopPrograms()
{
    m_server->terminate();
    m_server->waitForExit([this] {
        m_device->closeInput(); // qx-sim ends with its input
        m_device->waitForExit([this] { m_steps->next(); });
    });
}

bool LoadRun::report()
{
    const Tally &t = m_tally;
    bool passed = m_steps->failures().isEmpty();
    const auto verdict = [&passed](bool pass, const QString &text) {
        std::printf("%s  %s\n", pass ? "PASS" : "FAIL", qPrintable(text));
        passed = passed && pass;
    };
    std::printf("qx-load: %s form, %d s of storm\n", m_options.longForm ? "long" : "short",
        m_options.seconds);
    verdict(m_server->exitStatus() == 0,
        QStringLiteral("qx-server on SIGTERM after the storm: ") + m_server->endDescription());
    verdict(t.echoes > 0 && t.breaches.isEmpty(),
        QString::asprintf("answers: %lld own echoes, 010100 %lld times while the device was away, "
                          "%lld breaches (a wrong line, 010100 otherwise, closed by the server)",
            t.echoes, t.noAnswersAway, qint64(t.breaches.size())));
    verdict(t.junkErrors > 0 && t.overlongErrors > 0,
        QString::asprintf("6180E1 to %lld junk lines, and once to each of %lld overlong ones",
            t.junkErrors, t.overlongErrors));
    verdict(t.vanished > 0, QString::asprintf("%lld connections vanished on purpose", t.vanished));
    const QList<Listener> readers = m_listeners.mid(SilentClients);
    qint64 bad = 0; // and readers that lost other broadcasts than the first did
    for (const Listener &reader : readers)
        bad += reader.bad + (reader.lost != readers.first().lost);
    verdict(m_nextBroadcast > 0 && bad == 0 && slowestReader() == m_nextBroadcast,
        QString::asprintf(
            "broadcasts: %u sent, to each of %lld readers but %lld on their way "
            "when the device was unplugged; the slowest up to %u; %lld out of order or lost",
            m_nextBroadcast, qint64(readers.size()), readers.isEmpty() ? 0 : readers.first().lost,
            slowestReader(), bad));
    verdict(!m_options.longForm || m_slowReadersClosed >= SilentClients,
        QString::asprintf("clients that never read: %d of %d closed as slow readers%s",
            m_slowReadersClosed, SilentClients, m_options.longForm ? "" : " (long form only)"));
    verdict(m_peakResidentBytes > 0 && m_peakResidentBytes <= m_options.memoryLimitBytes,
        QString::asprintf("memory: the server's VmRSS peaked at %.1f MB (limit %.0f MB)",
            double(m_peakResidentBytes) / 1e6, double(m_options.memoryLimitBytes) / 1e6));
    const int unplugs = int(m_resumedAt.size());
    verdict(m_floods > 0 && unplugs > 0 && t.deviceEpoch == 3 * unplugs,
        QString::asprintf("faults: %d garbage floods, %d unplugs, the device found again after %d",
            m_floods, unplugs, t.deviceEpoch / 3));
    for (const QString &line : m_steps->failures() + t.breaches.mid(0, BreachesShown))
        std::printf("FAIL  %s\n", qPrintable(line));
    const QStringList &log = m_server->errorLines(); // its last lines tell what went wrong
    for (const QString &line : passed ? QStringList() : log.mid(log.size() - 20))
        std::printf("      qx-server: %s\n", qPrintable(line));
    std::printf("qx-load: %s\n", passed ? "PASS" : "FAIL");
    std::fflush(stdout);
    return passed;
}
