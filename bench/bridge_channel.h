#pragma once

#include "channel.h"
#include "frame_reader.h"

#include <QElapsedTimer>

class QTcpSocket;
class QTimer;

// A client of a raw TCP-to-serial bridge (socat): the device's frames travel unchanged over
// the connection. The bridge may still be starting, so connecting is retried for a while.
class BridgeChannel : public Channel
{
    Q_OBJECT

public:
    static constexpr int RetryMs = 20;
    static constexpr int GiveUpMs = 10000;

    explicit BridgeChannel(quint16 port, QObject *parent = nullptr);

    void open() override;
    void sendCommand(const QByteArray &message) override;
    void close() override;

private:
    void readFrames();

    quint16 m_port = 0;
    QTcpSocket *m_socket = nullptr;
    QTimer *m_retry = nullptr;
    QElapsedTimer m_since;
    FrameReader m_frames;
    bool m_connected = false;
};
