#pragma once

#include <QList>
#include <QObject>

class QTcpSocket;
class QTimer;

// A client of the broadcast service. A reader reads everything at once and checks the numbered
// broadcasts it gets: each number once, in rising order. One that never reads lets what the
// server sends pile up on the server's side, until the server closes it as a slow reader. Both
// send a byte now and then, as a listener must to stay connected.
class BroadcastReader : public QObject
{
    Q_OBJECT

public:
    // Numbers first .. last, both included.
    struct Range
    {
        quint32 first = 0;
        quint32 last = 0;
        bool operator==(const Range &other) const
        {
            return first == other.first && last == other.last;
        }
    };

    BroadcastReader(quint16 port, bool reads, QObject *parent = nullptr);

    quint32 next() const { return m_next; } // one past the highest number received
    bool isConnected() const;
    const QList<Range> &gaps() const { return m_gaps; } // numbers skipped
    // Empty when sound; otherwise what is wrong. `end` is one past the last number emitted; a
    // gap is allowed only as the tail of a range that was on its way when the device was
    // unplugged.
    QString judge(quint32 end, const QList<Range> &lostWithDevice) const;

Q_SIGNALS:
    void connected();
    void progressed(); // broadcasts arrived

private:
    void takeLine(const QByteArray &line);

    QTcpSocket *m_socket = nullptr;
    QTimer *m_keepAlive = nullptr;
    QByteArray m_input;
    quint32 m_next = 0;
    QList<Range> m_gaps;
    qint64 m_outOfOrder = 0; // repeated, or older than one before
    qint64 m_foreign = 0; // lines that are no numbered broadcast
};
