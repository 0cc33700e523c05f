#include "sim_process.h"

#include "child_process.h"

#include <QProcess>
#include <QTimer>

SimProcess::SimProcess(const QString &program, const QStringList &arguments, QObject *parent)
    : QObject(parent)
    , m_process(new QProcess(this))
    , m_killTimer(new QTimer(this))
    , m_program(program)
    , m_arguments(arguments)
{
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    EndWithParent(m_process);
    m_killTimer->setSingleShot(true);
    m_killTimer->setInterval(StopTimeout);
    connect(m_killTimer, &QTimer::timeout, m_process, &QProcess::kill);
    connect(m_process, &QProcess::finished, this, [this] {
        m_killTimer->stop();
        Q_EMIT stopped();
    });
    connect(m_process, &QProcess::readyReadStandardOutput, this, &SimProcess::readOutput);
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError) {
        Q_EMIT failed(m_program + QStringLiteral(": ") + m_process->errorString());
    });
}

// QProcess kills a simulator that still runs when it is destroyed.
SimProcess::~SimProcess() = default;

void SimProcess::start()
{
    m_process->start(m_program, m_arguments);
}

void SimProcess::send(const QByteArray &commands)
{
    m_process->write(commands);
}

void SimProcess::stop()
{
    if (m_process->state() == QProcess::NotRunning) {
        QTimer::singleShot(0, this, &SimProcess::stopped);
        return;
    }
    // End of input ends the simulator, which removes its link on the way out.
    m_process->closeWriteChannel();
    m_killTimer->start();
}

void SimProcess::readOutput()
{
    m_output += m_process->readAllStandardOutput();
    qsizetype end;
    while ((end = m_output.indexOf('\n')) >= 0) {
        const QByteArray line = m_output.left(end).trimmed();
        m_output.remove(0, end + 1);
        if (line.startsWith("pty: ")) {
            m_ptyPath = QString::fromLocal8Bit(line.mid(5));
            Q_EMIT ready(m_ptyPath);
        }
    }
}
