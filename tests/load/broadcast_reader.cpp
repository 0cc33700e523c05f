#include "broadcast_reader.h"

#include "line_connection.h"
#include "tagged_message.h"

#include <QTimer>

BroadcastReader::BroadcastReader(quint16 port, QObject *parent)
    : QObject(parent)
    , m_port(port)
    , m_connection(new LineConnection(this))
    , m_keepAlive(new QTimer(this))
{
    connect(m_connection, &LineConnection::connected, this, [this] {
        m_keepAlive->start(KeepAliveMs);
        Q_EMIT connected();
    });
    connect(m_connection, &LineConnection::lineReceived, this, &BroadcastReader::takeLine);
    connect(m_connection, &LineConnection::closed, this, [this] {
        m_closed = true;
        m_keepAlive->stop();
    });
    connect(m_keepAlive, &QTimer::timeout, this, [this] { m_connection->send("\n"); });
}

void BroadcastReader::open()
{
    m_connection->open(m_port);
}

bool BroadcastReader::isConnected() const
{
    return m_connection->isConnected();
}

void BroadcastReader::takeLine(const QByteArray &line)
{
    const std::optional<QByteArray> message = TaggedMessage::parseHexLine(line);
    const std::optional<quint32> sequence
        = message ? TaggedMessage::parseBroadcast(*message) : std::nullopt;
    if (sequence)
        m_check.take(*sequence);
    else
        m_check.takeForeign();
    Q_EMIT progressed();
}
