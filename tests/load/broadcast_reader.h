#pragma once

#include "sequence_check.h"

#include <QObject>

class LineConnection;
class QTimer;

// A broadcast client that reads everything at once and checks the numbers of the broadcasts
// it gets. It sends a byte now and then, as a listener must to stay connected.
class BroadcastReader : public QObject
{
    Q_OBJECT

public:
    static constexpr int KeepAliveMs = 20000;

    BroadcastReader(quint16 port, QObject *parent = nullptr);

    void open();
    const SequenceCheck &check() const { return m_check; }
    bool isConnected() const;
    bool wasClosed() const { return m_closed; } // ended by the server, which must not happen

Q_SIGNALS:
    void connected();
    void progressed(); // a broadcast arrived

private:
    void takeLine(const QByteArray &line);

    quint16 m_port = 0;
    LineConnection *m_connection = nullptr;
    QTimer *m_keepAlive = nullptr;
    SequenceCheck m_check;
    bool m_closed = false;
};
