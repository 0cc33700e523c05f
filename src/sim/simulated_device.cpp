#include "sim/simulated_device.h"

#include "core/receive_buffer.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr char RequestPrefix[] = "\xFF\xFE";
constexpr char BroadcastPrefix[] = "\xFF\xFD";
constexpr int BitsPerByte = 10; // 8N1: start bit, 8 data bits, stop bit
constexpr qint64 MicrosecondsPerSecond = 1000 * 1000;
// A paced line wakes at least this often while bytes are due, so that long
// writes flow steadily rather than in one late burst.
constexpr qint64 PaceStepUs = 10 * 1000;
constexpr int ReadChunkBytes = 4096;

// Cuts the first whole request frame out of `input` and returns its message.
// Bytes before the frame start are garbage and go; a trailing FF stays, since
// it may be the first half of the next frame start.
std::optional<QByteArray> takeRequest(QByteArray &input)
{
    const int start = input.indexOf(RequestPrefix);
    if (start < 0) {
        input = input.endsWith('\xFF') ? QByteArray(1, '\xFF') : QByteArray();
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
    , m_paceTimer(new QTimer(this))
{
    m_paceTimer->setSingleShot(true);
    m_paceTimer->setTimerType(Qt::PreciseTimer);
    connect(m_paceTimer, &QTimer::timeout, this, &SimulatedDevice::releasePaced);
    m_lineClock.start();
}

SimulatedDevice::~SimulatedDevice()
{
    unplug();
    removeLink();
}

QByteArray SimulatedDevice::probeRequest()
{
    return QByteArray::fromHex("F20203F3");
}

QByteArray SimulatedDevice::probeAnswer()
{
    return QByteArray::fromHex("6182E3");
}

void SimulatedDevice::setLineRate(int baud)
{
    m_lineRate = std::max(baud, 0);
    if (m_lineRate == 0) {
        // Whatever still waits for the line goes out now.
        for (const PacedChunk &chunk : m_paced)
            m_output += chunk.bytes.mid(chunk.released);
        m_paced.clear();
        m_paceTimer->stop();
        flushOutput();
    }
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
    m_paced.clear();
    m_paceTimer->stop();
    m_lineFreeUs = 0;
    m_inputFreeUs = 0;
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
    const qint64 readUs = nowUs();
    // A handler may unplug the device, which empties m_input and ends the loop.
    while (const std::optional<QByteArray> message = takeRequest(m_input)) {
        qint64 arrivedUs = 0;
        if (m_lineRate > 0) {
            // On a real line the request would only now have finished arriving.
            arrivedUs = std::max(readUs, m_inputFreeUs) + lineTimeUs(message->size() + 2);
            m_inputFreeUs = arrivedUs;
        }
        handleRequest(*message, arrivedUs);
    }
}

void SimulatedDevice::handleRequest(const QByteArray &message, qint64 arrivedUs)
{
    m_requests.append(message);
    Q_EMIT requestReceived(message);
    if (m_silent || !isPlugged())
        return;
    const QByteArray answer = message == probeRequest() ? probeAnswer() : message;
    const qint64 notBeforeUs = arrivedUs + qint64(m_answerDelayMs) * 1000;
    if (m_answerDelayMs <= 0) {
        sendAnswer(answer, notBeforeUs);
        return;
    }
    const quint64 plugs = m_plugs;
    QTimer::singleShot(m_answerDelayMs, this, [this, answer, notBeforeUs, plugs] {
        if (plugs == m_plugs)
            sendAnswer(answer, notBeforeUs);
    });
}

void SimulatedDevice::sendAnswer(const QByteArray &message, qint64 notBeforeUs)
{
    if (!isPlugged())
        return;
    writeAll(RequestPrefix + message, notBeforeUs);
    Q_EMIT answerSent(message);
}

void SimulatedDevice::sendBroadcast(const QByteArray &message)
{
    writeAll(BroadcastPrefix + message);
}

void SimulatedDevice::sendRaw(const QByteArray &bytes)
{
    writeAll(bytes);
}

qint64 SimulatedDevice::pendingBytes() const
{
    qint64 pending = m_output.size();
    for (const PacedChunk &chunk : m_paced)
        pending += chunk.bytes.size() - chunk.released;
    return pending;
}

qint64 SimulatedDevice::lineTimeUs(qint64 bytes) const
{
    const qint64 bits = bytes * BitsPerByte * MicrosecondsPerSecond;
    return (bits + m_lineRate - 1) / m_lineRate;
}

void SimulatedDevice::writeAll(const QByteArray &bytes, qint64 notBeforeUs)
{
    if (!isPlugged() || bytes.isEmpty() || pendingBytes() + bytes.size() > MaxPendingBytes)
        return;
    if (m_lineRate <= 0) {
        m_output += bytes;
        flushOutput();
        return;
    }
    // One line: each write starts when the line is free, and not before its time.
    const qint64 startUs = std::max({ nowUs(), notBeforeUs, m_lineFreeUs });
    m_paced.push_back({ bytes, startUs, 0 });
    m_lineFreeUs = startUs + lineTimeUs(bytes.size());
    releasePaced();
}

void SimulatedDevice::releasePaced()
{
    const qint64 now = nowUs();
    while (!m_paced.empty()) {
        PacedChunk &chunk = m_paced.front();
        // A byte is due once its last bit would have left the line.
        const qint64 onLineUs = std::max<qint64>(now - chunk.startUs, 0);
        const qint64 due = std::min<qint64>(
            chunk.bytes.size(), onLineUs * m_lineRate / (BitsPerByte * MicrosecondsPerSecond));
        if (due > chunk.released) {
            m_output += chunk.bytes.mid(chunk.released, int(due) - chunk.released);
            chunk.released = int(due);
        }
        if (chunk.released < chunk.bytes.size())
            break;
        m_paced.pop_front();
    }
    flushOutput();
    if (m_paced.empty())
        return;
    const PacedChunk &next = m_paced.front();
    const qint64 doneUs = next.startUs + lineTimeUs(next.bytes.size());
    const qint64 waitUs = std::min(doneUs - now, PaceStepUs);
    // Round up: a byte never reaches the reader before its time.
    m_paceTimer->start(int(std::max<qint64>((waitUs + 999) / 1000, 1)));
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
