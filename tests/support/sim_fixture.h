#pragma once

#include "link/port_map.h"
#include "sim/simulated_device.h"

#include <QString>
#include <QTemporaryDir>

// A simulated device plugged in on a link path in a temporary folder, and a
// port map for it: the chosen number names the device's link, every other
// number of 1..30 a path in the same folder that does not exist. A test thus
// never touches the machine's own serial ports, and a search over the other
// numbers fails fast. Each fixture has a folder of its own, so tests that run
// side by side never share a port (nor its lock file).
class SimFixture
{
public:
    // `number` 0: the device is plugged in but no number names it.
    explicit SimFixture(int number = 1);

    // The folder exists and the device is plugged in; errorString() says why not.
    bool isReady() const { return m_ready; }
    QString errorString() const { return m_error; }

    SimulatedDevice &device() { return m_device; }
    PortMap &ports() { return m_ports; }
    const PortMap &ports() const { return m_ports; }

    QString linkPath() const;
    // A path in the fixture's folder, e.g. for a settings file.
    QString filePath(const QString &name) const;

private:
    QTemporaryDir m_dir;
    SimulatedDevice m_device;
    PortMap m_ports;
    bool m_ready = false;
    QString m_error;
};
