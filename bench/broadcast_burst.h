#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

#include <chrono>

class ChildProgram;
class DeviceClient;
class QTimer;

// A burst of numbered broadcasts: written to the simulator at once, as raw frames, and timed
// until every receiver has every one. Each receiver must see every number once and in order.
class BroadcastBurst : public QObject
{
    Q_OBJECT

public:
    struct Result
    {
        qint64 elapsedUs = 0;
        QString error; // a broadcast lost or out of order, or the time ran out
    };

    // Broadcasts first .. first + count - 1 from `simulator` (qx-sim) to `receivers`.
    BroadcastBurst(const QList<DeviceClient *> &receivers, ChildProgram &simulator, quint32 first,
        int count, QObject *parent = nullptr);

    // finished() follows, also when `timeout` passes first.
    void start(std::chrono::milliseconds timeout);

Q_SIGNALS:
    void finished(const BroadcastBurst::Result &result);

private:
    void take(quint32 &next, const QByteArray &message);
    void finish(const QString &error = QString());

    ChildProgram &m_simulator;
    QList<quint32> m_next; // per receiver: the number due next
    quint32 m_first = 0;
    quint32 m_end = 0; // one past the last number
    qsizetype m_receiversDone = 0;
    QElapsedTimer m_clock;
    QTimer *m_timeout = nullptr;
    bool m_running = false;
};
