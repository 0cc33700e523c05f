#include "broadcast_probe.h"

#include "channel.h"
#include "tagged_message.h"

#include <QTimer>

BroadcastProbe::BroadcastProbe(
    const QList<Channel *> &receivers, Emit emitCommands, quint32 firstSequence, QObject *parent)
    : QObject(parent)
    , m_emit(std::move(emitCommands))
    , m_timeout(new QTimer(this))
    , m_next(firstSequence)
{
    m_timeout->setSingleShot(true);
    connect(m_timeout, &QTimer::timeout, this,
        [this] { finish(false, QStringLiteral("not every receiver had every line in time")); });
    for (int i = 0; i < receivers.size(); ++i) {
        m_receivers.append(Receiver { firstSequence });
        connect(receivers.at(i), &Channel::broadcastReceived, this,
            [this, i](const QByteArray &message) { take(i, message); });
        connect(receivers.at(i), &Channel::failed, this,
            [this](const QString &reason) { finish(false, reason); });
    }
}

QByteArray BroadcastProbe::commands(quint32 first, int count)
{
    QByteArray text;
    for (int i = 0; i < count; ++i)
        text += "broadcast " + TaggedMessage::broadcast(first + quint32(i)).toHex() + '\n';
    return text;
}

void BroadcastProbe::measureLatency(int samples, std::chrono::milliseconds timeout)
{
    m_burst = false;
    m_running = true;
    m_samplesLeft = samples;
    m_timeout->start(timeout);
    m_clock.start();
    emitBatch(1);
}

void BroadcastProbe::measureBurst(int count, std::chrono::milliseconds timeout)
{
    m_burst = true;
    m_running = true;
    m_result.expectedLines = qint64(count) * m_receivers.size();
    m_timeout->start(timeout);
    m_clock.start();
    emitBatch(count);
}

void BroadcastProbe::emitBatch(int count)
{
    const QByteArray text = commands(m_next, count);
    m_batchEnd = m_next + quint32(count);
    m_next = m_batchEnd;
    m_batchStartNs = m_clock.nsecsElapsed();
    m_emit(text);
}

void BroadcastProbe::take(int index, const QByteArray &message)
{
    if (!m_running)
        return;
    Receiver &receiver = m_receivers[index];
    const std::optional<quint32> sequence = TaggedMessage::parseBroadcast(message);
    ++m_result.receivedLines;
    if (!sequence || *sequence != receiver.expected)
        m_result.inOrder = false;
    if (sequence)
        receiver.expected = *sequence + 1;
    if (!allReached(m_batchEnd))
        return;
    if (m_burst) {
        m_result.milliseconds = (m_clock.nsecsElapsed() - m_batchStartNs) / 1000000;
        finish(m_result.inOrder);
        return;
    }
    sampleDone();
}

bool BroadcastProbe::allReached(quint32 end) const
{
    for (const Receiver &receiver : m_receivers) {
        if (receiver.expected != end)
            return false;
    }
    return true;
}

void BroadcastProbe::sampleDone()
{
    m_latenciesUs.append((m_clock.nsecsElapsed() - m_batchStartNs) / 1000);
    if (--m_samplesLeft <= 0) {
        finish(m_result.inOrder);
        return;
    }
    // From the event loop: the next sample must not start inside this receiver's signal.
    QTimer::singleShot(0, this, [this] {
        if (m_running)
            emitBatch(1);
    });
}

void BroadcastProbe::finish(bool complete, const QString &error)
{
    if (!m_running)
        return;
    m_running = false;
    m_timeout->stop();
    m_result.complete = complete;
    if (!error.isEmpty())
        m_result.error = error;
    m_result.latencyUs = Summarize(m_latenciesUs);
    QTimer::singleShot(0, this, [this] { Q_EMIT finished(m_result); });
}
