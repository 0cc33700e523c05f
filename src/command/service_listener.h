#pragma once

#include <QHostAddress>
#include <QObject>

class QTcpServer;
class QTcpSocket;

// The listening socket of one TCP service. Listening again while it listens
// leaves it undisturbed (a restart must not touch a working service).
class ServiceListener : public QObject
{
    Q_OBJECT

public:
    explicit ServiceListener(QObject *parent = nullptr);

    // True when listening (also when it already was); false with the reason.
    bool listen(const QHostAddress &address, quint16 port, QString *error = nullptr);
    bool isListening() const;
    quint16 serverPort() const;
    QHostAddress serverAddress() const;
    void close();

Q_SIGNALS:
    // A new connection; the receiver takes the socket over.
    void accepted(QTcpSocket *socket);

private:
    void acceptPending();

    QTcpServer *m_server = nullptr;
};
