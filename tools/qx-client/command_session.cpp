#include "command_session.h"

#include "core/hex_line.h"
#include "core/protocol.h"

#include "exit_status.h"
#include "server_connection.h"

#include <QTimer>

namespace {

// The two answer lines that tell of a failure, without their line end.
const QByteArray ErrorAnswer = Protocol::ErrorAnswerLine().chopped(2);
const QByteArray TimeoutAnswer = HexText(Protocol::TimeoutAnswer());

} // namespace

CommandSession::CommandSession(ServerConnection &connection, QByteArrayList commands,
    std::chrono::milliseconds answerTimeout, QObject *parent)
    : QObject(parent)
    , m_connection(connection)
    , m_answerTimer(new QTimer(this))
    , m_commands(std::move(commands))
{
    m_answerTimer->setSingleShot(true);
    m_answerTimer->setInterval(answerTimeout);
    connect(m_answerTimer, &QTimer::timeout, this, &CommandSession::handleTimeout);
    connect(&m_connection, &ServerConnection::connected, this, &CommandSession::sendNext);
    connect(&m_connection, &ServerConnection::lineReceived, this, &CommandSession::takeAnswer);
    connect(&m_connection, &ServerConnection::lost, this, &CommandSession::handleLoss);
    connect(&m_connection, &ServerConnection::failed, this, &CommandSession::finish);
}

void CommandSession::start()
{
    m_connection.open();
}

void CommandSession::sendNext()
{
    if (m_sent == m_commands.size()) {
        m_connection.close();
        finish(ExitSuccess);
        return;
    }
    m_connection.send(m_commands.at(m_sent) + '\r');
    ++m_sent;
    m_awaiting = true;
    m_answerTimer->start();
}

void CommandSession::takeAnswer(const QByteArray &line)
{
    // The command service sends nothing unasked; a stray line answers nothing.
    if (!m_awaiting || m_finished)
        return;
    m_awaiting = false;
    m_answerTimer->stop();
    if (!IsHexText(line)) {
        m_connection.close();
        finish(ExitProtocolError,
            QStringLiteral("the answer to \"%1\" from %2 is not a line of hex digits: is it a "
                           "qx-server?")
                .arg(current(), m_connection.address()));
        return;
    }
    Q_EMIT answerReceived(line);
    if (line == ErrorAnswer) {
        m_connection.close();
        finish(ExitMalformed,
            QStringLiteral(
                "the server found the command \"%1\" malformed (error answer %2): "
                "a command is 2 to 8 bytes written as 4 to 16 hex digits, and as many bytes "
                "as its header announces")
                .arg(current(), QString::fromLatin1(ErrorAnswer)));
    } else if (line == TimeoutAnswer) {
        m_connection.close();
        finish(ExitNoAnswer,
            QStringLiteral("the device did not answer the command \"%1\" (time-out answer %2)")
                .arg(current(), QString::fromLatin1(TimeoutAnswer)));
    } else {
        sendNext();
    }
}

void CommandSession::handleLoss()
{
    finish(ExitConnectionLost,
        m_awaiting ? QStringLiteral("the connection to %1 was lost before the answer to \"%2\"")
                         .arg(m_connection.address(), current())
                   : QStringLiteral("the connection to %1 was lost").arg(m_connection.address()));
}

void CommandSession::handleTimeout()
{
    m_connection.close();
    finish(ExitNoAnswer,
        QStringLiteral("no answer to \"%1\" from %2 within %3")
            .arg(current(), m_connection.address(),
                ServerConnection::durationText(m_answerTimer->intervalAsDuration())));
}

void CommandSession::finish(int exitStatus, const QString &message)
{
    if (m_finished)
        return;
    m_finished = true;
    m_answerTimer->stop();
    Q_EMIT finished(exitStatus, message);
}

QString CommandSession::current() const
{
    return m_sent > 0 ? QString::fromUtf8(m_commands.at(m_sent - 1)) : QString();
}
