#include "service_listener.h"

#include <QTcpServer>
#include <QTcpSocket>

ServiceListener::ServiceListener(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &ServiceListener::acceptPending);
}

bool ServiceListener::listen(const QHostAddress &address, quint16 port, QString *error)
{
    if (m_server->isListening() || m_server->listen(address, port))
        return true;
    if (error)
        *error = m_server->errorString();
    return false;
}

bool ServiceListener::isListening() const
{
    return m_server->isListening();
}

quint16 ServiceListener::serverPort() const
{
    return m_server->serverPort();
}

QHostAddress ServiceListener::serverAddress() const
{
    return m_server->serverAddress();
}

void ServiceListener::close()
{
    m_server->close();
}

void ServiceListener::acceptPending()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection())
        Q_EMIT accepted(socket);
}
