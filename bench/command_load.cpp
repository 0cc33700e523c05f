#include "command_load.h"

#include "device_client.h"
#include "tagged_message.h"

#include <QTimer>

#include <algorithm>

CommandLoad::CommandLoad(const QList<DeviceClient *> &clients, int commands, QObject *parent)
    : QObject(parent)
    , m_commands(commands)
    , m_timeout(new QTimer(this))
{
    m_timeout->setSingleShot(true);
    connect(m_timeout, &QTimer::timeout, this,
        [this] { finish(QStringLiteral("%1 answers still missing").arg(m_outstanding)); });
    m_clients.resize(clients.size());
    for (qsizetype i = 0; i < clients.size(); ++i) {
        m_clients[i].client = clients.at(i);
        connect(clients.at(i), &DeviceClient::answer, this,
            [this, i](const QByteArray &message) { take(m_clients[i], message); });
    }
}

void CommandLoad::start(std::chrono::milliseconds timeout)
{
    m_running = true;
    m_outstanding = qint64(m_commands) * m_clients.size();
    m_result.roundTripsUs.reserve(m_outstanding);
    m_timeout->start(timeout);
    m_clock.start();
    for (Client &client : m_clients)
        send(client);
}

void CommandLoad::send(Client &client)
{
    const int index = int(&client - m_clients.data());
    client.expected = TaggedMessage::message(TaggedMessage::commandNumber(index, client.counter++));
    client.sentNs = m_clock.nsecsElapsed();
    client.client->send(client.expected);
}

void CommandLoad::take(Client &client, const QByteArray &message)
{
    if (!m_running)
        return;
    m_result.roundTripsUs.append((m_clock.nsecsElapsed() - client.sentNs) / 1000);
    m_result.wrong += message != client.expected;
    --m_outstanding;
    if (m_outstanding == 0)
        finish();
    else if (client.counter < quint32(m_commands))
        send(client);
}

void CommandLoad::finish(const QString &error)
{
    if (!m_running)
        return;
    m_running = false;
    m_timeout->stop();
    m_result.error = error;
    m_result.perSecond
        = double(m_result.roundTripsUs.size()) * 1e9 / double(m_clock.nsecsElapsed());
    std::sort(m_result.roundTripsUs.begin(), m_result.roundTripsUs.end());
    // From the event loop: the receiver may delete this load and its clients.
    QTimer::singleShot(0, this, [this] { Q_EMIT finished(m_result); });
}
