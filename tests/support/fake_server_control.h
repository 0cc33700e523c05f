#pragma once

#include "core/presentation.h"
#include "core/server_control.h"

#include <QHostAddress>
#include <QStringList>

// A server for window tests: records what it is asked and shows the server's
// status looks, buttons and "No interface" message through the presentation,
// as the real server does, without a device or sockets.
class FakeServerControl : public ServerControl
{
public:
    explicit FakeServerControl(Presentation &presentation);

    void MSStartServer_Click(std::function<void()> done = {}) override;
    void MSStopServer_Click() override;
    bool isRunning() const override { return running; }
    QHostAddress ownAddress() const override { return address; }

    // Ends a search that was held open (holdSearch): found or not by deviceAttached.
    void finishSearch();

    bool deviceAttached = true; // a start finds the device
    bool holdSearch = false; // a start searches until finishSearch()
    bool running = false; // GlobalIFFound
    QHostAddress address { QStringLiteral("192.0.2.10") };
    QStringList calls; // "start" and "stop", in order

private:
    Presentation &m_presentation;
    std::function<void()> m_pendingDone;
};
