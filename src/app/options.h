#pragma once

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
    quint16 commandPort = 5550;
    quint16 broadcastPort = 5551;
    QHostAddress listenAddress = QHostAddress::Any;
};

// Outcome of reading the command line: run with the options, or leave at once
// with a text (help, version, or an error) and an exit status.
struct ParsedOptions
{
    Options options;
    bool exitNow = false;
    int exitStatus = 0;
    QString output; // for standard output (help, version) or standard error (errors)
};

ParsedOptions ParseOptions(const QStringList &arguments);
