#include "child_program.h"

#include <QDir>
#include <QFile>
#include <QTimer>

#include <csignal>
#include <sys/prctl.h>

namespace {

std::optional<QByteArray> ReadProcFile(qint64 pid, const QString &name)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(name));
    if (pid <= 0 || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

} // namespace

ChildProgram::ChildProgram(QObject *parent)
    : QObject(parent)
    , m_process(new QProcess(this))
    , m_killTimer(new QTimer(this))
{
    m_process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_killTimer->setSingleShot(true);
    connect(m_killTimer, &QTimer::timeout, this, [this] {
        m_killed = true;
        m_process->kill();
    });
    connect(m_process, &QProcess::readyReadStandardOutput, this,
        [this] { readStream(QProcess::StandardOutput); });
    connect(m_process, &QProcess::readyReadStandardError, this,
        [this] { readStream(QProcess::StandardError); });
    connect(m_process, &QProcess::finished, this, &ChildProgram::handleFinished);
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        m_startError = m_process->errorString();
        handleFinished();
    });
}

ChildProgram::~ChildProgram()
{
    if (!isRunning())
        return;
    // Nobody hears of this end: the receivers may be going too.
    disconnect(m_process, nullptr, this, nullptr);
    ::kill(pid_t(pid()), SIGTERM);
    if (!m_process->waitForFinished(int(std::chrono::milliseconds(StopTimeout).count())))
        m_process->kill(); // and QProcess waits for it
}

void ChildProgram::start(
    const QString &program, const QStringList &arguments, const QProcessEnvironment &environment)
{
    m_killed = false;
    m_startError.clear();
    m_process->setProcessEnvironment(environment);
    m_process->start(program, arguments);
}

void ChildProgram::write(const QByteArray &bytes)
{
    m_process->write(bytes);
}

void ChildProgram::closeInput()
{
    m_process->closeWriteChannel();
}

void ChildProgram::terminate()
{
    if (!isRunning() || m_killTimer->isActive())
        return;
    ::kill(pid_t(pid()), SIGTERM);
    m_killTimer->start(StopTimeout);
}

void ChildProgram::waitForLine(
    const QRegularExpression &pattern, std::chrono::milliseconds timeout, LineDone done)
{
    auto *timer = new QTimer(this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, [this, timer] {
        for (qsizetype i = 0; i < m_waiters.size(); ++i) {
            if (m_waiters.at(i).timeout == timer) {
                endWaiter(i, std::nullopt);
                return;
            }
        }
    });
    m_waiters.append({ pattern, std::move(done), timer });
    if (isRunning())
        timer->start(timeout);
    else
        endWaiter(m_waiters.size() - 1, std::nullopt);
}

void ChildProgram::waitForExit(std::function<void()> done)
{
    if (isRunning())
        connect(this, &ChildProgram::finished, this, done, Qt::SingleShotConnection);
    else
        QTimer::singleShot(0, this, done);
}

void ChildProgram::readStream(QProcess::ProcessChannel channel)
{
    const bool output = channel == QProcess::StandardOutput;
    QByteArray &partial = m_partial[output ? 0 : 1];
    partial += output ? m_process->readAllStandardOutput() : m_process->readAllStandardError();
    qsizetype end;
    while ((end = partial.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(partial.left(end)).trimmed();
        partial.remove(0, end + 1);
        takeLine(line, output ? m_output : m_error);
    }
}

void ChildProgram::takeLine(const QString &line, QStringList &kept)
{
    kept.append(line);
    if (kept.size() > KeptLines)
        kept.removeFirst();
    Q_EMIT lineRead(line);
    for (qsizetype i = m_waiters.size() - 1; i >= 0; --i) {
        if (line.contains(m_waiters.at(i).pattern))
            endWaiter(i, line);
    }
}

void ChildProgram::endWaiter(qsizetype index, const std::optional<QString> &line)
{
    Waiter waiter = m_waiters.takeAt(index);
    waiter.timeout->deleteLater();
    // From the event loop: the caller may go on to delete this program.
    QTimer::singleShot(0, this, [done = waiter.done, line] { done(line); });
}

void ChildProgram::handleFinished()
{
    m_killTimer->stop();
    // A last line without its line end still counts.
    readStream(QProcess::StandardOutput);
    readStream(QProcess::StandardError);
    for (int stream = 0; stream < 2; ++stream) {
        if (!m_partial[stream].isEmpty())
            takeLine(QString::fromUtf8(std::exchange(m_partial[stream], {})).trimmed(),
                stream == 0 ? m_output : m_error);
    }
    while (!m_waiters.isEmpty())
        endWaiter(0, std::nullopt);
    Q_EMIT finished();
}

std::optional<int> ChildProgram::exitStatus() const
{
    if (isRunning() || !m_startError.isEmpty() || m_killed
        || m_process->exitStatus() != QProcess::NormalExit)
        return std::nullopt;
    return m_process->exitCode();
}

QString ChildProgram::endDescription() const
{
    if (!m_startError.isEmpty())
        return QStringLiteral("did not start: ") + m_startError;
    if (isRunning())
        return QStringLiteral("running");
    if (m_killed)
        return QStringLiteral("killed: no end within %1 s of SIGTERM").arg(StopTimeout.count());
    if (const std::optional<int> status = exitStatus())
        return QStringLiteral("exit status %1").arg(*status);
    return QStringLiteral("crashed");
}

std::optional<qint64> ChildProgram::cpuNanoseconds() const
{
    const qint64 id = pid();
    const QStringList threads = id <= 0 ? QStringList()
                                        : QDir(QStringLiteral("/proc/%1/task").arg(id))
                                              .entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (threads.isEmpty())
        return std::nullopt;
    qint64 sum = 0;
    for (const QString &thread : threads) {
        // "run time, wait time, time slices"; a thread that has ended meanwhile counts nothing.
        const std::optional<QByteArray> text
            = ReadProcFile(id, QStringLiteral("task/%1/schedstat").arg(thread));
        if (!text)
            continue;
        bool ok = false;
        sum += text->left(text->indexOf(' ')).toLongLong(&ok);
        if (!ok)
            return std::nullopt;
    }
    return sum;
}

std::optional<qint64> ChildProgram::residentBytes() const
{
    const std::optional<QByteArray> text = ReadProcFile(pid(), QStringLiteral("status"));
    if (!text)
        return std::nullopt;
    for (const QByteArray &line : text->split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() == 3 && parts.at(0) == "VmRSS:" && parts.at(2) == "kB")
            return parts.at(1).toLongLong() * 1024;
    }
    return std::nullopt;
}
