#include "traffic.h"

#include "child_program.h"
#include "device_client.h"
#include "tagged_message.h"

#include <QElapsedTimer>

namespace {

using CommandsDone = std::function<void(const Traffic::Commands &result)>;
using BurstDone = std::function<void(double seconds, const QString &error)>;

// Frames per "raw" line: the simulator takes lines of up to 64 KiB.
constexpr quint32 FramesPerLine = 2000;
const QByteArray BroadcastStart("\xFF\xFD", 2);

class CommandLoad : public QObject
{
public:
    CommandLoad(const QList<DeviceClient *> &clients, int commands, bool inTurn, QObject *parent,
        CommandsDone done)
        : QObject(parent)
        , m_clients(clients.size())
        , m_commands(commands)
        , m_inTurn(inTurn)
        , m_done(std::move(done))
        , m_outstanding(qint64(commands) * clients.size())
    {
        m_result.roundTripsUs.resize(clients.size());
        for (int i = 0; i < clients.size(); ++i) {
            m_clients[i].client = clients.at(i);
            connect(clients.at(i), &DeviceClient::answer, this,
                [this, i](const QByteArray &message) { take(i, message); });
        }
        m_clock.start();
        for (int i = 0; i < (m_inTurn ? 1 : m_clients.size()); ++i)
            send(i);
    }

private:
    struct Client
    {
        DeviceClient *client = nullptr;
        QByteArray expected; // the command out, which the device echoes
        qint64 sentNs = 0;
        int sent = 0;
    };

    void send(int index)
    {
        Client &client = m_clients[index];
        client.expected
            = TaggedMessage::message(TaggedMessage::commandNumber(index, client.sent++));
        client.sentNs = m_clock.nsecsElapsed();
        client.client->send(client.expected);
    }

    void take(int index, const QByteArray &message)
    {
        Client &client = m_clients[index];
        if (client.expected.isEmpty())
            return; // nothing out: not this load's answer
        m_result.roundTripsUs[index].append(
            double((m_clock.nsecsElapsed() - client.sentNs) / 1000));
        m_result.wrong += message != std::exchange(client.expected, {});
        if (--m_outstanding == 0) {
            m_result.perSecond
                = double(m_commands) * double(m_clients.size()) * 1e9 / m_clock.nsecsElapsed();
            m_done(m_result);
        } else if (m_inTurn) {
            send((index + 1) % m_clients.size());
        } else if (client.sent < m_commands) {
            send(index);
        }
    }

    QList<Client> m_clients;
    const int m_commands;
    const bool m_inTurn;
    const CommandsDone m_done;
    qint64 m_outstanding; // answers still due over all clients
    QElapsedTimer m_clock;
    Traffic::Commands m_result;
};

class BroadcastBurst : public QObject
{
public:
    BroadcastBurst(const QList<DeviceClient *> &receivers, quint32 first, int count,
        QObject *parent, BurstDone done)
        : QObject(parent)
        , m_next(receivers.size(), first)
        , m_end(first + quint32(count))
        , m_done(std::move(done))
    {
        for (qsizetype i = 0; i < receivers.size(); ++i) {
            connect(receivers.at(i), &DeviceClient::broadcast, this,
                [this, i](const QByteArray &message) { take(m_next[i], message); });
        }
        m_clock.start();
    }

private:
    void take(quint32 &next, const QByteArray &message)
    {
        if (!m_done)
            return; // done already
        if (TaggedMessage::numberOf(message) != next) {
            std::exchange(m_done, {})(0,
                QStringLiteral("broadcast %1 due, %2 came")
                    .arg(next)
                    .arg(QString::fromLatin1(message.toHex().toUpper())));
        } else if (++next == m_end && ++m_receiversDone == m_next.size()) {
            std::exchange(m_done, {})(double(m_clock.nsecsElapsed()) / 1e9, {});
        }
    }

    QList<quint32> m_next; // per receiver: the number due next
    const quint32 m_end; // one past the last number
    BurstDone m_done;
    qsizetype m_receiversDone = 0;
    QElapsedTimer m_clock;
};

// The simulator's commands that write broadcasts first .. end - 1.
QByteArray RawLines(quint32 first, quint32 end)
{
    QByteArray commands;
    for (quint32 lineStart = first; lineStart < end; lineStart += FramesPerLine) {
        QByteArray frames;
        for (quint32 number = lineStart; number < std::min(lineStart + FramesPerLine, end);
             ++number)
            frames += BroadcastStart + TaggedMessage::message(number);
        commands += "raw " + frames.toHex() + '\n';
    }
    return commands;
}

} // namespace

void Traffic::runCommands(const QList<DeviceClient *> &clients, int commands, bool inTurn,
    QObject *scope, CommandsDone done)
{
    new CommandLoad(clients, commands, inTurn, scope, std::move(done));
}

void Traffic::runBurst(const QList<DeviceClient *> &receivers, ChildProgram &simulator,
    quint32 first, int count, QObject *scope, BurstDone done)
{
    const QByteArray commands = RawLines(first, first + quint32(count));
    new BroadcastBurst(receivers, first, count, scope, std::move(done));
    simulator.write(commands);
}
