#pragma once

#include <QObject>

#include <chrono>

class ServerConnection;
class QTimer;

// Listens to the broadcast service and reports every line. The server closes
// a connection that has sent nothing for more than 60 seconds, so the
// listener sends one harmless byte (the server throws away whatever a
// broadcast client sends) every keep-alive interval. A listener that
// reconnects outlives the server: when the connection is lost, or a new one
// fails, it tries again every ReconnectInterval, and only stop() ends it.
class BroadcastListener : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::seconds KeepAliveInterval { 30 };
    static constexpr char KeepAliveByte = '\n';
    static constexpr std::chrono::seconds ReconnectInterval { 1 };

    BroadcastListener(ServerConnection &connection, std::chrono::milliseconds keepAliveInterval,
        bool reconnect, QObject *parent = nullptr);

    void start();
    // Ends the listening from our side (on a signal): finished(0) follows.
    void stop();

Q_SIGNALS:
    void listening();
    void lineReceived(const QByteArray &line);
    // Reconnecting: the connection went (or a new one failed); tries follow.
    // Said once for each time the server goes away, not for every try.
    void interrupted(const QString &message);
    void finished(int exitStatus, const QString &message);

private:
    void sendKeepAlive();
    void handleEnd(int exitStatus, const QString &message);
    void finish(int exitStatus, const QString &message = QString());

    ServerConnection &m_connection;
    QTimer *m_keepAliveTimer = nullptr;
    QTimer *m_reconnectTimer = nullptr;
    bool m_reconnect = false;
    bool m_interrupted = false; // reconnecting: the loss has been reported, no connection since
    bool m_finished = false;
};
