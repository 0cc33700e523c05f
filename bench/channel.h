#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// One client's way to the device, whatever the path: the pty itself, a raw TCP bridge to it, or
// a service of the server. Commands and answers are device messages (no frame, no hex text);
// each path translates. A path that carries broadcasts reports them the same way.
class Channel : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual void open() = 0;
    virtual void sendCommand(const QByteArray &message) = 0;
    virtual void close() = 0;
    // Ends the channel and emits released() once the other side has let it go too.
    virtual void release()
    {
        close();
        Q_EMIT released();
    }

Q_SIGNALS:
    void opened();
    void answerReceived(const QByteArray &message);
    void broadcastReceived(const QByteArray &message);
    void failed(const QString &reason);
    void released();
};
