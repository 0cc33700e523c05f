#pragma once

#include "broadcast_listener.h"
#include "command_session.h"
#include "server_connection.h"

#include <QByteArrayList>
#include <QString>
#include <QStringList>

#include <chrono>

// The command line of qx-client.
struct ClientOptions
{
    static constexpr quint16 CommandServicePort = 5550;
    static constexpr quint16 BroadcastServicePort = 5551;

    bool listen = false; // listen to broadcasts instead of sending commands
    bool reconnect = false; // listening: connect again whenever the server goes away
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = CommandServicePort;
    QByteArrayList commands; // request lines without their CR, in order
    std::chrono::milliseconds keepAliveInterval = BroadcastListener::KeepAliveInterval;
    std::chrono::milliseconds connectTimeout = ServerConnection::ConnectTimeout;
    std::chrono::milliseconds answerTimeout = CommandSession::AnswerTimeout;
};

// Outcome of reading the command line: run with the options, or leave at once
// with a text (help, version, or an error) and an exit status.
struct ParsedClientOptions
{
    ClientOptions options;
    bool exitNow = false;
    int exitStatus = 0;
    QString output; // for standard output (help, version) or standard error (errors)
};

ParsedClientOptions ParseClientOptions(const QStringList &arguments);
