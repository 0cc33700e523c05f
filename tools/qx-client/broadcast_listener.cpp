#include "broadcast_listener.h"

#include "exit_status.h"
#include "server_connection.h"

#include <QTimer>

BroadcastListener::BroadcastListener(ServerConnection &connection,
    std::chrono::milliseconds keepAliveInterval, bool reconnect, QObject *parent)
    : QObject(parent)
    , m_connection(connection)
    , m_keepAliveTimer(new QTimer(this))
    , m_reconnectTimer(new QTimer(this))
    , m_reconnect(reconnect)
{
    m_keepAliveTimer->setInterval(keepAliveInterval);
    m_reconnectTimer->setSingleShot(true);
    m_reconnectTimer->setInterval(ReconnectInterval);
    connect(m_keepAliveTimer, &QTimer::timeout, this, &BroadcastListener::sendKeepAlive);
    connect(m_reconnectTimer, &QTimer::timeout, &m_connection, &ServerConnection::open);
    connect(&m_connection, &ServerConnection::connected, this, [this] {
        m_interrupted = false;
        m_keepAliveTimer->start();
        Q_EMIT listening();
    });
    connect(&m_connection, &ServerConnection::lineReceived, this, &BroadcastListener::lineReceived);
    connect(&m_connection, &ServerConnection::lost, this, [this] {
        handleEnd(ExitConnectionLost,
            QStringLiteral("%1 closed the connection").arg(m_connection.address()));
    });
    connect(&m_connection, &ServerConnection::failed, this, &BroadcastListener::handleEnd);
}

void BroadcastListener::start()
{
    m_connection.open();
}

void BroadcastListener::stop()
{
    m_reconnectTimer->stop();
    m_connection.close();
    finish(ExitSuccess);
}

void BroadcastListener::handleEnd(int exitStatus, const QString &message)
{
    if (!m_reconnect) {
        finish(exitStatus, message);
        return;
    }
    m_keepAliveTimer->stop();
    if (!m_interrupted)
        Q_EMIT interrupted(QStringLiteral("%1; connecting again every %2 until it is back")
                               .arg(message, ServerConnection::durationText(ReconnectInterval)));
    m_interrupted = true;
    m_reconnectTimer->start();
}

void BroadcastListener::sendKeepAlive()
{
    m_connection.send(QByteArray(1, KeepAliveByte));
}

void BroadcastListener::finish(int exitStatus, const QString &message)
{
    if (m_finished)
        return;
    m_finished = true;
    m_keepAliveTimer->stop();
    Q_EMIT finished(exitStatus, message);
}
