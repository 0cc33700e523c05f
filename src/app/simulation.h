#pragma once

#include "sim/simulated_device.h"

#include <QString>
#include <QTemporaryDir>
#include <memory>

class PortMap;

// The serial port number that --simulate takes.
constexpr int SimulatedPortNumber = 1;

// The simulated device of --simulate, attached as port 1 through a link in a
// folder of its own that follows the device when it is unplugged and plugged
// in again. Lives as long as the server that uses it.
struct Simulation
{
    QTemporaryDir folder;
    SimulatedDevice device;
};

// Plugs the device in and names it port 1; nothing, with `error` saying why,
// when it cannot be made.
std::unique_ptr<Simulation> AttachSimulation(PortMap &ports, QString *error);
