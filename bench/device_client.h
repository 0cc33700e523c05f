#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QIODevice;

// One client's way to the simulated device, by one of the paths the benchmark compares: the
// device's pty itself or socat's TCP bridge, both carrying the device's frames unchanged (FF FE
// or FF FD + message), or one of qx-server's two services, carrying hex text lines. Whatever the
// path, commands go out and answers and broadcasts come back as device messages.
class DeviceClient : public QObject
{
    Q_OBJECT

public:
    enum class Kind
    {
        Pty,
        Bridge,
        CommandService,
        BroadcastService,
    };

    // The pty's path, or the TCP port on 127.0.0.1.
    DeviceClient(Kind kind, const QString &pty, quint16 port, QObject *parent = nullptr);

    // opened() or failed() follows (for a pty, at once).
    void open();
    void send(const QByteArray &message);

Q_SIGNALS:
    void opened();
    void failed(const QString &reason);
    void answer(const QByteArray &message);
    void broadcast(const QByteArray &message);

private:
    void read();
    void takeFrames();
    void takeLines();

    const Kind m_kind;
    const QString m_pty;
    const quint16 m_port;
    QIODevice *m_io = nullptr; // a serial port on the pty, or a TCP socket
    QByteArray m_input; // received, not yet a whole frame or line
};
