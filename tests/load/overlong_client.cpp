#include "overlong_client.h"

#include "line_connection.h"
#include "load_tally.h"
#include "tagged_message.h"

#include <QTimer>

OverlongClient::OverlongClient(int id, quint16 port, LoadTally &tally, QObject *parent)
    : QObject(parent)
    , m_id(id)
    , m_port(port)
    , m_tally(tally)
{ }

void OverlongClient::start()
{
    connectNow();
}

void OverlongClient::stop()
{
    m_stopping = true;
    if (m_connection)
        m_connection->close();
}

void OverlongClient::connectNow()
{
    if (m_stopping)
        return;
    if (m_connection)
        m_connection->deleteLater();
    m_connection = new LineConnection(this);
    m_due = Due::Nothing;
    connect(m_connection, &LineConnection::connected, this, &OverlongClient::sendOverlong);
    connect(m_connection, &LineConnection::lineReceived, this, &OverlongClient::takeLine);
    connect(m_connection, &LineConnection::closed, this, [this](const QByteArray &rest) {
        if (rest == RefusalText()) {
            ++m_tally.refused;
        } else if (m_due != Due::Nothing) {
            ++m_tally.overlongWrong;
            m_tally.note(QStringLiteral("overlong client: connection ended by the server"));
        }
        if (!m_stopping)
            QTimer::singleShot(ReconnectDelayMs, this, &OverlongClient::connectNow);
    });
    m_connection->open(m_port);
}

void OverlongClient::sendOverlong()
{
    if (m_stopping)
        return;
    // Hex digits, so that only the length makes the line wrong.
    m_due = Due::ErrorAnswer;
    ++m_tally.overlongLines;
    m_connection->send(QByteArray(OverlongCharacters, 'A'));
}

void OverlongClient::takeLine(const QByteArray &line)
{
    switch (std::exchange(m_due, Due::Nothing)) {
    case Due::ErrorAnswer: {
        if (line != "6180E1") {
            ++m_tally.overlongWrong;
            m_tally.note(
                QStringLiteral("overlong line answered %1").arg(QString::fromLatin1(line)));
            return;
        }
        m_expected = TaggedMessage::command({ m_id, m_counter++ }).toHex().toUpper();
        m_due = Due::Echo;
        m_sentMs = m_tally.nowMs();
        m_connection->send("\r" + m_expected + '\r');
        return;
    }
    case Due::Echo:
        switch (AnswerRules::Judge(line, m_expected)) {
        case AnswerRules::Verdict::Own:
            ++m_tally.ownAnswers;
            break;
        case AnswerRules::Verdict::NoAnswer:
            m_tally.noAnswers.append({ m_sentMs, m_tally.nowMs() });
            break;
        case AnswerRules::Verdict::Wrong:
            ++m_tally.overlongWrong;
            m_tally.note(QStringLiteral("after an overlong line: sent %1, got %2")
                             .arg(QString::fromLatin1(m_expected), QString::fromLatin1(line)));
            break;
        }
        sendOverlong();
        return;
    case Due::Nothing:
        ++m_tally.overlongWrong;
        m_tally.note(
            QStringLiteral("overlong client: unasked line %1").arg(QString::fromLatin1(line)));
        return;
    }
}
