#include "broadcast_burst.h"

#include "child_program.h"
#include "device_client.h"
#include "tagged_message.h"

#include <QTimer>

namespace {

// Frames per "raw" line: the simulator takes lines of up to 64 KiB.
constexpr quint32 FramesPerLine = 2000;
const QByteArray BroadcastStart("\xFF\xFD", 2);

} // namespace

BroadcastBurst::BroadcastBurst(const QList<DeviceClient *> &receivers, ChildProgram &simulator,
    quint32 first, int count, QObject *parent)
    : QObject(parent)
    , m_simulator(simulator)
    , m_next(receivers.size(), first)
    , m_first(first)
    , m_end(first + quint32(count))
    , m_timeout(new QTimer(this))
{
    m_timeout->setSingleShot(true);
    connect(m_timeout, &QTimer::timeout, this, [this] {
        finish(QStringLiteral("%1 of %2 receivers had every broadcast in time")
                   .arg(m_receiversDone)
                   .arg(m_next.size()));
    });
    for (qsizetype i = 0; i < receivers.size(); ++i) {
        connect(receivers.at(i), &DeviceClient::broadcast, this,
            [this, i](const QByteArray &message) { take(m_next[i], message); });
    }
}

void BroadcastBurst::start(std::chrono::milliseconds timeout)
{
    QByteArray commands;
    for (quint32 lineStart = m_first; lineStart < m_end; lineStart += FramesPerLine) {
        QByteArray frames;
        for (quint32 number = lineStart; number < std::min(lineStart + FramesPerLine, m_end);
             ++number)
            frames += BroadcastStart + TaggedMessage::message(number);
        commands += "raw " + frames.toHex() + '\n';
    }
    m_running = true;
    m_timeout->start(timeout);
    m_clock.start();
    m_simulator.write(commands);
}

void BroadcastBurst::take(quint32 &next, const QByteArray &message)
{
    if (!m_running)
        return;
    if (TaggedMessage::numberOf(message) != next) {
        finish(QStringLiteral("broadcast %1 due, %2 came")
                   .arg(next)
                   .arg(QString::fromLatin1(message.toHex().toUpper())));
        return;
    }
    if (++next == m_end && ++m_receiversDone == m_next.size())
        finish();
}

void BroadcastBurst::finish(const QString &error)
{
    if (!m_running)
        return;
    m_running = false;
    m_timeout->stop();
    const Result result { m_clock.nsecsElapsed() / 1000, error };
    QTimer::singleShot(0, this, [this, result] { Q_EMIT finished(result); });
}
