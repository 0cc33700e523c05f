#pragma once

#include "core/server_state.h"
#include "net/connection_slots.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>

class Clock;

// The broadcast service: TCP connections of listening clients and the fan-out of one device
// message to all of them (SubmitBC). Clients are accepted into the lowest free slot 1..MaxConn
// and refused when all are in use; while ProgMode a new client first gets the programming-mode
// notice twice, refused or not. What a client sends is read and thrown away; it only renews
// BcLastTime.
class BroadcastService : public QObject
{
    Q_OBJECT

public:
    BroadcastService(ServerState &state, const Clock &clock, QObject *parent = nullptr);

    ConnectionSlots &connections() { return m_connections; }
    const ConnectionSlots &connections() const { return m_connections; }

    // The message as one hex line, built once, written to every slot in use in slot order;
    // a connection whose write fails is skipped. Sending is no activity.
    void SubmitBC(const QByteArray &zeile);
    // Messages one after another, each as long as its header says (a burst of device
    // broadcasts): a line each, built once, all of them to each client in one write.
    void SubmitBurst(QByteArrayView messages);

private:
    void send(const QByteArray &lines); // to every slot in use, in slot order

    ServerState &m_state;
    ConnectionSlots m_connections;
};
