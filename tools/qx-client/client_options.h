#pragma once

#include "broadcast_listener.h"
#include "command_session.h"
#include "core/program_options.h"
#include "core/protocol.h"
#include "server_connection.h"

#include <QByteArrayList>
#include <QString>
#include <QStringList>

#include <chrono>

// The command line of qx-client.
struct ClientOptions
{
    bool listen = false; // listen to broadcasts instead of sending commands
    bool reconnect = false; // listening: connect again whenever the server goes away
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = Protocol::DefaultCommandPort;
    QByteArrayList commands; // request lines without their CR, in order
    std::chrono::milliseconds keepAliveInterval = BroadcastListener::KeepAliveInterval;
    std::chrono::milliseconds connectTimeout = ServerConnection::ConnectTimeout;
    std::chrono::milliseconds answerTimeout = CommandSession::AnswerTimeout;
};

using ParsedClientOptions = ParsedCommandLine<ClientOptions>;

ParsedClientOptions ParseClientOptions(const QStringList &arguments);
