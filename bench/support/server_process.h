#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QString>

#include <chrono>

class QTcpSocket;
class QTimer;

// qx-server under measurement, as a process of its own: headless, its device on port 1, both
// services on loopback ports chosen free. ready() follows once the command service accepts a
// connection (the services listen only after the device has been found); finished() tells how
// the process ended, and is emitted for an end nobody asked for too.
class ServerProcess : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::seconds StartTimeout { 20 };
    static constexpr std::chrono::seconds StopTimeout { 10 };
    static constexpr std::chrono::milliseconds ProbeInterval { 20 };

    struct Setup
    {
        QString program;
        QString devicePath; // serial port 1
        QString settingsFile;
        QString logFile; // standard output and error
        quint16 commandPort = 0;
        quint16 broadcastPort = 0;
    };

    explicit ServerProcess(QObject *parent = nullptr);
    ~ServerProcess() override;

    void start(const Setup &setup);
    // SIGTERM, then finished(); SIGKILL after StopTimeout (reported as crashed).
    void terminate();

    qint64 pid() const { return m_process->processId(); }
    bool isRunning() const { return m_process->state() != QProcess::NotRunning; }
    const Setup &setup() const { return m_setup; }
    // Milliseconds from start() to ready().
    qint64 startMilliseconds() const { return m_startMs; }

Q_SIGNALS:
    void ready();
    void failed(const QString &reason);
    void finished(int exitCode, bool crashed);

private:
    void probe();
    void handleFinished(int exitCode, QProcess::ExitStatus status);

    QProcess *m_process = nullptr;
    QTimer *m_probeTimer = nullptr;
    QTimer *m_killTimer = nullptr;
    QTcpSocket *m_probe = nullptr;
    Setup m_setup;
    QElapsedTimer m_started;
    qint64 m_startMs = 0;
    bool m_ready = false;
    bool m_killed = false; // SIGKILL after SIGTERM went unanswered
};

// A loopback TCP port that is free now (the kernel's pick; taken back at once).
quint16 FreeLoopbackPort();
