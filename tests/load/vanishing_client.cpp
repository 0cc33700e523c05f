#include "vanishing_client.h"

#include "line_connection.h"
#include "load_tally.h"
#include "tagged_message.h"

#include <QTimer>

VanishingClient::VanishingClient(int id, quint16 port, LoadTally &tally, QObject *parent)
    : QObject(parent)
    , m_id(id)
    , m_port(port)
    , m_tally(tally)
    , m_random(quint32(id) * 104729u + 3)
{ }

void VanishingClient::start()
{
    connectNow();
}

void VanishingClient::stop()
{
    m_stopping = true;
    if (m_connection)
        m_connection->close();
}

void VanishingClient::connectNow()
{
    if (m_stopping)
        return;
    if (m_connection)
        m_connection->deleteLater();
    m_connection = new LineConnection(this);
    connect(m_connection, &LineConnection::connected, this, &VanishingClient::vanish);
    // A refusal or an early end is fine: this client was about to go anyway.
    connect(m_connection, &LineConnection::closed, this,
        [this] { QTimer::singleShot(MinPauseMs, this, &VanishingClient::connectNow); });
    m_connection->open(m_port);
}

void VanishingClient::vanish()
{
    const QByteArray command = TaggedMessage::command({ m_id, m_counter++ }).toHex().toUpper();
    switch (m_random.bounded(4)) {
    case 0: // gone at once
        m_connection->close();
        break;
    case 1: // gone by a reset, as when its process dies
        m_connection->close(true);
        break;
    case 2: // half a line, then gone
        m_connection->send(command.left(5));
        m_connection->close();
        break;
    default: // a whole command, gone before its answer
        m_connection->send(command + '\r');
        m_connection->close(true);
        break;
    }
    ++m_tally.vanished;
    QTimer::singleShot(
        m_random.bounded(MinPauseMs, MaxPauseMs), this, &VanishingClient::connectNow);
}
