#include "connection_slots.h"

#include "core/clock.h"
#include "core/logging.h"
#include "core/protocol.h"
#include "core/slot_search.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <utility>

ConnectionSlots::ConnectionSlots(const QString &service, SlotFlags &inUse, SlotTimes &lastTime,
    const int &maxConn, const Clock &clock, Admit admit, QObject *parent)
    : QObject(parent)
    , m_service(service)
    , m_inUse(inUse)
    , m_lastTime(lastTime)
    , m_maxConn(maxConn)
    , m_clock(clock)
    , m_admit(std::move(admit))
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &ConnectionSlots::acceptPending);
}

bool ConnectionSlots::listen(const QHostAddress &address, quint16 port, QString *error)
{
    if (m_server->isListening() || m_server->listen(address, port))
        return true;
    if (error)
        *error = m_server->errorString();
    return false;
}

bool ConnectionSlots::isListening() const
{
    return m_server->isListening();
}

quint16 ConnectionSlots::serverPort() const
{
    return m_server->serverPort();
}

QHostAddress ConnectionSlots::serverAddress() const
{
    return m_server->serverAddress();
}

void ConnectionSlots::closeListener()
{
    m_server->close();
}

bool ConnectionSlots::write(int slot, const QByteArray &bytes)
{
    QTcpSocket *socket = IsConnectionSlot(slot) ? m_connections[slot].socket : nullptr;
    if (!queue(socket, bytes))
        return false;
    // Out now rather than on a later loop pass; what the system does not take waits in the
    // socket's buffer for its turn.
    socket->flush();
    if (m_connections[slot].socket && socket->bytesToWrite() > Protocol::MaxUnsentBytes) {
        close(slot, CloseReason::SlowReader);
        return false;
    }
    return m_connections[slot].socket == socket;
}

void ConnectionSlots::close(int slot, CloseReason reason)
{
    if (!IsConnectionSlot(slot))
        return;
    m_inUse[slot] = 0;
    m_lastTime[slot] = 0;
    const Connection connection = std::exchange(m_connections[slot], Connection());
    if (!connection.socket)
        return;
    qCInfo(lcConnections).noquote()
        << QStringLiteral("%1 slot %2: %3 closed (%4)")
               .arg(m_service)
               .arg(slot)
               .arg(connection.peer.toString(), CloseReasonText(reason));
    // A slow reader's output is dropped; anything else may still leave.
    release(connection.socket, reason == CloseReason::SlowReader);
}

void ConnectionSlots::closeAll(CloseReason reason, int except)
{
    for (int slot = 1; slot <= LastConnectionSlot; ++slot) {
        if (slot != except)
            close(slot, reason);
    }
}

quint64 ConnectionSlots::connectionId(int slot) const
{
    return IsConnectionSlot(slot) ? m_connections[slot].id : 0;
}

void ConnectionSlots::acceptPending()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection())
        accept(socket);
}

void ConnectionSlots::accept(QTcpSocket *socket)
{
    socket->setParent(this);
    // The lines are short: without TCP_NODELAY a line can wait ~40 ms for the
    // client's delayed acknowledgement.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const Admission admission = m_admit();
    const int slot = FindFreeSlot(m_inUse, m_maxConn);
    if (slot > m_maxConn || !admission.refusal.isEmpty()) {
        refuse(socket, admission.greeting,
            admission.refusal.isEmpty() ? QStringLiteral("all slots in use") : admission.refusal);
        return;
    }
    Connection &connection = m_connections[slot];
    connection = { socket, ++m_lastConnectionId, clientAddress(socket) };
    m_inUse[slot] = 1;
    m_lastTime[slot] = m_clock.seconds();
    // close() cuts these connections, so they only ever see the socket of their slot. An error
    // alone changes nothing: the disconnect that follows frees the slot.
    connect(socket, &QTcpSocket::readyRead, this, [this, slot] { readData(slot); });
    connect(socket, &QTcpSocket::bytesWritten, this,
        [this, slot](qint64 bytes) { Q_EMIT written(slot, bytes); });
    connect(socket, &QTcpSocket::disconnected, this,
        [this, slot] { close(slot, CloseReason::PeerClosed); });
    qCInfo(lcConnections).noquote() << QStringLiteral("%1 slot %2: %3 accepted")
                                           .arg(m_service)
                                           .arg(slot)
                                           .arg(connection.peer.toString());
    Q_EMIT accepted(slot);
    if (!admission.greeting.isEmpty())
        write(slot, admission.greeting);
}

void ConnectionSlots::refuse(QTcpSocket *socket, const QByteArray &greeting, const QString &why)
{
    qCInfo(lcConnections).noquote() << QStringLiteral("%1 connection from %2 refused (%3)")
                                           .arg(m_service, clientAddress(socket).toString(), why);
    queue(socket, greeting + Protocol::RefusalText());
    release(socket, false);
}

void ConnectionSlots::readData(int slot)
{
    const QByteArray data = m_connections[slot].socket->readAll();
    m_lastTime[slot] = m_clock.seconds();
    Q_EMIT received(slot, data);
}

void ConnectionSlots::release(QTcpSocket *socket, bool abortNow)
{
    QObject::disconnect(socket, nullptr, this, nullptr);
    const auto abortAndDelete = [socket] {
        socket->abort();
        socket->deleteLater();
    };
    if (abortNow || socket->state() != QAbstractSocket::ConnectedState) {
        abortAndDelete();
        return;
    }
    connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    // A peer that never takes the rest of its output must not keep the socket forever.
    QTimer::singleShot(CloseGrace, socket, abortAndDelete);
    socket->disconnectFromHost();
}

QHostAddress ConnectionSlots::clientAddress(const QTcpSocket *socket)
{
    // An IPv4 client of a dual-stack listener shows as 192.0.2.7, not ::ffff:192.0.2.7.
    const QHostAddress peer = socket->peerAddress();
    bool mapped = false;
    const quint32 ipv4 = peer.toIPv4Address(&mapped);
    return mapped ? QHostAddress(ipv4) : peer;
}

bool ConnectionSlots::queue(QTcpSocket *socket, const QByteArray &bytes)
{
    // Writing to a socket that is closing or closed only earns a runtime warning.
    if (!socket || socket->state() != QAbstractSocket::ConnectedState)
        return false;
    return socket->write(bytes) == bytes.size();
}
