#pragma once

#include "server_text.h"

#include <QAbstractSocket>
#include <QObject>
#include <QString>

#include <chrono>

class QTcpSocket;
class QTimer;

// One connection to a service of qx-server. It connects (giving up after the
// connect time-out), cuts what the server sends into lines, and turns each way
// the connection can fail into an exit status and a message for the user.
// After lost() or failed() it emits nothing more until it is opened again.
class ServerConnection : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::seconds ConnectTimeout { 10 };

    ServerConnection(const QString &host, quint16 port, std::chrono::milliseconds connectTimeout,
        QObject *parent = nullptr);

    // Connects; also after a loss or a failure, as a new connection.
    void open();
    void send(const QByteArray &bytes);
    // Ends the connection from our side; no signal follows.
    void close();
    // "host:port", for messages.
    QString address() const;
    // "10 s" or "500 ms", for messages about time-outs.
    static QString durationText(std::chrono::milliseconds duration);

Q_SIGNALS:
    void connected();
    void lineReceived(const QByteArray &line);
    // The server closed the connection (or it broke) without refusing it.
    void lost();
    // No connection, a refusal, or text that no qx-server sends.
    void failed(int exitStatus, const QString &message);

private:
    void readText();
    void handleError(QAbstractSocket::SocketError error);
    void handleDisconnect();
    void giveUpConnecting();
    void failRefused();
    void fail(int exitStatus, const QString &message);

    QTcpSocket *m_socket = nullptr;
    QTimer *m_connectTimer = nullptr;
    QString m_host;
    quint16 m_port = 0;
    ServerText m_text;
    bool m_connected = false; // the connection was made (a later error loses it)
    bool m_done = false; // closed, lost or failed: nothing more is reported
};
