#include "command_client.h"

#include "core/hex_line.h"
#include "core/protocol.h"
#include "tagged_message.h"

#include <QTcpSocket>
#include <QTimer>

#include <iterator>
#include <sys/socket.h>

namespace {

constexpr int MaxLinesPerConnection = 40; // 0: it vanishes at once
constexpr int JunkPerMille = 50;
constexpr int OverlongPerMille = 5;
constexpr int OverlongCharacters = 40000;
constexpr int MinPauseMs = 5; // before connecting again
constexpr int MaxPauseMs = 40;
// After a command left behind: by then the server has taken it from its ring.
constexpr int PauseAfterCommandMs = 1000;
const QByteArray ErrorAnswer = Protocol::ErrorAnswerLine().chopped(2);
const QByteArray NoAnswer = HexText(Protocol::TimeoutAnswer());

// Malformed: no digit, too few, an odd count, too many, other text, a header that announces more
// or fewer data bytes than follow.
const QByteArray JunkLines[]
    = { "\r", "218\r", "2181A\r", "0123456789ABCDEF01\r", "0x21 0x81 0xA0\r", "GHIJ KLMN, xyz!\r",
          "21\x01\x80\xFF\x38\x31\x41\r", "0101\r", "420102\r", "2181A000\r" };

} // namespace

CommandClient::CommandClient(int id, quint16 port, Tally &tally, QObject *parent)
    : QObject(parent)
    , m_id(id)
    , m_port(port)
    , m_tally(tally)
    , m_random(quint32(id) * 7919u)
{ }

void CommandClient::stop()
{
    m_stopping = true;
    if (m_due.isEmpty() && !std::exchange(m_idle, true)) {
        drop();
        Q_EMIT idle();
    }
}

void CommandClient::start()
{
    if (m_stopping)
        return;
    auto *socket = m_socket = new QTcpSocket(this);
    m_leftOnConnection = m_random.bounded(MaxLinesPerConnection + 1);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QTcpSocket::connected, this, &CommandClient::act);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
        while (socket == m_socket && socket->canReadLine())
            takeLine(socket->readLine().chopped(2)); // without its CR LF
    });
    connect(socket, &QTcpSocket::disconnected, this, &CommandClient::handleClosed);
    connect(socket, &QTcpSocket::errorOccurred, this, &CommandClient::handleClosed);
    socket->connectToHost(QHostAddress::LocalHost, m_port);
}

void CommandClient::act()
{
    if (m_stopping)
        return stop();
    if (m_leftOnConnection-- <= 0)
        return vanish();
    m_sentEpoch = m_tally.deviceEpoch;
    const QByteArray command = TaggedMessage::line(TaggedMessage::commandNumber(m_id, m_counter++));
    const int pick = m_random.bounded(1000);
    if (pick < OverlongPerMille) { // hex digits: only the length is wrong
        m_due = { ErrorAnswer, command };
        m_socket->write(QByteArray(OverlongCharacters, 'A') + '\r' + command + '\r');
    } else if (pick < OverlongPerMille + JunkPerMille) {
        m_due = { ErrorAnswer };
        m_socket->write(JunkLines[m_random.bounded(int(std::size(JunkLines)))]);
    } else {
        m_due = { command };
        m_socket->write(command + '\r');
    }
}

void CommandClient::vanish()
{
    ++m_tally.vanished;
    const QByteArray command = TaggedMessage::line(TaggedMessage::commandNumber(m_id, m_counter++));
    const int way = m_random.bounded(4); // by closing, by a reset, mid-line, after a command
    if (way == 1) { // a zero linger time makes the close a reset, as when a process dies
        const linger resetOnClose { 1, 0 };
        ::setsockopt(int(m_socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &resetOnClose,
            sizeof resetOnClose);
    } else if (way >= 2) {
        m_socket->write(way == 2 ? command.left(5) : command + '\r');
    }
    drop();
    QTimer::singleShot(way == 3 ? PauseAfterCommandMs : m_random.bounded(MinPauseMs, MaxPauseMs),
        this, &CommandClient::start);
}

void CommandClient::takeLine(const QByteArray &line)
{
    const QByteArray due = m_due.isEmpty() ? QByteArray() : m_due.takeFirst();
    // 010100 is fair until the device is back, also to a command sent before it went.
    const int epoch = m_tally.deviceEpoch;
    const bool away = epoch != m_sentEpoch || epoch % 3 != 0;
    if (line == due && due == ErrorAnswer) { // before a command when overlong
        ++(m_due.isEmpty() ? m_tally.junkErrors : m_tally.overlongErrors);
    } else if (line == due && !due.isEmpty()) {
        ++m_tally.echoes;
        m_tally.deviceEpoch += epoch % 3 == 2 && m_sentEpoch == epoch; // back
    } else if (line == NoAnswer && !due.isEmpty() && due != ErrorAnswer && away) {
        ++m_tally.noAnswersAway;
    } else {
        m_tally.breaches.append(
            QStringLiteral("client %1 expected '%2', got '%3'")
                .arg(m_id)
                .arg(QString::fromLatin1(due), QString::fromLatin1(line.left(40))));
    }
    if (m_due.isEmpty())
        act();
}

void CommandClient::handleClosed()
{
    // A connection refused with all slots in use is none of the server's faults.
    if (m_socket->readAll() != Protocol::RefusalText() && !m_due.isEmpty())
        m_tally.breaches.append(
            QStringLiteral("client %1: connection ended by the server").arg(m_id));
    m_due.clear();
    drop();
    if (m_stopping)
        return stop();
    QTimer::singleShot(m_random.bounded(MinPauseMs, MaxPauseMs), this, &CommandClient::start);
}

void CommandClient::drop()
{
    if (QTcpSocket *socket = std::exchange(m_socket, nullptr)) {
        socket->disconnect(this); // no verdict, no reconnect from handleClosed()
        socket->disconnectFromHost(); // what was written still goes; deleted once disconnected
        if (socket->state() == QAbstractSocket::UnconnectedState)
            socket->deleteLater(); // also one that never connected
    }
}
