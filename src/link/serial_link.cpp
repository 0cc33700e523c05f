#include "serial_link.h"

#include "core/logging.h"
#include "core/protocol.h"
#include "core/receive_buffer.h"
#include "core/server_state.h"
#include "link/port_map.h"

#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <utility>

#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

SerialLink::SerialLink(ServerState &state, const PortMap &ports, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_ports(ports)
    , m_port(new QSerialPort(this))
{
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
    ++m_writes;
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
    qCDebug(lcFrames).noquote() << "<<" << bytes.toHex(' ').toUpper();
    m_state.InpStr += bytes;
    readFrames();
    Q_EMIT bytesArrived();
}

void SerialLink::dropStaleAnswers()
{
    ReceiveBuffer::DropStaleAnswers(m_state.InpStr);
    readFrames();
}

void SerialLink::readFrames()
{
    // A receiver may write a request or drop stale answers, which asks for another reading;
    // it waits until this batch is out, so frames always leave in the order they arrived.
    m_readAgain = true;
    if (m_reading)
        return;
    m_reading = true;
    while (std::exchange(m_readAgain, false))
        dispatchFrames();
    m_reading = false;
}

void SerialLink::dispatchFrames()
{
    // The bytes read leave the buffer before anyone hears of their frames: a receiver may
    // write a request, which looks at the buffer again. What stays is at most one incomplete
    // frame, so the cap only ever meets noise.
    const ReceiveBuffer::Reading reading = ReceiveBuffer::ReadFrames(m_state.InpStr);
    const QByteArray read = m_state.InpStr.first(reading.consumed);
    m_state.InpStr.remove(0, reading.consumed);
    ReceiveBuffer::ApplyCap(m_state.InpStr);
    const quint64 writesBefore = m_writes;
    // Broadcasts go out together, in order, before any answer that came after them.
    QByteArray broadcasts;
    const auto sendBroadcasts = [this, &broadcasts] {
        if (!broadcasts.isEmpty())
            Q_EMIT broadcastsReceived(std::exchange(broadcasts, {}));
    };
    for (const ReceiveBuffer::Frame &frame : reading.frames) {
        const QByteArrayView message = frame.message(read);
        if (frame.kind == ReceiveBuffer::Frame::Kind::Broadcast) {
            broadcasts.append(message);
            continue;
        }
        sendBroadcasts();
        if (m_writes != writesBefore) {
            // A receiver wrote a request meanwhile: this answer arrived before it.
            qCDebug(lcFrames).noquote() << "answer" << message.toByteArray().toHex(' ').toUpper()
                                        << "predates the request: dropped";
        } else {
            Q_EMIT answerReceived(message.toByteArray());
        }
    }
    sendBroadcasts();
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
