#include "command_client.h"

#include "line_connection.h"
#include "load_tally.h"
#include "tagged_message.h"

#include <QTimer>

CommandClient::CommandClient(int id, quint16 port, LoadTally &tally, QObject *parent)
    : QObject(parent)
    , m_id(id)
    , m_port(port)
    , m_tally(tally)
    , m_random(quint32(id) + 1)
{ }

void CommandClient::start()
{
    connectNow();
}

void CommandClient::stop()
{
    m_stopping = true;
    if (!m_waiting)
        becomeIdle();
}

void CommandClient::becomeIdle()
{
    if (m_connection)
        m_connection->close();
    Q_EMIT idle();
}

void CommandClient::connectSoon()
{
    if (!m_stopping)
        QTimer::singleShot(ReconnectDelayMs, this, &CommandClient::connectNow);
}

void CommandClient::connectNow()
{
    if (m_stopping)
        return;
    if (m_connection)
        m_connection->deleteLater();
    m_connection = new LineConnection(this);
    m_leftOnConnection = m_random.bounded(MinCommandsPerConnection, MaxCommandsPerConnection + 1);
    connect(m_connection, &LineConnection::connected, this, &CommandClient::sendNext);
    connect(m_connection, &LineConnection::lineReceived, this, &CommandClient::takeLine);
    connect(m_connection, &LineConnection::closed, this, &CommandClient::handleClosed);
    m_connection->open(m_port);
}

void CommandClient::sendNext()
{
    if (m_stopping) {
        becomeIdle();
        return;
    }
    const QByteArray command = TaggedMessage::command({ m_id, m_counter++ });
    m_expected = command.toHex().toUpper();
    m_waiting = true;
    m_sentMs = m_tally.nowMs();
    m_connection->send(m_expected + '\r');
}

void CommandClient::takeLine(const QByteArray &line)
{
    if (!m_waiting) {
        ++m_tally.wrongAnswers;
        m_tally.note(QStringLiteral("client %1: unasked line %2").arg(m_id).arg(line));
        return;
    }
    m_waiting = false;
    switch (AnswerRules::Judge(line, m_expected)) {
    case AnswerRules::Verdict::Own:
        ++m_tally.ownAnswers;
        Q_EMIT echoed();
        break;
    case AnswerRules::Verdict::NoAnswer:
        m_tally.noAnswers.append({ m_sentMs, m_tally.nowMs() });
        break;
    case AnswerRules::Verdict::Wrong:
        ++m_tally.wrongAnswers;
        m_tally.note(QStringLiteral("client %1 sent %2, got %3").arg(m_id).arg(m_expected, line));
        break;
    }
    if (--m_leftOnConnection <= 0 && !m_stopping) {
        m_connection->close();
        connectSoon();
        return;
    }
    sendNext();
}

void CommandClient::handleClosed(const QByteArray &rest)
{
    const bool wasWaiting = std::exchange(m_waiting, false);
    if (rest == RefusalText()) {
        ++m_tally.refused;
    } else if (!m_stopping || wasWaiting) {
        ++m_tally.unexpectedCloses;
        m_tally.note(QStringLiteral("client %1: connection ended by the server").arg(m_id));
    }
    if (m_stopping)
        becomeIdle();
    else
        connectSoon();
}
