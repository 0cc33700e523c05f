#include "bridge_channel.h"

#include <QTcpSocket>
#include <QTimer>

BridgeChannel::BridgeChannel(quint16 port, QObject *parent)
    : Channel(parent)
    , m_port(port)
    , m_socket(new QTcpSocket(this))
    , m_retry(new QTimer(this))
{
    m_retry->setSingleShot(true);
    m_retry->setInterval(RetryMs);
    connect(m_retry, &QTimer::timeout, this,
        [this] { m_socket->connectToHost(QHostAddress::LocalHost, m_port); });
    connect(m_socket, &QTcpSocket::connected, this, [this] {
        m_connected = true;
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        Q_EMIT opened();
    });
    connect(m_socket, &QTcpSocket::readyRead, this, &BridgeChannel::readFrames);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this] {
        if (m_connected) {
            Q_EMIT failed(QStringLiteral("bridge connection lost: ") + m_socket->errorString());
        } else if (m_since.elapsed() > GiveUpMs) {
            Q_EMIT failed(QStringLiteral("bridge did not listen: ") + m_socket->errorString());
        } else {
            m_socket->abort();
            m_retry->start();
        }
    });
}

void BridgeChannel::open()
{
    m_since.start();
    m_socket->connectToHost(QHostAddress::LocalHost, m_port);
}

void BridgeChannel::sendCommand(const QByteArray &message)
{
    m_socket->write(QByteArray("\xFF\xFE", 2) + message);
}

void BridgeChannel::close()
{
    m_connected = false;
    m_retry->stop();
    m_socket->abort();
}

void BridgeChannel::readFrames()
{
    for (const FrameReader::Frame &frame : m_frames.take(m_socket->readAll())) {
        if (frame.broadcast)
            Q_EMIT broadcastReceived(frame.message);
        else
            Q_EMIT answerReceived(frame.message);
    }
}
