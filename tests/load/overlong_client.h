#pragma once

#include <QByteArray>
#include <QObject>

class LineConnection;
struct LoadTally;

// A client that sends 40,000 characters without a carriage return: it must get 6180E1 once,
// when the line limit is passed. Then a carriage return ends the overlong line (no line of its
// own) and a tagged command must get its own echo: the connection still works.
class OverlongClient : public QObject
{
    Q_OBJECT

public:
    static constexpr int OverlongCharacters = 40000;
    static constexpr int ReconnectDelayMs = 30;

    OverlongClient(int id, quint16 port, LoadTally &tally, QObject *parent = nullptr);

    void start();
    // Sends nothing more and lets the connection go.
    void stop();

private:
    enum class Due
    {
        Nothing,
        ErrorAnswer, // the 6180E1 of the overlong line
        Echo, // the command after it
    };

    void connectNow();
    void sendOverlong();
    void takeLine(const QByteArray &line);

    int m_id = 0;
    quint16 m_port = 0;
    LoadTally &m_tally;
    LineConnection *m_connection = nullptr;
    QByteArray m_expected;
    qint64 m_sentMs = 0;
    quint32 m_counter = 0;
    Due m_due = Due::Nothing;
    bool m_stopping = false;
};
