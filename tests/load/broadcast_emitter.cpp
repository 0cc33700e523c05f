#include "broadcast_emitter.h"

#include "broadcast_reader.h"
#include "sim/simulated_device.h"
#include "tagged_message.h"

#include <QTimer>

#include <algorithm>

BroadcastEmitter::BroadcastEmitter(SimulatedDevice &device, const QList<BroadcastReader *> &readers,
    int perSecond, QObject *parent)
    : QObject(parent)
    , m_device(device)
    , m_readers(readers)
    , m_timer(new QTimer(this))
    , m_perSecond(perSecond)
{
    m_timer->setInterval(IntervalMs);
    connect(m_timer, &QTimer::timeout, this, &BroadcastEmitter::emitBatch);
    for (BroadcastReader *reader : readers)
        connect(reader, &BroadcastReader::progressed, this, &BroadcastEmitter::checkQuiet);
}

void BroadcastEmitter::start()
{
    m_paused = false;
    m_credit = 0;
    m_sinceShot.start();
    m_timer->start();
}

void BroadcastEmitter::pause()
{
    m_paused = true;
    m_timer->stop();
    QTimer::singleShot(0, this, &BroadcastEmitter::checkQuiet);
}

void BroadcastEmitter::resume()
{
    start();
}

quint32 BroadcastEmitter::slowestReader() const
{
    quint32 slowest = m_next;
    for (const BroadcastReader *reader : m_readers) {
        if (reader->isConnected())
            slowest = std::min(slowest, reader->check().next());
    }
    return slowest;
}

void BroadcastEmitter::emitBatch()
{
    const qint64 elapsedMs = std::min<qint64>(m_sinceShot.restart(), MaxCatchUpMs);
    if (m_paused || !m_device.isPlugged())
        return;
    m_credit += double(m_perSecond) * double(elapsedMs) / 1000.0;
    const quint32 slowest = slowestReader();
    for (; m_credit >= 1 && m_next - slowest < Window; m_credit -= 1) {
        const QByteArray message = TaggedMessage::broadcast(m_next++);
        m_bytes += message.size() * 2 + 2;
        m_device.sendBroadcast(message);
    }
}

void BroadcastEmitter::checkQuiet()
{
    if (m_paused && slowestReader() == m_next)
        Q_EMIT quiet();
}
