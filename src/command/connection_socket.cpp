#include "connection_socket.h"

#include <QTcpSocket>
#include <QTimer>

namespace ConnectionSocket {

QByteArray RefusalText()
{
    return QByteArrayLiteral("Sorry, I could not accept your connection request");
}

void prepare(QTcpSocket *socket, QObject *owner)
{
    socket->setParent(owner);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
}

bool write(QTcpSocket *socket, const QByteArray &bytes)
{
    // Writing to a socket that is closing or closed only earns a runtime warning.
    if (!socket || socket->state() != QAbstractSocket::ConnectedState)
        return false;
    return socket->write(bytes) == bytes.size();
}

void close(QTcpSocket *socket, QObject *owner, bool abortNow)
{
    QObject::disconnect(socket, nullptr, owner, nullptr);
    const auto abortAndDelete = [socket] {
        socket->abort();
        socket->deleteLater();
    };
    if (abortNow || socket->state() != QAbstractSocket::ConnectedState) {
        abortAndDelete();
        return;
    }
    QObject::connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    // A peer that never takes the rest of its output must not keep the socket forever.
    QTimer::singleShot(CloseGrace, socket, abortAndDelete);
    socket->disconnectFromHost();
}

void refuse(QTcpSocket *socket, QObject *owner)
{
    write(socket, RefusalText());
    close(socket, owner, false);
}

QHostAddress clientAddress(const QTcpSocket *socket)
{
    const QHostAddress peer = socket->peerAddress();
    bool mapped = false;
    const quint32 ipv4 = peer.toIPv4Address(&mapped);
    return mapped ? QHostAddress(ipv4) : peer;
}

} // namespace ConnectionSocket
