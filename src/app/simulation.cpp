#include "simulation.h"

#include "core/logging.h"
#include "link/port_map.h"

std::unique_ptr<Simulation> AttachSimulation(PortMap &ports, QString *error)
{
    auto simulation = std::make_unique<Simulation>();
    if (!simulation->folder.isValid()) {
        *error = QStringLiteral("cannot create a folder for the simulated device: %1")
                     .arg(simulation->folder.errorString());
        return nullptr;
    }
    simulation->device.setLinkPath(simulation->folder.filePath(QStringLiteral("qx-usb")));
    if (!simulation->device.plug()) {
        *error = QStringLiteral("cannot create the simulated device: %1")
                     .arg(simulation->device.errorString());
        return nullptr;
    }
    ports.setPath(SimulatedPortNumber, simulation->device.linkPath());
    qCInfo(lcServer).noquote() << QStringLiteral("Simulated QX-USB device on port %1 (%2)")
                                      .arg(SimulatedPortNumber)
                                      .arg(simulation->device.slavePath());
    return simulation;
}
