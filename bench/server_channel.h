#pragma once

#include "channel.h"

class LineConnection;

// A client of one of the server's two services: commands go out as hex lines with a CR and
// answers come back as hex lines (command service), or broadcasts arrive as hex lines
// (broadcast service).
class ServerChannel : public Channel
{
    Q_OBJECT

public:
    enum class Service
    {
        Commands,
        Broadcasts
    };

    ServerChannel(Service service, quint16 port, QObject *parent = nullptr);

    void open() override;
    void sendCommand(const QByteArray &message) override;
    void close() override;
    // The server frees the slot before it closes its side, so after released() a new client
    // finds the slot free.
    void release() override;

private:
    void takeLine(const QByteArray &line);

    Service m_service;
    quint16 m_port = 0;
    LineConnection *m_connection = nullptr;
    bool m_releasing = false;
};
