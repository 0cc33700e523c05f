#include "silent_socket.h"

#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

SilentSocket::SilentSocket(quint16 port, const QByteArray &firstBytes, QObject *parent)
    : QObject(parent)
    , m_port(port)
    , m_firstBytes(firstBytes)
    , m_keepAlive(new QTimer(this))
{
    connect(m_keepAlive, &QTimer::timeout, this, [this] { sendBytes("\n"); });
}

SilentSocket::~SilentSocket()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void SilentSocket::open()
{
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return;
    // Set before connecting, so that the window the server sees is small from the start.
    const int size = ReceiveBufferBytes;
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(m_port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0
        && errno != EINPROGRESS) {
        ::close(m_fd);
        m_fd = -1;
        return;
    }
    m_connected = new QSocketNotifier(m_fd, QSocketNotifier::Write, this);
    connect(m_connected, &QSocketNotifier::activated, this, [this] {
        m_connected->setEnabled(false);
        if (!m_firstBytes.isEmpty())
            sendBytes(m_firstBytes);
        m_keepAlive->start(KeepAliveMs);
    });
}

bool SilentSocket::closedByServer() const
{
    if (m_fd < 0)
        return false;
    tcp_info info {};
    socklen_t length = sizeof info;
    if (::getsockopt(m_fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0)
        return false;
    return info.tcpi_state != TCP_ESTABLISHED;
}

void SilentSocket::sendBytes(const QByteArray &bytes)
{
    // A few bytes into an empty send buffer; a failure shows in closedByServer().
    [[maybe_unused]] const ssize_t sent
        = ::send(m_fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL);
}
