#pragma once

#include <QObject>

#include <chrono>

class ServerConnection;
class QTimer;

// Listens to the broadcast service and reports every line. The server closes
// a connection that has sent nothing for more than 60 seconds, so the
// listener sends one harmless byte (the server throws away whatever a
// broadcast client sends) every keep-alive interval.
class BroadcastListener : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::seconds KeepAliveInterval { 30 };
    static constexpr char KeepAliveByte = '\n';

    BroadcastListener(ServerConnection &connection, std::chrono::milliseconds keepAliveInterval,
        QObject *parent = nullptr);

    void start();
    // Ends the listening from our side (on a signal): finished(0) follows.
    void stop();

Q_SIGNALS:
    void listening();
    void lineReceived(const QByteArray &line);
    void finished(int exitStatus, const QString &message);

private:
    void sendKeepAlive();
    void finish(int exitStatus, const QString &message = QString());

    ServerConnection &m_connection;
    QTimer *m_keepAliveTimer = nullptr;
    bool m_finished = false;
};
