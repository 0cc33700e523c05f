#pragma once

#include <QByteArray>
#include <QObject>
#include <QRandomGenerator>

class LineConnection;
struct LoadTally;

// A client that sends nothing but malformed lines, one at a time as the protocol asks: too few
// hex digits, an odd count, too many, other text, random bytes. Each must be answered with
// 6180E1 at once, and nothing else may ever reach it.
class JunkClient : public QObject
{
    Q_OBJECT

public:
    static constexpr int LinesPerConnection = 50;
    static constexpr int ReconnectDelayMs = 15;

    JunkClient(int seed, quint16 port, LoadTally &tally, QObject *parent = nullptr);

    void start();
    // Sends nothing more and lets the connection go.
    void stop();

    // A malformed command line ending in CR, of the kind `kind` (any number; it wraps).
    static QByteArray junkLine(int kind, QRandomGenerator &random);

private:
    void connectNow();
    void sendNext();
    void takeLine(const QByteArray &line);

    quint16 m_port = 0;
    LoadTally &m_tally;
    QRandomGenerator m_random;
    LineConnection *m_connection = nullptr;
    int m_sentOnConnection = 0;
    bool m_waiting = false;
    bool m_stopping = false;
};
