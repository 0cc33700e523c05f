#pragma once

#include <QByteArray>
#include <QObject>
#include <QTcpSocket>

// A test client for either TCP service: connects to 127.0.0.1, keeps everything it receives,
// and waits on its socket's signals (never on sleeps). The wait functions return false on
// time-out, so a test writes QVERIFY(client.waitForLine()).
class TcpClient : public QObject
{
    Q_OBJECT
public:
    static constexpr int DefaultTimeoutMs = 5000;

    explicit TcpClient(QObject *parent = nullptr);
    ~TcpClient() override;

    // Connects and waits until the connection is up.
    bool connectTo(quint16 port, int timeoutMs = DefaultTimeoutMs);
    void send(const QByteArray &bytes);
    void close(); // flushes, then closes
    // Reads nothing more: once the kernel buffers are full the server's output piles up.
    void stopReading();

    QByteArray received() const { return m_received; }
    bool isDisconnected() const { return m_disconnected; }
    // The first CR LF line received and not yet taken, with its line end; empty when none.
    QByteArray takeLine();
    // Sends the line and waits for the next line received; empty when none came.
    QByteArray ask(const QByteArray &line, int timeoutMs = DefaultTimeoutMs);

    bool waitForReceived(qsizetype bytes, int timeoutMs = DefaultTimeoutMs);
    bool waitForLine(int timeoutMs = DefaultTimeoutMs);
    bool waitForDisconnected(int timeoutMs = DefaultTimeoutMs);

private:
    void collect();

    QTcpSocket m_socket;
    QByteArray m_received;
    qsizetype m_taken = 0; // bytes of m_received already returned by takeLine()
    bool m_disconnected = false;
};
