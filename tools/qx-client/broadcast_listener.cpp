#include "broadcast_listener.h"

#include "exit_status.h"
#include "server_connection.h"

#include <QTimer>

BroadcastListener::BroadcastListener(
    ServerConnection &connection, std::chrono::milliseconds keepAliveInterval, QObject *parent)
    : QObject(parent)
    , m_connection(connection)
    , m_keepAliveTimer(new QTimer(this))
{
    m_keepAliveTimer->setInterval(keepAliveInterval);
    connect(m_keepAliveTimer, &QTimer::timeout, this, &BroadcastListener::sendKeepAlive);
    connect(&m_connection, &ServerConnection::connected, this, [this] {
        m_keepAliveTimer->start();
        Q_EMIT listening();
    });
    connect(&m_connection, &ServerConnection::lineReceived, this, &BroadcastListener::lineReceived);
    connect(&m_connection, &ServerConnection::lost, this, [this] {
        finish(ExitConnectionLost,
            QStringLiteral("%1 closed the connection").arg(m_connection.address()));
    });
    connect(&m_connection, &ServerConnection::failed, this, &BroadcastListener::finish);
}

void BroadcastListener::start()
{
    m_connection.open();
}

void BroadcastListener::stop()
{
    m_connection.close();
    finish(ExitSuccess);
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
