#pragma once

#include <QRegularExpression>
#include <QString>
#include <QStringList>

// qx-server as the tools run it: headless, its device pinned as serial port 1 (no other serial
// device of the machine is probed), both services on loopback ports that were free, and a
// settings file of its own (so that no other server's instance lock stands in the way).
struct ServerSetup
{
    QString device; // the device's path, e.g. a simulator's link
    QString settingsFile;
    quint16 commandPort = 0;
    quint16 broadcastPort = 0;

    // On two free loopback ports; both 0 when there were none.
    static ServerSetup onFreePorts(const QString &device, const QString &settingsFile);
    QStringList arguments() const;
};

// The status line the server logs once its services listen; German from servers before the
// log spoke English throughout (the benchmark measures those too).
inline const QRegularExpression ServerRunningLine(QStringLiteral("Server (is running|läuft)"));
