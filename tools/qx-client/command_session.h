#pragma once

#include "core/protocol.h"

#include <QByteArrayList>
#include <QObject>

#include <chrono>

class ServerConnection;
class QTimer;

// Sends commands to the command service one at a time: each line goes out
// only when the answer to the one before has come (the server drops a line
// that arrives while the connection's previous one is pending). Stops at the
// first error answer, time-out answer or failure.
class CommandSession : public QObject
{
    Q_OBJECT

public:
    // Longer than the server's own wait for the device in programming mode (60 s).
    static constexpr std::chrono::milliseconds AnswerTimeout
        = Protocol::ProgModeAnswerLimit + std::chrono::seconds(10);

    CommandSession(ServerConnection &connection, QByteArrayList commands,
        std::chrono::milliseconds answerTimeout, QObject *parent = nullptr);

    void start();

Q_SIGNALS:
    void answerReceived(const QByteArray &line);
    void finished(int exitStatus, const QString &message);

private:
    void sendNext();
    void takeAnswer(const QByteArray &line);
    void handleLoss();
    void handleTimeout();
    void finish(int exitStatus, const QString &message = QString());
    QString current() const;

    ServerConnection &m_connection;
    QTimer *m_answerTimer = nullptr;
    QByteArrayList m_commands;
    qsizetype m_sent = 0; // commands sent so far; the last of them awaits its answer
    bool m_awaiting = false; // a command is out and its answer has not come
    bool m_finished = false;
};
