#include "server_rig.h"

#include "support/slot_clients.h"
#include "support/tcp_client.h"

#include <QTest>

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

void ServerRig::unplugDevice()
{
    device().unplug();
}

int ServerRig::connectCommandClient(TcpClient &client)
{
    return ConnectIntoSlot(client, commandPort(), server.state().CmdInUse, WaitMs);
}

int ServerRig::connectBroadcastClient(TcpClient &client)
{
    return ConnectIntoSlot(client, broadcastPort(), server.state().BcInUse, WaitMs);
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
