#pragma once

#include "core/clock.h"
#include "core/settings_store.h"
#include "server/server.h"
#include "support/recording_presentation.h"
#include "support/sim_fixture.h"

#include <QByteArray>
#include <QString>

class TcpClient;

// The whole server against a simulated device on a pty: the device (plugged in
// as port `deviceNumber`, or named by no port with 0), a manual clock, a
// recording presentation, a settings file in the device's folder, and the
// server listening on free loopback ports once started.
class ServerRig
{
public:
    static constexpr int WaitMs = 10000;

    // The services listen on 127.0.0.1, on `listen`'s ports (0: a free one).
    explicit ServerRig(
        int deviceNumber = 1, const ListenConfig &listen = { QHostAddress::LocalHost, 0, 0 });

    bool isReady() const { return sim.isReady(); }
    QString errorString() const { return sim.errorString(); }

    // Starts and waits until the start has ended: found, or not found and its
    // message closed (close it with presentation.closeMessage()). True when
    // the server runs.
    bool start();
    // Whether the start begun last has ended.
    bool startEnded() const { return m_startEnded; }
    // Begins a start without waiting for its end.
    void beginStart();

    quint16 commandPort();
    quint16 broadcastPort();
    SimulatedDevice &device() { return sim.device(); }
    ServerState &state() { return server.state(); }

    // Connects a client and waits until the server has accepted it into a
    // slot; the slot, or 0 when it was not accepted.
    int connectCommandClient(TcpClient &client);
    int connectBroadcastClient(TcpClient &client);
    int commandSlotsInUse() const;
    int broadcastSlotsInUse() const;

    // Sends a command line and waits until it is pending in the client's slot.
    // Only while the device does not answer: an answer ends the pending line.
    bool sendCommand(TcpClient &client, int slot, const QByteArray &line);
    // Waits until the device has received `count` requests in all.
    bool waitForRequests(int count);
    // Waits for the housekeeping to have run `ticks` more times.
    bool waitForTicks(int ticks = 2);

    SimFixture sim;
    ManualClock clock;
    RecordingPresentation presentation;
    SettingsStore settings;
    Server server;

private:
    static ServerConfig configFor(const SimFixture &fixture, const ListenConfig &listen);

    bool m_startEnded = false;
};
