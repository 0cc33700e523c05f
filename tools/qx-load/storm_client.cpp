#include "storm_client.h"

#include "core/hex_line.h"
#include "core/protocol.h"
#include "tagged_message.h"

#include <QTcpSocket>
#include <QTimer>

#include <iterator>
#include <sys/socket.h>

namespace {

constexpr int MinCommandsPerConnection = 20;
constexpr int MaxCommandsPerConnection = 80;
constexpr int OverlongCharacters = 40000;
constexpr int MinPauseMs = 5; // before connecting again
constexpr int MaxPauseMs = 40;
constexpr int ProblemsKept = 12;
const QByteArray ErrorAnswer = Protocol::ErrorAnswerLine().chopped(2);
const QByteArray NoAnswer = HexText(Protocol::TimeoutAnswer());
const QByteArray RefusalText = Protocol::RefusalText();

// Malformed: no digit, too few, an odd count, too many, other text, a header that announces more
// or fewer data bytes than follow.
const QByteArray JunkLines[]
    = { "\r", "218\r", "2181A\r", "0123456789ABCDEF01\r", "0x21 0x81 0xA0\r", "GHIJ KLMN, xyz!\r",
          "21\x01\x80\xFF"
          "81A\r",
          "0101\r", "420102\r", "2181A000\r" };

} // namespace

void Tally::note(const QString &problem)
{
    if (problems.size() < ProblemsKept)
        problems.append(QStringLiteral("%1 ms: %2").arg(clock.elapsed()).arg(problem));
}

StormClient::StormClient(Kind kind, int id, quint16 port, Tally &tally, QObject *parent)
    : QObject(parent)
    , m_kind(kind)
    , m_id(id)
    , m_port(port)
    , m_tally(tally)
    , m_random(quint32(id) * 7919u + quint32(kind))
{ }

void StormClient::stop()
{
    m_stopping = true;
    if (m_kind == Kind::Command && !m_due.isEmpty())
        return; // the answer first
    close();
    Q_EMIT idle();
}

void StormClient::connectNow()
{
    if (m_stopping)
        return;
    if (m_socket)
        m_socket->deleteLater();
    auto *socket = m_socket = new QTcpSocket(this);
    m_input.clear();
    m_due.clear();
    m_leftOnConnection = m_random.bounded(MinCommandsPerConnection, MaxCommandsPerConnection + 1);
    connect(socket, &QTcpSocket::connected, this, &StormClient::act);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
        m_input += socket->readAll();
        for (qsizetype end; socket == m_socket && (end = m_input.indexOf("\r\n")) >= 0;) {
            const QByteArray line = m_input.left(end);
            m_input.remove(0, end + 2);
            takeLine(line);
        }
    });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] { handleClosed(socket); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] { handleClosed(socket); });
    socket->connectToHost(QHostAddress::LocalHost, m_port);
}

void StormClient::act()
{
    if (m_stopping)
        return;
    if (m_leftOnConnection-- <= 0) {
        close();
        QTimer::singleShot(
            m_random.bounded(MinPauseMs, MaxPauseMs), this, &StormClient::connectNow);
        return;
    }
    m_sentMs = m_tally.clock.elapsed();
    switch (m_kind) {
    case Kind::Command:
        sendCommand();
        break;
    case Kind::Junk:
        ++m_tally.malformedLines;
        m_due = ErrorAnswer;
        m_socket->write(JunkLines[m_random.bounded(int(std::size(JunkLines)))]);
        break;
    case Kind::Overlong:
        ++m_tally.malformedLines;
        m_due = ErrorAnswer;
        m_socket->write(
            QByteArray(OverlongCharacters, 'A')); // hex digits: only the length is wrong
        break;
    case Kind::Vanishing:
        vanish();
        break;
    }
}

void StormClient::vanish()
{
    ++m_tally.vanished;
    const QByteArray command = TaggedMessage::line(TaggedMessage::commandNumber(m_id, m_counter++));
    switch (m_random.bounded(4)) {
    case 0: // gone at once
        close();
        break;
    case 1: // gone by a reset, as when its process dies
        close(true);
        break;
    case 2: // half a line, then gone
        m_socket->write(command.left(5));
        close();
        break;
    default: // a whole command, gone before its answer
        m_socket->write(command + '\r');
        close(true);
        break;
    }
    QTimer::singleShot(m_random.bounded(MinPauseMs, MaxPauseMs), this, &StormClient::connectNow);
}

void StormClient::sendCommand(const QByteArray &before)
{
    m_due = TaggedMessage::line(TaggedMessage::commandNumber(m_id, m_counter++));
    m_socket->write(before + m_due + '\r');
}

void StormClient::takeLine(const QByteArray &line)
{
    const QByteArray due = std::exchange(m_due, {});
    if (line == due && due == ErrorAnswer && m_kind == Kind::Overlong) {
        sendCommand("\r"); // ends the overlong line: the connection must still work
        return;
    }
    if (!due.isEmpty() && line == due) {
        m_tally.ownAnswers += due != ErrorAnswer;
        if (due != ErrorAnswer)
            Q_EMIT echoed();
    } else if (line == NoAnswer && !due.isEmpty() && due != ErrorAnswer) {
        m_tally.noAnswers.append({ m_sentMs, m_tally.clock.elapsed() });
    } else {
        ++m_tally.wrongAnswers;
        m_tally.note(QStringLiteral("client %1 expected '%2', got '%3'")
                         .arg(m_id)
                         .arg(QString::fromLatin1(due), QString::fromLatin1(line.left(40))));
    }
    if (m_stopping)
        stop();
    else
        act();
}

void StormClient::handleClosed(QTcpSocket *socket)
{
    if (socket != m_socket || socket->property("closed").toBool())
        return;
    socket->setProperty("closed", true);
    if (m_input + socket->readAll() == RefusalText) {
        ++m_tally.refused;
    } else if (!m_due.isEmpty()) {
        ++m_tally.unexpectedCloses;
        m_tally.note(QStringLiteral("client %1: connection ended by the server").arg(m_id));
    }
    m_due.clear();
    if (m_stopping)
        stop();
    else
        QTimer::singleShot(
            m_random.bounded(MinPauseMs, MaxPauseMs), this, &StormClient::connectNow);
}

void StormClient::close(bool reset)
{
    if (!m_socket)
        return;
    m_socket->setProperty("closed", true); // no reconnect from handleClosed()
    if (reset) {
        // A zero linger time makes the close a reset, as when a client's process dies.
        const linger resetOnClose { 1, 0 };
        ::setsockopt(int(m_socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &resetOnClose,
            sizeof resetOnClose);
        m_socket->abort();
    } else {
        m_socket->disconnectFromHost();
    }
}
