#pragma once

#include <QHostAddress>
#include <functional>

// What the windows and the start-up ask of the server: start, stop, whether it
// runs, and the address its command service listens on.
class ServerControl
{
public:
    virtual ~ServerControl() = default;

    // Searches the device and opens both services; `done` runs once the start
    // has succeeded or failed (after the user closed the "No interface" message).
    virtual void MSStartServer_Click(std::function<void()> done = {}) = 0;
    // Closes both services, every connection and the serial port.
    virtual void MSStopServer_Click() = 0;
    // GlobalIFFound: the server runs with the device found.
    virtual bool isRunning() const = 0;
    // The machine's own address as the command service's socket reports it.
    virtual QHostAddress ownAddress() const = 0;
};
