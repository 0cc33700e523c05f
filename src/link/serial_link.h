#pragma once

#include "core/frame_reader.h"

#include <QObject>
#include <QSerialPort>
#include <QString>

struct ServerState;
class Clock;
class PortMap;
class QTimer;

// The serial port of the device: opens a numbered port with the device's line
// settings, writes frames, and appends every arriving byte to InpStr, which it
// reads as frames at once. It closes the port by itself when the device goes
// away and says so with deviceLost(). It never reopens a port on its own: that
// is the search's job.
//
// An incomplete frame waits for its bytes only while they keep coming: a timer,
// running only while something waits, reads the buffer again once the line has
// been quiet for the frame gap. An answer frame that began before the latest
// request was written is dropped as it is read. A port starts with an empty
// buffer. While the search owns the port, broadcast frames are not the device's
// (it has yet to answer the probe) and are dropped.
class SerialLink : public QObject
{
    Q_OBJECT

public:
    SerialLink(
        ServerState &state, const PortMap &ports, const Clock &clock, QObject *parent = nullptr);

    // Closes the port first, then opens port `number` at 57600 8N1 with no flow
    // control and DTR on, with an empty receive buffer. False with the system's
    // error text when it does not open; a path that does not exist fails before
    // the port is touched.
    bool open(int number, QString *error = nullptr);
    void close();
    bool isOpen() const;
    // The number last opened (0 before the first open), also after a close.
    int portNumber() const { return m_number; }
    // The device path of the number last opened.
    QString portPath() const;
    // The device path that port number `number` names.
    QString pathOf(int number) const;
    // The port numbers a search tries, ascending.
    QList<int> searchNumbers() const;

    // Successful opens so far: a port reopened since a reading was taken is another line.
    quint64 openCount() const { return m_openCount; }

    // Writes a request frame; what the buffer holds now answers nothing. A failure is
    // ignored (a transaction then runs into its time-out).
    void write(const QByteArray &bytes);

    // Housekeeping: where the port reports its pinout signals, DSR going from on
    // to off means the device went away. Ports that report none are left alone.
    void checkDsr();

Q_SIGNALS:
    // A complete answer frame's message, read in the pass its last byte arrived in (or the
    // frame gap ended in); never one that began before the latest request.
    void answerReceived(const QByteArray &message);
    // The messages of complete broadcast frames, in the order they arrived, one
    // after another (each as long as its header says).
    void broadcastsReceived(const QByteArray &messages);
    // New bytes were appended to InpStr and its frames read.
    void bytesArrived();
    // The port was closed because the device went away.
    void deviceLost(const QString &reason);

private:
    void readData();
    void readFrames();
    void dispatch(const FrameReader::Batch &batch);
    void logSpan(const FrameReader::Batch &batch, const ReceiveBuffer::Span &span, bool stale);
    void scheduleGapEnd();
    void handleError(QSerialPort::SerialPortError error);
    void loseDevice(const QString &reason);
    void requestLowLatency();

    ServerState &m_state;
    const PortMap &m_ports;
    const Clock &m_clock;
    QSerialPort *m_port = nullptr;
    QTimer *m_gapTimer = nullptr; // runs while an incomplete frame waits
    FrameReader m_reader; // reads InpStr
    FrameReader::Batch m_batch; // the reading being handed out; its room stays for the next
    int m_number = 0;
    quint64 m_openCount = 0;
    bool m_reading = false; // frames are being handed out
    bool m_readAgain = false; // bytes came or the gap ended while they were
    bool m_dsrWasOn = false; // DSR seen on since the open; only a drop from on is a loss
    bool m_reportsPinout = true; // the open port reports its pinout signals (ptys do not)
};
