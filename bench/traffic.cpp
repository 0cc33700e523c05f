#include "traffic.h"

#include "child_program.h"
#include "device_client.h"
#include "tagged_message.h"

#include <QElapsedTimer>

#include <memory>

namespace {

// Frames per "raw" line: the simulator takes lines of up to 64 KiB.
constexpr quint32 FramesPerLine = 2000;
const QByteArray BroadcastStart("\xFF\xFD", 2);

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
    QObject *scope, std::function<void(const Commands &result)> done)
{
    struct Client
    {
        QByteArray expected; // the command out, which the device echoes
        qint64 sentNs = 0;
        int sent = 0;
    };
    struct Load
    {
        QList<Client> clients;
        qint64 outstanding = 0; // answers still due over all clients
        QElapsedTimer clock;
        Commands result;
    };
    auto load = std::make_shared<Load>();
    load->clients.resize(clients.size());
    load->outstanding = qint64(commands) * clients.size();
    load->result.roundTripsUs.resize(clients.size());
    const auto send = [load, clients](int index) {
        Client &client = load->clients[index];
        client.expected
            = TaggedMessage::message(TaggedMessage::commandNumber(index, client.sent++));
        client.sentNs = load->clock.nsecsElapsed();
        clients.at(index)->send(client.expected);
    };
    const auto take = [=](int index, const QByteArray &message) {
        Client &client = load->clients[index];
        if (client.expected.isEmpty())
            return; // nothing out: not this load's answer
        const qint64 ns = load->clock.nsecsElapsed();
        load->result.roundTripsUs[index].append(double((ns - client.sentNs) / 1000));
        load->result.wrong += message != std::exchange(client.expected, {});
        if (--load->outstanding == 0) {
            load->result.perSecond = double(commands) * double(clients.size()) * 1e9 / ns;
            done(load->result);
        } else if (inTurn) {
            send((index + 1) % clients.size());
        } else if (client.sent < commands) {
            send(index);
        }
    };
    for (int i = 0; i < clients.size(); ++i) {
        QObject::connect(clients.at(i), &DeviceClient::answer, scope,
            [take, i](const QByteArray &message) { take(i, message); });
    }
    load->clock.start();
    for (int i = 0; i < (inTurn ? 1 : clients.size()); ++i)
        send(i);
}

void Traffic::runBurst(const QList<DeviceClient *> &receivers, ChildProgram &simulator,
    quint32 first, int count, QObject *scope,
    std::function<void(double seconds, const QString &error)> done)
{
    struct Burst
    {
        QList<quint32> next; // per receiver: the number due next
        qsizetype receiversDone = 0;
        QElapsedTimer clock;
        bool over = false; // every one came, or one out of order
    };
    const quint32 end = first + quint32(count);
    auto burst = std::make_shared<Burst>();
    burst->next.fill(first, receivers.size());
    for (qsizetype i = 0; i < receivers.size(); ++i) {
        QObject::connect(
            receivers.at(i), &DeviceClient::broadcast, scope, [=](const QByteArray &message) {
                quint32 &next = burst->next[i];
                if (burst->over)
                    return;
                if (TaggedMessage::numberOf(message) != next) {
                    burst->over = true;
                    done(0,
                        QStringLiteral("broadcast %1 due, %2 came")
                            .arg(next)
                            .arg(QString::fromLatin1(message.toHex().toUpper())));
                } else if (++next == end && ++burst->receiversDone == receivers.size()) {
                    burst->over = true;
                    done(double(burst->clock.nsecsElapsed()) / 1e9, {});
                }
            });
    }
    const QByteArray commands = RawLines(first, end);
    burst->clock.start();
    simulator.write(commands);
}
