#include "server_setup.h"

#include "free_port.h"

ServerSetup ServerSetup::onFreePorts(const QString &device, const QString &settingsFile)
{
    const auto [commandPort, broadcastPort] = FreeLoopbackPortPair();
    return { device, settingsFile, commandPort, broadcastPort };
}

QStringList ServerSetup::arguments() const
{
    return { QStringLiteral("--headless"), QStringLiteral("--settings"), settingsFile,
        QStringLiteral("--port"), QStringLiteral("1=") + device, QStringLiteral("--listen"),
        QStringLiteral("127.0.0.1"), QStringLiteral("--command-port"), QString::number(commandPort),
        QStringLiteral("--broadcast-port"), QString::number(broadcastPort) };
}
