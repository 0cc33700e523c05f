#pragma once

#include <QObject>
#include <QRandomGenerator>

class LineConnection;
struct LoadTally;

// A client that connects and goes away again, in one of several ways: at once, by a reset,
// in the middle of a line, or right after a whole command (whose answer must then reach
// nobody, even when a new client has taken the slot). Over and over.
class VanishingClient : public QObject
{
    Q_OBJECT

public:
    static constexpr int MinPauseMs = 5;
    static constexpr int MaxPauseMs = 40;

    VanishingClient(int id, quint16 port, LoadTally &tally, QObject *parent = nullptr);

    void start();
    // Connects no more and lets the connection go.
    void stop();

private:
    void connectNow();
    void vanish();

    int m_id = 0;
    quint16 m_port = 0;
    LoadTally &m_tally;
    QRandomGenerator m_random;
    LineConnection *m_connection = nullptr;
    quint32 m_counter = 0;
    bool m_stopping = false;
};
