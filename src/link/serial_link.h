#pragma once

#include <QObject>
#include <QSerialPort>
#include <QString>

struct ServerState;
class PortMap;

// The serial port of the device: opens a numbered port with the device's line
// settings, writes frames, and appends every arriving byte to InpStr. It closes
// the port by itself when the device goes away and says so with deviceLost().
// It never reopens a port on its own: that is the search's job.
class SerialLink : public QObject
{
    Q_OBJECT

public:
    static constexpr qint32 BaudRate = 57600;

    SerialLink(ServerState &state, const PortMap &ports, QObject *parent = nullptr);

    // Closes the port first, then opens port `number` at 57600 8N1 with no flow
    // control and DTR on. False with the system's error text when it does not
    // open; a path that does not exist fails before the port is touched.
    bool open(int number, QString *error = nullptr);
    void close();
    bool isOpen() const;
    // The number last opened (0 before the first open), also after a close.
    int portNumber() const { return m_number; }
    // The device path of the number last opened.
    QString portPath() const;
    // The device path that port number `number` names.
    QString pathOf(int number) const;

    // One write; a failure is ignored (a transaction then runs into its time-out).
    void write(const QByteArray &bytes);

    // Housekeeping: where the port reports its pinout signals, DSR going from on
    // to off means the device went away. Ports that report none are left alone.
    void checkDsr();

Q_SIGNALS:
    // New bytes were appended to InpStr (and the buffer's cap applied).
    void bytesArrived();
    // The port was closed because the device went away.
    void deviceLost(const QString &reason);

private:
    void readData();
    void handleError(QSerialPort::SerialPortError error);
    void loseDevice(const QString &reason);
    void requestLowLatency();

    ServerState &m_state;
    const PortMap &m_ports;
    QSerialPort *m_port = nullptr;
    int m_number = 0;
    bool m_dsrWasOn = false; // DSR seen on since the open; only a drop from on is a loss
    bool m_reportsPinout = true; // the open port reports its pinout signals (ptys do not)
};
