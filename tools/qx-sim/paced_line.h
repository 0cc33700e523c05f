#pragma once

#include <QElapsedTimer>
#include <QObject>

#include <deque>

class QTimer;
class SimulatedDevice;

// A serial line of a given baud rate between the simulated device and its pty (qx-sim --baud):
// the device's bytes reach the reader no faster than an 8N1 line would deliver them, ten bits a
// byte, one write after the other, and an answer starts only once its request would have
// arrived. Installed as the device's output hook; what is still on the line when the device is
// unplugged is lost with it.
class PacedLine : public QObject
{
    Q_OBJECT

public:
    PacedLine(SimulatedDevice &device, int baud, QObject *parent = nullptr);

    void send(const QByteArray &bytes, qsizetype requestBytes);

private:
    // Bytes that start on the line at startUs.
    struct Chunk
    {
        QByteArray bytes;
        qint64 startUs = 0;
        qsizetype released = 0; // bytes handed to the pty already
    };

    void release();
    qint64 nowUs() const { return m_clock.nsecsElapsed() / 1000; }
    qint64 lineTimeUs(qint64 bytes) const;

    SimulatedDevice &m_device;
    int m_baud = 0;
    QTimer *m_timer = nullptr; // the next byte's time
    QElapsedTimer m_clock;
    std::deque<Chunk> m_chunks;
    qint64 m_lineFreeUs = 0; // when the line has delivered its last queued byte
};
