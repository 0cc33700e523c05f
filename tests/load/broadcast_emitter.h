#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>

class BroadcastReader;
class QTimer;
class SimulatedDevice;

// Makes the device send numbered broadcasts at a steady rate, but never more than a window
// ahead of the slowest reader, so that a reader that reads is never held for a slow
// one (the server closes a client with 1 MiB unsent). Clients that never read fall further
// behind with every broadcast, which is what they are for. Nothing is sent while the device
// is unplugged.
class BroadcastEmitter : public QObject
{
    Q_OBJECT

public:
    static constexpr int IntervalMs = 5;
    // A late timer shot makes up for the time lost, but never for more than this: a pause
    // does not turn into a burst.
    static constexpr int MaxCatchUpMs = 50;
    static constexpr quint32 Window = 1500; // broadcasts ahead of the slowest reader

    BroadcastEmitter(SimulatedDevice &device, const QList<BroadcastReader *> &readers,
        int perSecond, QObject *parent = nullptr);

    void start();
    // quiet() follows, from the event loop, once every reader has every broadcast sent.
    void pause();
    void stop() { pause(); }
    void resume();

    quint32 emitted() const { return m_next; } // one past the last number sent
    quint32 slowestReader() const; // the lowest next number due at a connected reader
    qint64 emittedBytes() const { return m_bytes; } // as lines on one broadcast connection

Q_SIGNALS:
    void quiet();

private:
    void emitBatch();
    void checkQuiet();

    SimulatedDevice &m_device;
    QList<BroadcastReader *> m_readers;
    QTimer *m_timer = nullptr;
    int m_perSecond = 0;
    double m_credit = 0; // broadcasts due and not yet sent
    QElapsedTimer m_sinceShot;
    quint32 m_next = 0;
    qint64 m_bytes = 0;
    bool m_paused = false;
};
