#include "broadcast_service.h"

#include "command/connection_socket.h"
#include "command/prog_mode.h"
#include "command/service_listener.h"
#include "core/clock.h"
#include "core/hex_line.h"
#include "core/logging.h"
#include "core/slot_search.h"

#include <QTcpSocket>
#include <utility>

BroadcastService::BroadcastService(ServerState &state, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_clock(clock)
    , m_listener(new ServiceListener(this))
{
    connect(m_listener, &ServiceListener::accepted, this, &BroadcastService::acceptConnection);
}

bool BroadcastService::listen(const QHostAddress &address, quint16 port, QString *error)
{
    return m_listener->listen(address, port, error);
}

bool BroadcastService::isListening() const
{
    return m_listener->isListening();
}

quint16 BroadcastService::serverPort() const
{
    return m_listener->serverPort();
}

void BroadcastService::closeListener()
{
    m_listener->close();
}

void BroadcastService::SubmitBC(const QByteArray &zeile)
{
    const QByteArray line = HexLine(zeile);
    for (int slot = 1; slot <= LastConnectionSlot; ++slot) {
        if (m_state.BcInUse[slot] == 1)
            writeTo(slot, line);
    }
}

void BroadcastService::closeSlot(int slot, CloseReason reason)
{
    if (!IsConnectionSlot(slot))
        return;
    m_state.BcInUse[slot] = 0;
    m_state.BcLastTime[slot] = 0;
    const Connection connection = std::exchange(m_connections[slot], Connection());
    if (!connection.socket)
        return;
    qCInfo(lcConnections).noquote()
        << QStringLiteral("broadcast slot %1: %2 closed (%3)")
               .arg(slot)
               .arg(connection.peer.toString(), CloseReasonText(reason));
    ConnectionSocket::close(connection.socket, this, reason == CloseReason::SlowReader);
}

void BroadcastService::closeAll(CloseReason reason)
{
    for (int slot = 1; slot <= LastConnectionSlot; ++slot)
        closeSlot(slot, reason);
}

void BroadcastService::acceptConnection(QTcpSocket *socket)
{
    ConnectionSocket::prepare(socket, this);
    const QHostAddress peer = ConnectionSocket::clientAddress(socket);
    // The notice goes out before a refusal too: a refused client learns why the device is busy.
    const QByteArray notice
        = m_state.ProgMode ? HexLine(ProgModeNotice()).repeated(2) : QByteArray();
    const int slot = FindFreeSlot(m_state.BcInUse, m_state.MaxConn);
    if (slot > m_state.MaxConn) {
        qCInfo(lcConnections).noquote()
            << QStringLiteral("broadcast connection from %1 refused (all slots in use)")
                   .arg(peer.toString());
        if (!notice.isEmpty())
            ConnectionSocket::write(socket, notice);
        ConnectionSocket::refuse(socket, this);
        return;
    }

    m_connections[slot] = { socket, peer };
    m_state.BcInUse[slot] = 1;
    m_state.BcLastTime[slot] = m_clock.seconds();
    // closeSlot() cuts these connections, so they only ever see the socket of their slot.
    // Errors alone change nothing: the disconnect that follows frees the slot.
    connect(socket, &QTcpSocket::readyRead, this, [this, slot] { readData(slot); });
    connect(socket, &QTcpSocket::disconnected, this,
        [this, slot] { closeSlot(slot, CloseReason::PeerClosed); });
    qCInfo(lcConnections).noquote()
        << QStringLiteral("broadcast slot %1: %2 accepted").arg(slot).arg(peer.toString());
    if (!notice.isEmpty())
        writeTo(slot, notice);
}

void BroadcastService::readData(int slot)
{
    m_connections[slot].socket->readAll();
    m_state.BcLastTime[slot] = m_clock.seconds();
}

bool BroadcastService::writeTo(int slot, const QByteArray &bytes)
{
    QTcpSocket *socket = m_connections[slot].socket;
    if (!ConnectionSocket::write(socket, bytes))
        return false;
    if (socket->bytesToWrite() > MaxUnsentBytes) {
        closeSlot(slot, CloseReason::SlowReader);
        return false;
    }
    return true;
}
