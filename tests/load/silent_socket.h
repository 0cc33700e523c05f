#pragma once

#include <QByteArray>
#include <QObject>

class QSocketNotifier;
class QTimer;

// A client that never reads: a plain socket with a small receive buffer, so that whatever the
// server sends piles up on the server's side. It may send a command once and a byte now and
// then (so that it is never idle), but it reads nothing, ever. At the end it tells whether the
// server has closed the connection.
class SilentSocket : public QObject
{
    Q_OBJECT

public:
    static constexpr int ReceiveBufferBytes = 4096;
    static constexpr int KeepAliveMs = 20000; // the server closes clients idle for 60 s

    explicit SilentSocket(
        quint16 port, const QByteArray &firstBytes = {}, QObject *parent = nullptr);
    ~SilentSocket() override;

    void open();
    bool isOpen() const { return m_fd >= 0; }
    // The server has ended the connection (reset or closed), as the kernel sees it.
    bool closedByServer() const;

private:
    void sendBytes(const QByteArray &bytes);

    quint16 m_port = 0;
    QByteArray m_firstBytes;
    int m_fd = -1;
    QSocketNotifier *m_connected = nullptr;
    QTimer *m_keepAlive = nullptr;
};
