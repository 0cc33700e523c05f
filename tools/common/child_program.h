#pragma once

#include <QObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>

class QTimer;

// A program under test (qx-server, qx-sim, qx-client) as a child process of the caller.
//
// Every line it writes, on standard output or standard error, is announced by lineRead() and
// kept (the last KeptLines of each stream). Nothing blocks: waitForLine() and waitForExit() call
// back from the event loop (a test can as well wait on the signals with QSignalSpy). terminate()
// ends it with SIGTERM, as a service manager would, and after StopTimeout with SIGKILL, which then
// counts as a failure to end. The child gets SIGTERM too when the caller dies, so that a crashed
// benchmark leaves no server behind that would take the next run's device.
//
//     ChildProgram server;
//     server.start(program, arguments);
//     server.waitForLine(ServerRunningLine, 20s, [&](const std::optional<QString> &line) { ... });
//     ...
//     server.terminate();
//     server.waitForExit([&] { report(server.endDescription()); });
class ChildProgram : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::seconds StopTimeout { 10 };
    static constexpr int KeptLines = 1000;

    using LineDone = std::function<void(const std::optional<QString> &line)>;

    explicit ChildProgram(QObject *parent = nullptr);
    // A child that still runs gets SIGTERM, and the destructor waits for its end (SIGKILL after
    // StopTimeout): killed outright, a server leaves its serial port's lock file behind.
    ~ChildProgram() override;

    void start(const QString &program, const QStringList &arguments,
        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
    // To its standard input (the simulator's commands).
    void write(const QByteArray &bytes);
    void closeInput();
    void terminate();

    // Calls `done` with the first line read from now on that `pattern` matches; with nothing when
    // the program ends or `timeout` passes first. Lines are read on the event loop only, so a
    // wait set up right after start() sees the program's first line.
    void waitForLine(
        const QRegularExpression &pattern, std::chrono::milliseconds timeout, LineDone done);
    // Calls `done` once the program has ended (soon, when it has already).
    void waitForExit(std::function<void()> done);

    bool isRunning() const { return m_process->state() != QProcess::NotRunning; }
    qint64 pid() const { return m_process->processId(); }
    const QStringList &outputLines() const { return m_output; }
    const QStringList &errorLines() const { return m_error; }

    // Its exit status once it has ended by itself or on SIGTERM; nothing while it runs, when it
    // crashed or had to be killed.
    std::optional<int> exitStatus() const;
    // "exit status N", "crashed", "killed: no end within 10 s of SIGTERM", "did not start: ...",
    // or "running".
    QString endDescription() const;

    // What the kernel says about the running child (from /proc): its CPU time in nanoseconds,
    // the run time the scheduler counts for each of its threads (task/*/schedstat; utime and
    // stime in stat count 10 ms ticks, too coarse for a burst of milliseconds; a thread that has
    // ended no longer counts), and its resident memory (VmRSS) in bytes.
    std::optional<qint64> cpuNanoseconds() const;
    std::optional<qint64> residentBytes() const;

Q_SIGNALS:
    void lineRead(const QString &line);
    void finished();

private:
    struct Waiter
    {
        QRegularExpression pattern;
        LineDone done;
        QTimer *timeout = nullptr;
    };

    void readStream(QProcess::ProcessChannel channel);
    void takeLine(const QString &line, QStringList &kept);
    void endWaiter(qsizetype index, const std::optional<QString> &line);
    void handleFinished();

    QProcess *m_process = nullptr;
    QTimer *m_killTimer = nullptr;
    QStringList m_output;
    QStringList m_error;
    QByteArray m_partial[2]; // per stream: text after its last line end
    QList<Waiter> m_waiters;
    QString m_startError;
    bool m_killed = false;
};
