#pragma once

#include "core/close_reason.h"
#include "core/server_state.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <array>

class Clock;
class ServiceListener;
class QTcpSocket;

// The broadcast service: TCP connections of listening clients and the fan-out of one device
// message to all of them (SubmitBC). Clients are accepted into the lowest free slot 1..MaxConn
// and refused through the overflow slot when all are in use; while ProgMode a new client first
// gets the programming-mode notice twice. What a client sends is read and thrown away; it only
// renews BcLastTime. A slot closed by the server is free at once. A client whose unsent output
// passes MaxUnsentBytes is closed, so a slow reader never holds the others back.
class BroadcastService : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 MaxUnsentBytes = 1024 * 1024; // per connection; past it: slow reader

    BroadcastService(ServerState &state, const Clock &clock, QObject *parent = nullptr);

    // A listener that already listens is left undisturbed (true).
    bool listen(const QHostAddress &address, quint16 port, QString *error = nullptr);
    bool isListening() const;
    quint16 serverPort() const;
    void closeListener();

    // The message as one hex line, built once, written to every slot in use in slot order;
    // a connection whose write fails is skipped. Sending is no activity.
    void SubmitBC(const QByteArray &zeile);
    void closeSlot(int slot, CloseReason reason); // closes and frees at once
    void closeAll(CloseReason reason); // every broadcast slot 1..100

private:
    struct Connection
    {
        QTcpSocket *socket = nullptr; // nullptr: the slot holds no connection
        QHostAddress peer; // kept for the log after the socket has gone
    };

    void acceptConnection(QTcpSocket *socket);
    void readData(int slot);
    bool writeTo(int slot, const QByteArray &bytes);

    ServerState &m_state;
    const Clock &m_clock;
    ServiceListener *m_listener = nullptr;
    std::array<Connection, SlotCount> m_connections {};
};
