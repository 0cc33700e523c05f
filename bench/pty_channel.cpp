#include "pty_channel.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int ReadChunkBytes = 4096;

} // namespace

PtyChannel::PtyChannel(const QString &path, QObject *parent)
    : Channel(parent)
    , m_path(path)
{ }

PtyChannel::~PtyChannel()
{
    close();
}

void PtyChannel::open()
{
    // The simulator keeps its side of the line in raw mode; a non-blocking descriptor lets the
    // event loop wait for the bytes.
    m_fd
        = ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        const QString reason
            = QStringLiteral("%1: %2").arg(m_path, QString::fromLocal8Bit(std::strerror(errno)));
        QTimer::singleShot(0, this, [this, reason] { Q_EMIT failed(reason); });
        return;
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &PtyChannel::readFrames);
    QTimer::singleShot(0, this, &Channel::opened);
}

void PtyChannel::sendCommand(const QByteArray &message)
{
    const QByteArray frame = QByteArray("\xFF\xFE", 2) + message;
    // A frame is a few bytes and the line's queue is far larger: a short write means the line
    // is jammed, which a measurement must not hide.
    if (::write(m_fd, frame.constData(), size_t(frame.size())) != frame.size())
        Q_EMIT failed(QStringLiteral("short write to %1").arg(m_path));
}

void PtyChannel::close()
{
    delete m_notifier;
    m_notifier = nullptr;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void PtyChannel::readFrames()
{
    char buffer[ReadChunkBytes];
    const ssize_t count = ::read(m_fd, buffer, sizeof buffer);
    if (count <= 0) {
        if (count < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        m_notifier->setEnabled(false);
        Q_EMIT failed(QStringLiteral("%1 hung up").arg(m_path));
        return;
    }
    for (const FrameReader::Frame &frame : m_frames.take(QByteArray(buffer, int(count)))) {
        if (frame.broadcast)
            Q_EMIT broadcastReceived(frame.message);
        else
            Q_EMIT answerReceived(frame.message);
    }
}
