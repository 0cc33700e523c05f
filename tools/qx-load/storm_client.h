#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QRandomGenerator>
#include <QStringList>

class QTcpSocket;

// What the storm's clients saw, added up for the verdict.
struct Tally
{
    QElapsedTimer clock; // the run's time base
    qint64 ownAnswers = 0; // echoes of the client's own command
    qint64 wrongAnswers = 0; // not the line due (010100 aside), or a line nobody asked for
    QList<std::pair<qint64, qint64>> noAnswers; // 010100: ms of the run it was sent, answered
    qint64 malformedLines = 0; // junk and overlong lines, each due 6180E1
    qint64 vanished = 0; // connections that went away on purpose
    qint64 refused = 0; // connections refused (all slots in use)
    qint64 unexpectedCloses = 0; // ended by the server while an answer was due
    QStringList problems; // the first few, for the report

    void note(const QString &problem);
};

// One client of the command service in the storm, of one of four kinds:
//  - Command: tagged commands one at a time, each answer judged against the command sent on
//    that very connection (the device echoes it); it connects anew every 20 to 80 commands, so
//    that slots are freed and taken;
//  - Junk: malformed lines, each due 6180E1;
//  - Overlong: 40,000 characters without a carriage return, due 6180E1 once; then a carriage
//    return ends that line and a tagged command must get its echo;
//  - Vanishing: connects and goes away at once, by a reset, in the middle of a line, or right
//    after a whole command (whose answer must then reach nobody).
// A refused connection is tried again shortly.
class StormClient : public QObject
{
    Q_OBJECT

public:
    enum class Kind
    {
        Command,
        Junk,
        Overlong,
        Vanishing,
    };

    StormClient(Kind kind, int id, quint16 port, Tally &tally, QObject *parent = nullptr);

    void start() { connectNow(); }
    // Nothing more is sent; idle() follows once no answer is due, and the connection goes.
    void stop();

Q_SIGNALS:
    void echoed(); // an answer was the client's own echo
    void idle();

private:
    void connectNow();
    void act();
    void vanish();
    void sendCommand(const QByteArray &before = {});
    void takeLine(const QByteArray &line);
    void handleClosed(QTcpSocket *socket);
    void close(bool reset = false);

    Kind m_kind;
    int m_id = 0;
    quint16 m_port = 0;
    Tally &m_tally;
    QRandomGenerator m_random;
    QTcpSocket *m_socket = nullptr;
    QByteArray m_input; // received, not yet a whole line
    QByteArray m_due; // the answer line due; empty: none
    qint64 m_sentMs = 0;
    quint32 m_counter = 0;
    int m_leftOnConnection = 0;
    bool m_stopping = false;
};
