#pragma once

#include <QList>
#include <QString>

#include <functional>

class ChildProgram;
class DeviceClient;
class QObject;

// The traffic that the benchmark puts on the paths, timed and checked. Each kind starts at once,
// lives as long as `scope` and calls `done` once at its end.
namespace Traffic {

// Command traffic as the command protocol asks of a client: one command out at a time, the next
// sent once the answer to the last has arrived, until each client has had `commands` answers.
// Either every client runs its own loop at once (many clients of one server), or the clients
// take turns, one command at a time over all of them: then clients on different paths share
// whatever else the machine does at that moment, and their figures compare. Each command is
// tagged with its client and a counter and the device echoes it, so an answer that is not the
// echo of the very command sent counts as wrong.
struct Commands
{
    QList<QList<double>> roundTripsUs; // per client, in the order sent
    double perSecond = 0; // answers over all clients, per second of the whole load
    qint64 wrong = 0; // answers that were not their command's own echo
};
void runCommands(const QList<DeviceClient *> &clients, int commands, bool inTurn, QObject *scope,
    std::function<void(const Commands &result)> done);

// A burst of numbered broadcasts, first .. first + count - 1: written to the simulator (qx-sim) at
// once, as raw frames, and timed until every receiver has every one, in seconds. Each receiver
// must see every number once and in order, or `done` has the error instead.
void runBurst(const QList<DeviceClient *> &receivers, ChildProgram &simulator, quint32 first,
    int count, QObject *scope, std::function<void(double seconds, const QString &error)> done);

} // namespace Traffic
