#include "device_client.h"

#include <QSerialPort>
#include <QTcpSocket>

namespace {

constexpr char FrameByte = '\xFF';
constexpr char AnswerKind = '\xFE';
constexpr char BroadcastKind = '\xFD';
const QByteArray CommandStart = QByteArray(1, FrameByte) + AnswerKind;

// The bytes of a line's hex digits, decoded in place: the client must cost no more per line than
// per frame, or the paths would not compare.
QByteArray FromHex(QByteArrayView digits)
{
    const auto value = [](char c) { return c <= '9' ? c - '0' : (c & ~0x20) - 'A' + 10; };
    QByteArray bytes(digits.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = char(value(digits[2 * i]) << 4 | value(digits[2 * i + 1]));
    return bytes;
}

} // namespace

DeviceClient::DeviceClient(Kind kind, const QString &pty, quint16 port, QObject *parent)
    : QObject(parent)
    , m_kind(kind)
    , m_pty(pty)
    , m_port(port)
{ }

void DeviceClient::open()
{
    if (m_kind == Kind::Pty) {
        // As a program on the device's own machine would: the simulator keeps the line raw.
        auto *port = new QSerialPort(m_pty, this);
        m_io = port;
        const auto fail
            = [this, port] { Q_EMIT failed(m_pty + QStringLiteral(": ") + port->errorString()); };
        connect(port, &QSerialPort::readyRead, this, &DeviceClient::read);
        connect(port, &QSerialPort::errorOccurred, this, [fail](QSerialPort::SerialPortError e) {
            if (e == QSerialPort::ResourceError || e == QSerialPort::ReadError)
                fail();
        });
        if (port->open(QIODevice::ReadWrite))
            Q_EMIT opened();
        else
            fail();
        return;
    }
    auto *socket = new QTcpSocket(this);
    m_io = socket;
    connect(socket, &QTcpSocket::connected, this, [this, socket] {
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        Q_EMIT opened();
    });
    connect(socket, &QTcpSocket::readyRead, this, &DeviceClient::read);
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] {
        // A refused client gets the server's text, without a line end, and is closed.
        const QByteArray said = m_input + socket->readAll();
        Q_EMIT failed(said.isEmpty() ? socket->errorString()
                                     : QStringLiteral("closed: ") + QString::fromUtf8(said));
    });
    socket->connectToHost(QHostAddress::LocalHost, m_port);
}

void DeviceClient::send(const QByteArray &message)
{
    m_io->write(
        m_kind == Kind::CommandService ? message.toHex().toUpper() + '\r' : CommandStart + message);
}

void DeviceClient::read()
{
    m_input += m_io->readAll();
    if (m_kind == Kind::Pty || m_kind == Kind::Bridge)
        takeFrames();
    else
        takeLines();
}

void DeviceClient::takeFrames()
{
    qsizetype at = 0;
    while (m_input.size() - at >= 3) {
        const char kind = m_input.at(at + 1);
        if (m_input.at(at) != FrameByte || (kind != AnswerKind && kind != BroadcastKind)) {
            ++at; // noise before a frame start
            continue;
        }
        // FF, kind, header, (header AND 15) data bytes, check byte.
        const qsizetype length = (quint8(m_input.at(at + 2)) & 15) + 4;
        if (m_input.size() - at < length)
            break;
        const QByteArray message = m_input.mid(at + 2, length - 2);
        at += length;
        if (kind == AnswerKind)
            Q_EMIT answer(message);
        else
            Q_EMIT broadcast(message);
    }
    m_input.remove(0, at);
}

void DeviceClient::takeLines()
{
    qsizetype at = 0;
    qsizetype end;
    while ((end = m_input.indexOf("\r\n", at)) >= 0) {
        const QByteArray message = FromHex(QByteArrayView(m_input).sliced(at, end - at));
        at = end + 2;
        if (m_kind == Kind::CommandService)
            Q_EMIT answer(message);
        else
            Q_EMIT broadcast(message);
    }
    m_input.remove(0, at);
}
