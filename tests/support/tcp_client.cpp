#include "tcp_client.h"

#include <QHostAddress>
#include <QTest>

TcpClient::TcpClient(QObject *parent)
    : QObject(parent)
{
    connect(&m_socket, &QTcpSocket::readyRead, this, &TcpClient::collect);
    connect(&m_socket, &QTcpSocket::disconnected, this, [this] {
        collect(); // what came with the close
        m_disconnected = true;
    });
}

TcpClient::~TcpClient()
{
    m_socket.disconnect(this); // the socket's last signals come after the members have gone
}

bool TcpClient::connectTo(quint16 port, int timeoutMs)
{
    m_socket.connectToHost(QHostAddress::LocalHost, port);
    return QTest::qWaitFor(
        [this] { return m_socket.state() == QAbstractSocket::ConnectedState; }, timeoutMs);
}

void TcpClient::send(const QByteArray &bytes)
{
    m_socket.write(bytes);
}

void TcpClient::close()
{
    m_socket.disconnectFromHost();
}

void TcpClient::stopReading()
{
    disconnect(&m_socket, &QTcpSocket::readyRead, this, &TcpClient::collect);
    m_socket.setReadBufferSize(1);
}

QByteArray TcpClient::takeLine()
{
    const qsizetype end = m_received.indexOf("\r\n", m_taken);
    if (end < 0)
        return QByteArray();
    const QByteArray line = m_received.mid(m_taken, end + 2 - m_taken);
    m_taken = end + 2;
    return line;
}

QByteArray TcpClient::ask(const QByteArray &line, int timeoutMs)
{
    send(line);
    return waitForLine(timeoutMs) ? takeLine() : QByteArray();
}

bool TcpClient::waitForReceived(qsizetype bytes, int timeoutMs)
{
    return QTest::qWaitFor([&] { return m_received.size() >= bytes; }, timeoutMs);
}

bool TcpClient::waitForLine(int timeoutMs)
{
    return QTest::qWaitFor([&] { return m_received.indexOf("\r\n", m_taken) >= 0; }, timeoutMs);
}

bool TcpClient::waitForDisconnected(int timeoutMs)
{
    return QTest::qWaitFor([this] { return m_disconnected; }, timeoutMs);
}

void TcpClient::collect()
{
    if (m_socket.isOpen())
        m_received.append(m_socket.readAll());
}
