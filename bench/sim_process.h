#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>

class QProcess;
class QTimer;

// qx-sim as a process of its own, as a real device would be: ready() gives the pty path it
// printed; commands ("broadcast HEX", "silent on", ...) go to its standard input, which stays
// open for as long as the simulator should run.
class SimProcess : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::seconds StopTimeout { 5 };

    SimProcess(const QString &program, const QStringList &arguments, QObject *parent = nullptr);
    ~SimProcess() override;

    void start();
    // Lines of commands, each ended by a line feed.
    void send(const QByteArray &commands);
    // Ends the simulator: stopped() follows (at once when it does not run).
    void stop();
    const QString &ptyPath() const { return m_ptyPath; }

Q_SIGNALS:
    void ready(const QString &ptyPath);
    void failed(const QString &reason);
    void stopped();

private:
    void readOutput();

    QProcess *m_process = nullptr;
    QTimer *m_killTimer = nullptr; // a simulator that ignores the end of its input
    QString m_program;
    QStringList m_arguments;
    QByteArray m_output;
    QString m_ptyPath;
};
