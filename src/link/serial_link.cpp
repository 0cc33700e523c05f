#include "serial_link.h"

#include "core/clock.h"
#include "core/hex_line.h"
#include "core/logging.h"
#include "core/protocol.h"
#include "core/server_state.h"
#include "link/port_map.h"

#include <QFileInfo>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <utility>

#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace {

constexpr std::size_t MaxKeptSpans = 4096;

} // namespace

SerialLink::SerialLink(
    ServerState &state, const PortMap &ports, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_ports(ports)
    , m_clock(clock)
    , m_port(new QSerialPort(this))
    , m_gapTimer(new QTimer(this))
    , m_reader(state.InpStr)
{
    m_gapTimer->setSingleShot(true);
    m_gapTimer->setTimerType(Qt::PreciseTimer);
    connect(m_gapTimer, &QTimer::timeout, this, &SerialLink::readFrames);
    connect(m_port, &QSerialPort::readyRead, this, &SerialLink::readData);
    connect(m_port, &QSerialPort::errorOccurred, this, &SerialLink::handleError);
}

bool SerialLink::open(int number, QString *error)
{
    close();
    const QString path = m_ports.path(number);
#ifndef Q_OS_WIN
    // Most numbers name no device at all, and a search tries all of them
    // again and again while the device is away. Asking the file system first
    // spares those the port's lock file, which every open writes and syncs.
    if (!QFileInfo::exists(path)) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(ENOENT));
        return false;
    }
#endif
    m_port->setPortName(path);
    m_port->setBaudRate(Protocol::BaudRate);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port->open(QIODevice::ReadWrite)) {
        if (error)
            *error = m_port->errorString();
        return false;
    }
    m_number = number;
    ++m_openCount;
    m_dsrWasOn = false;
    m_reportsPinout = true;
    // A port starts clean: what the system or this buffer still holds came from another
    // port, or from the device before it was lost, and answers no request of this line.
    m_port->clear();
    m_reader.clear();
    m_gapTimer->stop();
    // A pseudo-terminal refuses DTR; like every failed port operation this is
    // ignored and the port is used as it is.
    m_port->setDataTerminalReady(true);
    requestLowLatency();
    qCDebug(lcLink).noquote() << "port" << number << "opened:" << m_port->portName();
    return true;
}

void SerialLink::close()
{
    if (!m_port->isOpen())
        return;
    m_port->close();
    m_gapTimer->stop(); // no byte of this line can come any more
    qCDebug(lcLink).noquote() << "port" << m_number << "closed";
}

bool SerialLink::isOpen() const
{
    return m_port->isOpen();
}

QString SerialLink::portPath() const
{
    return m_number > 0 ? m_ports.path(m_number) : QString();
}

void SerialLink::write(const QByteArray &bytes)
{
    if (!m_port->isOpen())
        return;
    m_reader.markRequest();
    m_port->write(bytes);
    // Hands the bytes to the driver now rather than on the next loop pass;
    // never blocks.
    m_port->flush();
}

void SerialLink::checkDsr()
{
    if (!m_port->isOpen() || !m_reportsPinout)
        return;
    m_port->clearError();
    const QSerialPort::PinoutSignals pinout = m_port->pinoutSignals();
    if (m_port->error() != QSerialPort::NoError) {
        // This port does not report its signals (a pseudo-terminal): ask no more
        // until the next open.
        m_reportsPinout = false;
        return;
    }
    const bool dsrOn = pinout.testFlag(QSerialPort::DataSetReadySignal);
    if (m_dsrWasOn && !dsrOn) {
        loseDevice(QStringLiteral("DSR dropped"));
        return;
    }
    m_dsrWasOn = dsrOn;
}

void SerialLink::readData()
{
    const QByteArray bytes = m_port->readAll();
    if (bytes.isEmpty())
        return;
    m_reader.append(bytes, m_clock.milliseconds());
    readFrames();
    Q_EMIT bytesArrived();
}

void SerialLink::readFrames()
{
    // A receiver may write a request, open or close the port, and bytes may come meanwhile;
    // a reading asked for then waits until this batch is out, so frames always leave in the
    // order they arrived.
    m_readAgain = true;
    if (m_reading)
        return;
    m_reading = true;
    while (std::exchange(m_readAgain, false)) {
        m_reader.read(m_clock.milliseconds(), m_batch);
        dispatch(m_batch);
    }
    // A flood read in one go leaves no lasting room behind: a read of the port is some 4 KiB.
    if (m_batch.spans.capacity() > MaxKeptSpans)
        m_batch.spans = {};
    m_reading = false;
    scheduleGapEnd();
}

void SerialLink::dispatch(const FrameReader::Batch &batch)
{
    using Kind = ReceiveBuffer::Span::Kind;
    const quint64 line = m_openCount;
    const bool logging = lcFrames().isDebugEnabled();
    // Broadcasts go out together, in order, before any answer that came after them; their
    // messages are copied once into a buffer that the batch's size bounds.
    QByteArray broadcasts;
    qsizetype broadcastBytes = 0;
    const auto sendBroadcasts = [this, &broadcasts, &broadcastBytes] {
        if (broadcastBytes == 0)
            return;
        broadcasts.truncate(std::exchange(broadcastBytes, 0));
        Q_EMIT broadcastsReceived(std::exchange(broadcasts, {}));
    };
    for (const ReceiveBuffer::Span &span : batch.spans) {
        const bool stale = span.kind == Kind::Answer && m_reader.predatesRequest(batch, span);
        if (logging)
            logSpan(batch, span, stale);
        if (span.kind == Kind::Broadcast && m_state.Link != LinkState::Searching) {
            const QByteArrayView message = span.message(batch.bytes);
            if (broadcasts.isEmpty())
                broadcasts = QByteArray(batch.bytes.size(), Qt::Uninitialized);
            std::memcpy(broadcasts.data() + broadcastBytes, message.data(), message.size());
            broadcastBytes += message.size();
        } else if (span.kind == Kind::Answer && !stale) {
            sendBroadcasts();
            Q_EMIT answerReceived(span.message(batch.bytes).toByteArray());
            // A receiver closed or reopened the port: the rest came from a line that is gone.
            if (m_openCount != line || !m_port->isOpen())
                return;
        }
    }
    sendBroadcasts();
}

void SerialLink::logSpan(
    const FrameReader::Batch &batch, const ReceiveBuffer::Span &span, bool stale)
{
    const QByteArrayView bytes = span.bytes(batch.bytes);
    switch (span.kind) {
    case ReceiveBuffer::Span::Kind::Noise:
        qCDebug(lcFrames).noquote() << "noise:" << SpacedHex(bytes);
        return;
    case ReceiveBuffer::Span::Kind::Answer:
        if (stale)
            qCDebug(lcFrames).noquote()
                << "<<" << SpacedHex(bytes) << "(began before the request: dropped)";
        else
            qCDebug(lcFrames).noquote() << "<<" << SpacedHex(bytes);
        return;
    case ReceiveBuffer::Span::Kind::Broadcast:
        if (m_state.Link == LinkState::Searching)
            qCDebug(lcFrames).noquote()
                << "<<" << SpacedHex(bytes) << "(from a port being probed: dropped)";
        else
            qCDebug(lcFrames).noquote() << "<<" << SpacedHex(bytes);
        return;
    }
}

void SerialLink::scheduleGapEnd()
{
    const std::optional<qint64> gapEnd = m_reader.gapEndsAt();
    if (!gapEnd || !m_port->isOpen()) {
        m_gapTimer->stop();
        return;
    }
    // A timer already running is due no later than this end; on its time-out the
    // reading looks at the clock and, if bytes came meanwhile, waits on.
    if (m_gapTimer->isActive())
        return;
    const qint64 wait = qMax<qint64>(0, *gapEnd - m_clock.milliseconds());
    m_gapTimer->start(std::chrono::milliseconds(m_clock.lookAgainAfterMs(wait)));
}

void SerialLink::handleError(QSerialPort::SerialPortError error)
{
    // Only a device that went away counts. Line errors (break, framing, parity,
    // overrun) leave the received bytes as they are and are ignored, and so is
    // the refusal of DTR or of the pinout query on a pseudo-terminal.
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError)
        return;
    // After a hang-up Qt reports the read error again on every loop pass until
    // the port is closed: closing on the first report ends that loop.
    if (!m_port->isOpen())
        return;
    // On a hang-up the system's text can be stale (the read itself set none):
    // say which report it was as well.
    const QString report = error == QSerialPort::ResourceError ? QStringLiteral("device removed")
                                                               : QStringLiteral("read failed");
    loseDevice(report + QStringLiteral(": ") + m_port->errorString());
}

void SerialLink::loseDevice(const QString &reason)
{
    qCWarning(lcLink).noquote() << "device lost on port" << m_number
                                << "(" + portPath() + "):" << reason;
    close();
    Q_EMIT deviceLost(reason);
}

void SerialLink::requestLowLatency()
{
#ifdef Q_OS_LINUX
    // USB adapters otherwise hold received bytes back for up to 16 ms. Drivers
    // that do not know the request (pseudo-terminals among them) refuse it: fine.
    const int fd = m_port->handle();
    serial_struct serial {};
    if (::ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        serial.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(fd, TIOCSSERIAL, &serial);
    }
#endif
}

QString SerialLink::pathOf(int number) const
{
    return m_ports.path(number);
}

QList<int> SerialLink::searchNumbers() const
{
    return m_ports.searchNumbers();
}
