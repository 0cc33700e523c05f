#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

#include <chrono>

class DeviceClient;
class QTimer;

// Command traffic as the command protocol asks of a client: one command out at a time, the next
// sent once the answer to the last has arrived, until each client has had `commands` answers.
// Either every client runs its own loop at once (many clients of one server), or the clients
// take turns, one command at a time over all of them: then clients on different paths share
// whatever else the machine does at that moment, and their figures compare. Each command is
// tagged with its client and a counter and the device echoes it, so an answer that is not the
// echo of the very command sent counts as wrong.
class CommandLoad : public QObject
{
    Q_OBJECT

public:
    struct Result
    {
        QList<QList<qint64>> roundTripsUs; // per client, sorted
        double perSecond = 0; // answers over all clients, per second of the whole load
        qint64 wrong = 0; // answers that were not their command's own echo
        QString error; // answers still missing when the time ran out
    };

    CommandLoad(
        const QList<DeviceClient *> &clients, int commands, bool inTurn, QObject *parent = nullptr);

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
        int sent = 0;
    };

    void send(int index);
    void take(int index, const QByteArray &message);
    void finish(const QString &error = QString());

    QList<Client> m_clients;
    int m_commands = 0;
    bool m_inTurn = false;
    qint64 m_outstanding = 0; // answers still due over all clients
    QElapsedTimer m_clock;
    QTimer *m_timeout = nullptr;
    Result m_result;
    bool m_running = false;
};
