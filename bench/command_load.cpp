#include "command_load.h"

#include "channel.h"
#include "tagged_message.h"

#include <QTimer>

CommandLoad::CommandLoad(const QList<Channel *> &channels, QObject *parent)
    : QObject(parent)
    , m_durationTimer(new QTimer(this))
    , m_drainTimer(new QTimer(this))
    , m_stallTimer(new QTimer(this))
{
    m_stallTimer->setSingleShot(true);
    connect(m_stallTimer, &QTimer::timeout, this,
        [this] { fail(QStringLiteral("no answer for %1 ms").arg(m_plan.stallTimeout.count())); });
    m_durationTimer->setSingleShot(true);
    m_durationTimer->setTimerType(Qt::PreciseTimer);
    connect(m_durationTimer, &QTimer::timeout, this, &CommandLoad::stopMeasuring);
    m_drainTimer->setSingleShot(true);
    m_drainTimer->setInterval(DrainTimeout);
    connect(m_drainTimer, &QTimer::timeout, this,
        [this] { fail(QStringLiteral("answers still missing after the run")); });
    for (int i = 0; i < channels.size(); ++i) {
        Channel *channel = channels.at(i);
        Client client;
        client.channel = channel;
        m_clients.append(client);
        connect(channel, &Channel::answerReceived, this,
            [this, i](const QByteArray &message) { takeAnswer(i, message); });
        connect(channel, &Channel::failed, this, &CommandLoad::fail);
    }
}

void CommandLoad::start(const Plan &plan)
{
    m_plan = plan;
    m_warmupLeft = plan.warmupAnswers;
    m_clock.start();
    m_stallTimer->setInterval(plan.stallTimeout);
    m_stallTimer->start();
    if (m_warmupLeft <= 0)
        beginMeasuring();
    for (int i = 0; i < m_clients.size(); ++i)
        send(i);
}

void CommandLoad::send(int index)
{
    Client &client = m_clients[index];
    client.expected = TaggedMessage::command({ index, client.counter++ });
    client.waiting = true;
    client.sentNs = m_clock.nsecsElapsed();
    client.channel->sendCommand(client.expected);
}

void CommandLoad::takeAnswer(int index, const QByteArray &message)
{
    Client &client = m_clients[index];
    if (m_finished || !client.waiting)
        return;
    const qint64 now = m_clock.nsecsElapsed();
    client.waiting = false;
    m_stallTimer->start();
    if (message != client.expected)
        ++m_result.wrongAnswers;
    if (m_measuring) {
        ++m_result.answers;
        m_roundTripsUs.append((now - client.sentNs) / 1000);
        if (m_plan.measuredAnswers > 0 && m_result.answers >= m_plan.measuredAnswers)
            stopMeasuring();
    } else if (!m_stopping && --m_warmupLeft <= 0) {
        beginMeasuring();
    }
    if (m_stopping)
        finishIfDrained();
    else
        send(index);
}

void CommandLoad::beginMeasuring()
{
    m_measuring = true;
    m_measureStartNs = m_clock.nsecsElapsed();
    if (m_plan.duration.count() > 0)
        m_durationTimer->start(m_plan.duration);
}

void CommandLoad::stopMeasuring()
{
    if (!m_measuring)
        return;
    m_measuring = false;
    m_stopping = true;
    m_measureEndNs = m_clock.nsecsElapsed();
    m_durationTimer->stop();
    m_drainTimer->start();
    finishIfDrained();
}

void CommandLoad::finishIfDrained()
{
    for (const Client &client : std::as_const(m_clients)) {
        if (client.waiting)
            return;
    }
    finish();
}

void CommandLoad::fail(const QString &reason)
{
    if (m_result.error.isEmpty())
        m_result.error = reason;
    if (m_measureEndNs == 0)
        m_measureEndNs = m_clock.nsecsElapsed();
    finish();
}

void CommandLoad::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_durationTimer->stop();
    m_drainTimer->stop();
    m_stallTimer->stop();
    const qint64 spanNs = m_measureEndNs - m_measureStartNs;
    if (spanNs > 0)
        m_result.perSecond = double(m_result.answers) * 1e9 / double(spanNs);
    m_result.roundTripUs = Summarize(m_roundTripsUs);
    // Reported from the event loop: the receiver may delete this object.
    QTimer::singleShot(0, this, [this] { Q_EMIT finished(m_result); });
}
