#include "sim/simulated_device.h"

#include "core/protocol.h"
#include "core/receive_buffer.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr qsizetype PrefixBytes = 2;
constexpr int ReadChunkBytes = 4096;

// Cuts the first whole request frame out of `input` and returns its message.
// Bytes before the frame start are garbage and go; a trailing FF stays, since
// it may be the first half of the next frame start.
std::optional<QByteArray> takeRequest(QByteArray &input)
{
    const int start = input.indexOf(Protocol::AnswerFramePrefix());
    if (start < 0) {
        const char startByte = Protocol::FrameStartByte;
        input = input.endsWith(startByte) ? QByteArray(1, startByte) : QByteArray();
        return std::nullopt;
    }
    input.remove(0, start);
    if (input.size() < 3)
        return std::nullopt;
    const int length = ReceiveBuffer::FrameLength(quint8(input.at(2)));
    if (input.size() < length)
        return std::nullopt;
    QByteArray message = input.mid(2, length - 2);
    input.remove(0, length);
    return message;
}

bool setFlags(int fd, int statusFlags)
{
    const int status = ::fcntl(fd, F_GETFL);
    return status >= 0 && ::fcntl(fd, F_SETFL, status | statusFlags) == 0
        && ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

bool makeRaw(int fd)
{
    termios settings {};
    if (::tcgetattr(fd, &settings) != 0)
        return false;
    ::cfmakeraw(&settings);
    return ::tcsetattr(fd, TCSANOW, &settings) == 0;
}

} // namespace

SimulatedDevice::SimulatedDevice(QObject *parent)
    : QObject(parent)
{ }

SimulatedDevice::~SimulatedDevice()
{
    unplug();
    removeLink();
}

bool SimulatedDevice::fail(const QString &what)
{
    m_error = QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

bool SimulatedDevice::plug()
{
    if (isPlugged())
        return true;
    m_error.clear();
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0)
        return fail(QStringLiteral("cannot open a pseudo-terminal"));
    char name[128] = {};
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0
        || ::ptsname_r(master, name, sizeof name) != 0 || !setFlags(master, O_NONBLOCK)) {
        fail(QStringLiteral("cannot set up the pseudo-terminal"));
        ::close(master);
        return false;
    }
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0 || !makeRaw(slave)) {
        fail(QStringLiteral("cannot open %1 in raw mode").arg(QString::fromLocal8Bit(name)));
        if (slave >= 0)
            ::close(slave);
        ::close(master);
        return false;
    }
    m_masterFd = master;
    m_slaveFd = slave;
    m_slavePath = QString::fromLocal8Bit(name);
    ++m_plugs;
    m_notifier = new QSocketNotifier(master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SimulatedDevice::readMaster);
    m_writeNotifier = new QSocketNotifier(master, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &SimulatedDevice::flushOutput);
    if (!updateLink()) {
        const QString error = m_error;
        unplug();
        m_error = error;
        return false;
    }
    return true;
}

void SimulatedDevice::unplug()
{
    if (!isPlugged())
        return;
    // The notifiers may be the senders of the signal being handled right now.
    for (QSocketNotifier *notifier : { m_notifier, m_writeNotifier }) {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    m_notifier = nullptr;
    m_writeNotifier = nullptr;
    ::close(m_masterFd);
    ::close(m_slaveFd);
    m_masterFd = -1;
    m_slaveFd = -1;
    m_slavePath.clear();
    // A pulled device's name goes away with it: a link left pointing at the
    // old pty number would lead a searching server to whatever pty takes that
    // number next (another device, or somebody's terminal).
    removeLink();
    m_input.clear();
    m_output.clear();
}

bool SimulatedDevice::updateLink()
{
    if (m_linkPath.isEmpty())
        return true;
    const QFileInfo existing(m_linkPath);
    if (existing.exists() && !existing.isSymLink()) {
        m_error = QStringLiteral("%1 exists and is not a symbolic link").arg(m_linkPath);
        return false;
    }
    // A reader of the link sees either the old target or the new one, never
    // no link at all.
    const QByteArray link = QFile::encodeName(m_linkPath);
    const QByteArray temporary = link + ".new-" + QByteArray::number(::getpid());
    ::unlink(temporary.constData());
    if (::symlink(QFile::encodeName(m_slavePath).constData(), temporary.constData()) != 0)
        return fail(QStringLiteral("cannot create the link %1").arg(m_linkPath));
    if (::rename(temporary.constData(), link.constData()) != 0) {
        fail(QStringLiteral("cannot create the link %1").arg(m_linkPath));
        ::unlink(temporary.constData());
        return false;
    }
    m_linkMade = true;
    return true;
}

void SimulatedDevice::removeLink()
{
    if (m_linkMade && QFileInfo(m_linkPath).isSymLink())
        ::unlink(QFile::encodeName(m_linkPath).constData());
    m_linkMade = false;
}

void SimulatedDevice::readMaster()
{
    char buffer[ReadChunkBytes];
    const ssize_t count = ::read(m_masterFd, buffer, sizeof buffer);
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    if (count <= 0) {
        // No slave open (cannot happen while ours is held): the notifier
        // would fire without end.
        m_notifier->setEnabled(false);
        return;
    }
    m_input.append(buffer, int(count));
    m_bytesReceived += count;
    // A handler may unplug the device, which empties m_input and ends the loop.
    while (const std::optional<QByteArray> message = takeRequest(m_input))
        handleRequest(*message);
}

void SimulatedDevice::handleRequest(const QByteArray &message)
{
    m_requests.append(message);
    if (m_requests.size() > RequestsKept)
        m_requests.removeFirst();
    Q_EMIT requestReceived(message);
    if (m_silent || !isPlugged())
        return;
    const QByteArray answer
        = message == Protocol::ProbeRequest() ? Protocol::ProbeAnswer() : message;
    const qsizetype requestBytes = PrefixBytes + message.size();
    if (m_answerDelayMs <= 0) {
        sendAnswer(answer, requestBytes);
        return;
    }
    const quint64 plugs = m_plugs;
    QTimer::singleShot(m_answerDelayMs, this, [this, answer, requestBytes, plugs] {
        if (plugs == m_plugs)
            sendAnswer(answer, requestBytes);
    });
}

void SimulatedDevice::sendAnswer(const QByteArray &message, qsizetype requestBytes)
{
    if (!isPlugged())
        return;
    writeAll(Protocol::AnswerFramePrefix() + message, requestBytes);
    Q_EMIT answerSent(message);
}

void SimulatedDevice::sendBroadcast(const QByteArray &message)
{
    writeAll(Protocol::BroadcastFramePrefix() + message);
}

void SimulatedDevice::sendRaw(const QByteArray &bytes)
{
    writeAll(bytes);
}

void SimulatedDevice::writeAll(const QByteArray &bytes, qsizetype requestBytes)
{
    if (!isPlugged() || bytes.isEmpty())
        return;
    if (m_outputHook)
        m_outputHook(bytes, requestBytes);
    else
        writeLine(bytes);
}

void SimulatedDevice::writeLine(const QByteArray &bytes)
{
    if (!isPlugged() || pendingBytes() + bytes.size() > MaxPendingBytes)
        return;
    m_output += bytes;
    flushOutput();
}

void SimulatedDevice::flushOutput()
{
    while (isPlugged() && !m_output.isEmpty()) {
        const ssize_t count = ::write(m_masterFd, m_output.constData(), size_t(m_output.size()));
        if (count > 0) {
            m_output.remove(0, int(count));
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The slave's input queue is full: go on when its reader makes room.
            m_writeNotifier->setEnabled(true);
            return;
        } else {
            m_output.clear(); // the line is gone
        }
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
}
