#pragma once

#include "core/program_options.h"
#include "core/protocol.h"
#include "link/port_map.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

// The command line of qx-server.
struct Options
{
    bool headless = false;
    bool simulate = false;
    bool verbose = false;
    QString settingsFile; // empty: the default store
    PortMap ports;
    quint16 commandPort = Protocol::DefaultCommandPort;
    quint16 broadcastPort = Protocol::DefaultBroadcastPort;
    QHostAddress listenAddress = QHostAddress::Any;
};

using ParsedOptions = ParsedCommandLine<Options>;

ParsedOptions ParseOptions(const QStringList &arguments);
