#include "line_connection.h"

#include <QTcpSocket>

#include <sys/socket.h>

LineConnection::LineConnection(QObject *parent)
    : QObject(parent)
    , m_socket(new QTcpSocket(this))
{
    connect(m_socket, &QTcpSocket::connected, this, [this] {
        m_connected = true;
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        Q_EMIT connected();
    });
    connect(m_socket, &QTcpSocket::readyRead, this, &LineConnection::readLines);
    connect(m_socket, &QTcpSocket::disconnected, this, &LineConnection::end);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        // The text that came before a reset still counts.
        readLines();
        end();
    });
}

void LineConnection::open(quint16 port)
{
    m_ended = false;
    m_socket->connectToHost(QHostAddress::LocalHost, port);
}

void LineConnection::send(const QByteArray &bytes)
{
    if (m_connected)
        m_socket->write(bytes);
}

void LineConnection::close(bool reset)
{
    m_ended = true;
    m_connected = false;
    if (reset) {
        // A zero linger time makes the close a reset, as when a client's process dies.
        const linger resetOnClose { 1, 0 };
        ::setsockopt(int(m_socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &resetOnClose,
            sizeof resetOnClose);
        m_socket->abort();
    } else {
        m_socket->disconnectFromHost();
    }
}

void LineConnection::shutdownSending()
{
    if (!m_connected)
        return;
    m_socket->flush();
    ::shutdown(int(m_socket->socketDescriptor()), SHUT_WR);
}

void LineConnection::readLines()
{
    const QByteArray bytes = m_socket->readAll();
    if (bytes.isEmpty())
        return;
    for (const QByteArray &line : m_lines.take(bytes)) {
        Q_EMIT lineReceived(line);
        if (m_ended)
            return;
    }
}

void LineConnection::end()
{
    if (m_ended)
        return;
    m_ended = true;
    m_connected = false;
    Q_EMIT closed(m_lines.rest());
}
