#include "command_load.h"

#include "device_client.h"
#include "tagged_message.h"

#include <QTimer>

#include <algorithm>

CommandLoad::CommandLoad(
    const QList<DeviceClient *> &clients, int commands, bool inTurn, QObject *parent)
    : QObject(parent)
    , m_clients(clients.size())
    , m_commands(commands)
    , m_inTurn(inTurn)
    , m_timeout(new QTimer(this))
{
    m_timeout->setSingleShot(true);
    connect(m_timeout, &QTimer::timeout, this,
        [this] { finish(QStringLiteral("%1 answers still missing").arg(m_outstanding)); });
    m_result.roundTripsUs.resize(clients.size());
    for (int i = 0; i < clients.size(); ++i) {
        m_clients[i].client = clients.at(i);
        connect(clients.at(i), &DeviceClient::answer, this,
            [this, i](const QByteArray &message) { take(i, message); });
    }
}

void CommandLoad::start(std::chrono::milliseconds timeout)
{
    m_running = true;
    m_outstanding = qint64(m_commands) * m_clients.size();
    m_timeout->start(timeout);
    m_clock.start();
    for (int i = 0; i < (m_inTurn ? 1 : m_clients.size()); ++i)
        send(i);
}

void CommandLoad::send(int index)
{
    Client &client = m_clients[index];
    client.expected = TaggedMessage::message(TaggedMessage::commandNumber(index, client.sent++));
    client.sentNs = m_clock.nsecsElapsed();
    client.client->send(client.expected);
}

void CommandLoad::take(int index, const QByteArray &message)
{
    Client &client = m_clients[index];
    if (!m_running || client.expected.isEmpty())
        return;
    m_result.roundTripsUs[index].append((m_clock.nsecsElapsed() - client.sentNs) / 1000);
    m_result.wrong += message != std::exchange(client.expected, {});
    if (--m_outstanding == 0)
        finish();
    else if (m_inTurn)
        send((index + 1) % m_clients.size());
    else if (client.sent < m_commands)
        send(index);
}

void CommandLoad::finish(const QString &error)
{
    if (!m_running)
        return;
    m_running = false;
    m_timeout->stop();
    m_result.error = error;
    const qint64 answers = qint64(m_commands) * m_clients.size() - m_outstanding;
    m_result.perSecond = double(answers) * 1e9 / double(m_clock.nsecsElapsed());
    for (QList<qint64> &samples : m_result.roundTripsUs)
        std::sort(samples.begin(), samples.end());
    // From the event loop: the receiver may delete this load and its clients.
    QTimer::singleShot(0, this, [this] { Q_EMIT finished(m_result); });
}
