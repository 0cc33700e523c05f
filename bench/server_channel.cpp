#include "server_channel.h"

#include "line_connection.h"
#include "tagged_message.h"

ServerChannel::ServerChannel(Service service, quint16 port, QObject *parent)
    : Channel(parent)
    , m_service(service)
    , m_port(port)
    , m_connection(new LineConnection(this))
{
    connect(m_connection, &LineConnection::connected, this, &Channel::opened);
    connect(m_connection, &LineConnection::lineReceived, this, &ServerChannel::takeLine);
    connect(m_connection, &LineConnection::closed, this, [this](const QByteArray &rest) {
        if (m_releasing) {
            Q_EMIT released();
            return;
        }
        Q_EMIT failed(rest.isEmpty()
                ? QStringLiteral("the server closed the connection")
                : QStringLiteral("the server said: ") + QString::fromUtf8(rest));
    });
}

void ServerChannel::open()
{
    m_connection->open(m_port);
}

void ServerChannel::sendCommand(const QByteArray &message)
{
    m_connection->send(message.toHex().toUpper() + '\r');
}

void ServerChannel::close()
{
    m_connection->close();
}

void ServerChannel::release()
{
    if (!m_connection->isConnected()) {
        Q_EMIT released();
        return;
    }
    m_releasing = true;
    m_connection->shutdownSending();
}

void ServerChannel::takeLine(const QByteArray &line)
{
    if (m_releasing)
        return;
    const std::optional<QByteArray> message = TaggedMessage::parseHexLine(line);
    if (!message) {
        Q_EMIT failed(QStringLiteral("not a hex line: ") + QString::fromUtf8(line.left(80)));
        return;
    }
    if (m_service == Service::Commands)
        Q_EMIT answerReceived(*message);
    else
        Q_EMIT broadcastReceived(*message);
}
