#pragma once

#include <QObject>
#include <QRandomGenerator>
#include <QStringList>

class QTcpSocket;

// What the command clients saw, added up for the verdict, and the device as they see it.
struct Tally
{
    // Three per unplug: unplugged, plugged in again, back: the first echo of a command sent after
    // the plug (by then the commands that waited while the device was away are worked off).
    int deviceEpoch = 0;
    qint64 echoes = 0; // answers that were the client's own command
    qint64 junkErrors = 0; // junk lines answered 6180E1
    qint64 overlongErrors = 0; // overlong lines answered 6180E1
    qint64 noAnswersAway = 0; // 010100 to a command open while the device was away
    qint64 vanished = 0; // connections left on purpose
    // Breaches: a wrong line, 010100 otherwise, a connection ended by the server with one due.
    QStringList breaches;
};

// A client of the command service in the storm, one line at a time: mostly a tagged command, due
// its own echo (the tag names client and command); now and then a junk line, due 6180E1, or an
// overlong line ended by a carriage return and then a command, due 6180E1 once and the echo.
// After a few lines it vanishes (by closing, by a reset, mid-line, or right after a command, whose
// answer must reach nobody) and connects anew. It holds at most one place in the server's ring.
class CommandClient : public QObject
{
    Q_OBJECT

public:
    CommandClient(int id, quint16 port, Tally &tally, QObject *parent = nullptr);

    void start(); // connects, and again after each time it vanished
    // Nothing more is sent; idle() follows once no answer is due, and the connection goes.
    void stop();

Q_SIGNALS:
    void idle();

private:
    void act();
    void vanish();
    void takeLine(const QByteArray &line);
    void handleClosed();
    void drop();

    int m_id = 0;
    quint16 m_port = 0;
    Tally &m_tally;
    QRandomGenerator m_random;
    QTcpSocket *m_socket = nullptr;
    QList<QByteArray> m_due; // the answer lines due, in order
    int m_sentEpoch = 0; // the device's epoch when they were sent
    quint32 m_counter = 0; // commands sent
    int m_leftOnConnection = 0; // lines before it vanishes
    bool m_stopping = false;
    bool m_idle = false;
};
