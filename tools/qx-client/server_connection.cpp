#include "server_connection.h"

#include "core/protocol.h"

#include "exit_status.h"

#include <QTcpSocket>
#include <QTimer>

ServerConnection::ServerConnection(
    const QString &host, quint16 port, std::chrono::milliseconds connectTimeout, QObject *parent)
    : QObject(parent)
    , m_socket(new QTcpSocket(this))
    , m_connectTimer(new QTimer(this))
    , m_host(host)
    , m_port(port)
{
    m_connectTimer->setSingleShot(true);
    m_connectTimer->setInterval(connectTimeout);
    connect(m_connectTimer, &QTimer::timeout, this, &ServerConnection::giveUpConnecting);
    connect(m_socket, &QTcpSocket::connected, this, [this] {
        m_connectTimer->stop();
        m_connected = true;
        // Lines are short and each one waits for its answer.
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        Q_EMIT connected();
    });
    connect(m_socket, &QTcpSocket::readyRead, this, &ServerConnection::readText);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &ServerConnection::handleError);
    connect(m_socket, &QTcpSocket::disconnected, this, &ServerConnection::handleDisconnect);
}

void ServerConnection::open()
{
    m_socket->abort();
    m_text = ServerText();
    m_connected = false;
    m_done = false;
    m_connectTimer->start();
    m_socket->connectToHost(m_host, m_port);
}

void ServerConnection::send(const QByteArray &bytes)
{
    m_socket->write(bytes);
}

void ServerConnection::close()
{
    m_done = true;
    m_connectTimer->stop();
    m_socket->disconnectFromHost();
}

QString ServerConnection::address() const
{
    return QStringLiteral("%1:%2").arg(m_host).arg(m_port);
}

QString ServerConnection::durationText(std::chrono::milliseconds duration)
{
    if (duration.count() % 1000 == 0)
        return QStringLiteral("%1 s").arg(duration.count() / 1000);
    return QStringLiteral("%1 ms").arg(duration.count());
}

void ServerConnection::readText()
{
    if (m_done)
        return;
    m_text.append(m_socket->readAll());
    // However the text was cut into pieces on its way, an overlong line is the same failure.
    while (!m_text.isOverlong()) {
        const std::optional<QByteArray> line = m_text.takeLine();
        if (!line)
            break;
        Q_EMIT lineReceived(*line);
        if (m_done) // the receiver has finished with the connection
            return;
    }
    if (m_text.holdsRefusal(false))
        failRefused();
    else if (m_text.isOverlong())
        fail(ExitProtocolError,
            QStringLiteral("%1 sent more than %2 bytes without a line end: is it a qx-server?")
                .arg(address())
                .arg(ServerText::MaxPendingBytes));
}

void ServerConnection::handleError(QAbstractSocket::SocketError error)
{
    if (m_connected)
        handleDisconnect();
    else if (error == QAbstractSocket::ConnectionRefusedError)
        fail(ExitRefused,
            QStringLiteral("Connection refused: is qx-server running? (%1)").arg(address()));
    else
        fail(ExitFailure, QStringLiteral("%1: %2").arg(address(), m_socket->errorString()));
}

void ServerConnection::handleDisconnect()
{
    if (m_done)
        return;
    // Text can still wait in the socket when the close is reported.
    if (m_socket->bytesAvailable() > 0)
        readText();
    if (m_done)
        return;
    if (m_text.holdsRefusal(true)) {
        failRefused();
        return;
    }
    m_done = true;
    Q_EMIT lost();
}

void ServerConnection::giveUpConnecting()
{
    m_socket->abort();
    fail(ExitFailure,
        QStringLiteral("no connection to %1 within %2")
            .arg(address(), durationText(m_connectTimer->intervalAsDuration())));
}

void ServerConnection::fail(int exitStatus, const QString &message)
{
    if (m_done)
        return;
    m_done = true;
    m_connectTimer->stop();
    m_socket->abort();
    Q_EMIT failed(exitStatus, message);
}

void ServerConnection::failRefused()
{
    fail(ExitRefused,
        QStringLiteral("%1 refused the connection: \"%2\" (all its connections are in use, or a "
                       "client is programming the device)")
            .arg(address(), QString::fromLatin1(Protocol::RefusalText())));
}
