#pragma once

#include "core/server_state.h"
#include "net/close_reason.h"

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <array>
#include <chrono>
#include <functional>

class Clock;
class QTcpServer;
class QTcpSocket;

// The connections of one TCP service in numbered slots: what both services
// share. It owns the listener and the sockets; the slot table (in-use flags and
// last activity) lives in the server's state record, which it keeps.
//
// Rules that hold:
// - a new connection goes into the lowest free slot 1..MaxConn; one that finds
//   none, or that the service turns away, gets the service's greeting (if any),
//   then the refusal text without a line end, and is closed right after;
// - a slot closed by the server is free at once (in-use 0, last activity 0);
//   its socket goes later, never inside one of its own signals;
// - arriving data renews the slot's last activity; sending does not;
// - a connection whose unsent output passes MaxUnsentBytes is closed as a slow
//   reader, so it never holds the device or the other clients back;
// - a failed send is reported by a return value, never by stopping anything;
// - every accept, refusal and close is logged with the client's address and
//   the reason.
class ConnectionSlots : public QObject
{
    Q_OBJECT

public:
    // What a service says to a connection about to take a slot: bytes it gets
    // first (may be empty), and, when `refusal` is not empty, why it is turned away.
    struct Admission
    {
        QByteArray greeting;
        QString refusal;
    };
    using Admit = std::function<Admission()>;

    // A closing connection may take this long to flush its output before it is aborted.
    static constexpr std::chrono::milliseconds CloseGrace { 5000 };

    // `service` names the service in log lines ("command", "broadcast").
    ConnectionSlots(const QString &service, SlotFlags &inUse, SlotTimes &lastTime,
        const int &maxConn, const Clock &clock, Admit admit, QObject *parent = nullptr);

    // True when listening; a listener that listens already is left undisturbed.
    bool listen(const QHostAddress &address, quint16 port, QString *error = nullptr);
    bool isListening() const;
    quint16 serverPort() const;
    QHostAddress serverAddress() const;
    void closeListener();

    // Queues the bytes for sending; false when the slot holds no open connection
    // or the bytes took it past the output cap (it is then closed).
    bool write(int slot, const QByteArray &bytes);
    // Closes and frees at once; nothing for a free slot.
    void close(int slot, CloseReason reason);
    // Every slot 1..100 but `except`.
    void closeAll(CloseReason reason, int except = 0);
    // The identity of the slot's connection, unique for the server's life; 0: none.
    quint64 connectionId(int slot) const;

Q_SIGNALS:
    void accepted(int slot);
    // Data arrived (the last activity is renewed already).
    void received(int slot, const QByteArray &data);
    // Bytes of the slot's output were handed to the system.
    void written(int slot, qint64 bytes);

private:
    struct Connection
    {
        QTcpSocket *socket = nullptr; // nullptr: the slot holds no connection
        quint64 id = 0;
        QHostAddress peer; // kept for the log after the socket has gone
    };

    void acceptPending();
    void accept(QTcpSocket *socket);
    void refuse(QTcpSocket *socket, const QByteArray &greeting, const QString &why);
    void readData(int slot);
    void release(QTcpSocket *socket, bool abortNow);
    static QHostAddress clientAddress(const QTcpSocket *socket);
    static bool queue(QTcpSocket *socket, const QByteArray &bytes);

    const QString m_service;
    SlotFlags &m_inUse;
    SlotTimes &m_lastTime;
    const int &m_maxConn;
    const Clock &m_clock;
    const Admit m_admit;
    QTcpServer *m_server = nullptr;
    std::array<Connection, SlotCount> m_connections {};
    quint64 m_lastConnectionId = 0;
};
