#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

#include <chrono>

class DeviceClient;
class QTimer;

// Closed-loop command traffic, as the command protocol asks of a client: each client has one
// command out at a time and sends its next as soon as the answer to the last has arrived, until
// it has had `commands` answers. Every command is tagged with its client and a counter, and the
// device echoes it, so an answer that is not the echo of the very command sent counts as wrong.
class CommandLoad : public QObject
{
    Q_OBJECT

public:
    struct Result
    {
        QList<qint64> roundTripsUs; // sorted
        double perSecond = 0;
        qint64 wrong = 0; // answers that were not their command's own echo
        QString error; // answers still missing when the time ran out
    };

    CommandLoad(const QList<DeviceClient *> &clients, int commands, QObject *parent = nullptr);

    // finished() follows, also when `timeout` passes first.
    void start(std::chrono::milliseconds timeout);

Q_SIGNALS:
    void finished(const CommandLoad::Result &result);

private:
    struct Client
    {
        DeviceClient *client = nullptr;
        QByteArray expected; // the command out, which the device echoes
        qint64 sentNs = 0;
        quint32 counter = 0;
    };

    void send(Client &client);
    void take(Client &client, const QByteArray &message);
    void finish(const QString &error = QString());

    QList<Client> m_clients;
    int m_commands = 0;
    qint64 m_outstanding = 0; // answers still due over all clients
    QElapsedTimer m_clock;
    QTimer *m_timeout = nullptr;
    Result m_result;
    bool m_running = false;
};
