#pragma once

#include <QByteArray>
#include <QObject>
#include <QRandomGenerator>

class LineConnection;
struct LoadTally;

// A well-behaved command client: sends a tagged command, waits for its answer, sends the next.
// Now and then it closes and connects again, so that slots are freed and taken, and another
// client may get the slot (a refused connection is tried again shortly). Every answer is judged
// against the command sent on that very connection.
class CommandClient : public QObject
{
    Q_OBJECT

public:
    static constexpr int MinCommandsPerConnection = 20;
    static constexpr int MaxCommandsPerConnection = 80;
    static constexpr int ReconnectDelayMs = 20;

    CommandClient(int id, quint16 port, LoadTally &tally, QObject *parent = nullptr);

    void start();
    // No command after the one out; idle() follows once it has been answered, and the
    // connection goes.
    void stop();
    bool isIdle() const { return !m_waiting; }

Q_SIGNALS:
    void echoed(); // an answer was the client's own echo
    void idle();

private:
    void becomeIdle();
    void connectSoon();
    void connectNow();
    void sendNext();
    void takeLine(const QByteArray &line);
    void handleClosed(const QByteArray &rest);

    int m_id = 0;
    quint16 m_port = 0;
    LoadTally &m_tally;
    QRandomGenerator m_random;
    LineConnection *m_connection = nullptr;
    QByteArray m_expected; // answer line due for the command out
    qint64 m_sentMs = 0;
    quint32 m_counter = 0;
    int m_leftOnConnection = 0;
    bool m_waiting = false;
    bool m_stopping = false;
};
