#include "server_process.h"

#include "child_process.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <csignal>

ServerProcess::ServerProcess(QObject *parent)
    : QObject(parent)
    , m_process(new QProcess(this))
    , m_probeTimer(new QTimer(this))
    , m_killTimer(new QTimer(this))
{
    m_probeTimer->setInterval(ProbeInterval);
    m_probeTimer->setSingleShot(true);
    connect(m_probeTimer, &QTimer::timeout, this, &ServerProcess::probe);
    m_killTimer->setInterval(StopTimeout);
    m_killTimer->setSingleShot(true);
    connect(m_killTimer, &QTimer::timeout, this, [this] {
        m_killed = true;
        m_process->kill();
    });
    connect(m_process, &QProcess::finished, this, &ServerProcess::handleFinished);
    EndWithParent(m_process);
}

// QProcess kills a process that still runs when it is destroyed.
ServerProcess::~ServerProcess() = default;

void ServerProcess::start(const Setup &setup)
{
    m_setup = setup;
    m_ready = false;
    m_killed = false;
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    if (!setup.logFile.isEmpty())
        m_process->setStandardOutputFile(setup.logFile);
    m_process->setStandardInputFile(QProcess::nullDevice());
    m_process->start(setup.program,
        { QStringLiteral("--headless"), QStringLiteral("--settings"), setup.settingsFile,
            QStringLiteral("--port"), QStringLiteral("1=") + setup.devicePath,
            QStringLiteral("--command-port"), QString::number(setup.commandPort),
            QStringLiteral("--broadcast-port"), QString::number(setup.broadcastPort),
            QStringLiteral("--listen"), QStringLiteral("127.0.0.1") });
    m_started.start();
    m_probeTimer->start();
}

void ServerProcess::terminate()
{
    m_probeTimer->stop();
    if (!isRunning())
        return;
    ::kill(pid_t(pid()), SIGTERM);
    m_killTimer->start();
}

void ServerProcess::probe()
{
    if (m_ready || !isRunning())
        return;
    if (m_started.elapsed() > std::chrono::milliseconds(StartTimeout).count()) {
        Q_EMIT failed(QStringLiteral("the command service did not listen within %1 s")
                          .arg(StartTimeout.count()));
        return;
    }
    // One attempt at a time; a refused attempt waits for the next timer shot.
    m_probe = new QTcpSocket(this);
    connect(m_probe, &QTcpSocket::connected, this, [this, socket = m_probe] {
        socket->abort();
        socket->deleteLater();
        m_ready = true;
        m_startMs = m_started.elapsed();
        Q_EMIT ready();
    });
    connect(m_probe, &QTcpSocket::errorOccurred, this, [this, socket = m_probe] {
        socket->deleteLater();
        m_probeTimer->start();
    });
    m_probe->connectToHost(QHostAddress::LocalHost, m_setup.commandPort);
}

void ServerProcess::handleFinished(int exitCode, QProcess::ExitStatus status)
{
    m_probeTimer->stop();
    m_killTimer->stop();
    Q_EMIT finished(exitCode, status == QProcess::CrashExit || m_killed);
}

quint16 FreeLoopbackPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort();
}
