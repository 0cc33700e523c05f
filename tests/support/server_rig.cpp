#include "server_rig.h"

#include "support/tcp_client.h"

#include <QTest>
#include <algorithm>

namespace {

// Connects `client` to the service on `port`; the slot that turned from free to in use in
// `flags`, or 0.
int ConnectIntoSlot(TcpClient &client, quint16 port, const SlotFlags &flags)
{
    const SlotFlags before = flags;
    if (!client.connectTo(port)
        || !QTest::qWaitFor([&] { return flags != before; }, ServerRig::WaitMs))
        return 0;
    for (int slot = 1; slot < SlotCount; ++slot) {
        if (before[slot] == 0 && flags[slot] == 1)
            return slot;
    }
    return 0;
}

int CountInUse(const SlotFlags &flags)
{
    return int(std::count(flags.begin(), flags.end(), 1));
}

} // namespace

ServerRig::ServerRig(int deviceNumber, const ListenConfig &listen)
    : sim(deviceNumber)
    , settings(sim.filePath(QStringLiteral("settings.ini")))
    , server(configFor(sim, listen), settings, clock, presentation)
{ }

ServerConfig ServerRig::configFor(const SimFixture &fixture, const ListenConfig &listen)
{
    ServerConfig config;
    config.listen = listen;
    config.ports = fixture.ports();
    return config;
}

void ServerRig::beginStart()
{
    m_startEnded = false;
    server.MSStartServer_Click([this] { m_startEnded = true; });
}

bool ServerRig::start()
{
    beginStart();
    return QTest::qWaitFor([this] { return m_startEnded; }, WaitMs) && server.isRunning();
}

quint16 ServerRig::commandPort()
{
    return server.commandService().connections().serverPort();
}

quint16 ServerRig::broadcastPort()
{
    return server.broadcastService().connections().serverPort();
}

int ServerRig::connectCommandClient(TcpClient &client)
{
    return ConnectIntoSlot(client, commandPort(), server.state().CmdInUse);
}

int ServerRig::connectBroadcastClient(TcpClient &client)
{
    return ConnectIntoSlot(client, broadcastPort(), server.state().BcInUse);
}

int ServerRig::commandSlotsInUse() const
{
    return CountInUse(server.state().CmdInUse);
}

int ServerRig::broadcastSlotsInUse() const
{
    return CountInUse(server.state().BcInUse);
}

bool ServerRig::sendCommand(TcpClient &client, int slot, const QByteArray &line)
{
    client.send(line);
    return QTest::qWaitFor([&] { return server.state().CmdInpStr[slot].contains('\r'); }, WaitMs);
}

bool ServerRig::waitForRequests(int count)
{
    return QTest::qWaitFor([&] { return device().requests().size() >= count; }, WaitMs);
}

bool ServerRig::waitForTicks(int ticks)
{
    const int target = presentation.countUpdates + ticks;
    return QTest::qWaitFor([&] { return presentation.countUpdates >= target; }, WaitMs);
}
