#pragma once

#include <QList>
#include <QObject>
#include <QStringList>

#include <chrono>
#include <functional>

class QTimer;

// Named steps of a tool's run, one at a time on the event loop. A step begins with its function
// and ends with next() (once: later calls do nothing). A failure, by fail() or a step past its
// time limit, is recorded and skips to the last step, the one that ends the programs, which
// always runs; a failure in it ends the run. finished() follows the last step.
//
// What only the running step uses is made with scope() as its parent, or as the context of its
// connections: it goes when the step ends, so that nothing of an ended step ends another one.
class StepRun : public QObject
{
    Q_OBJECT

public:
    // `program` names the tool in the progress lines on standard error.
    explicit StepRun(const QString &program, QObject *parent = nullptr);

    void add(const QString &name, std::function<void()> begin) { add(name, {}, std::move(begin)); }
    // A time limit of 0: as long as the step takes.
    void add(const QString &name, std::chrono::milliseconds limit, std::function<void()> begin);
    void start();
    void next();
    void fail(const QString &reason);
    // A progress line: "program: text".
    void say(const QString &text) const;

    QObject *scope() const { return m_scope; }
    const QStringList &failures() const { return m_failures; }

Q_SIGNALS:
    void finished();

private:
    struct Step
    {
        QString name;
        std::function<void()> begin;
        std::chrono::milliseconds limit;
    };

    void runStep();

    QString m_program;
    QList<Step> m_steps; // those still to run
    QString m_name; // of the running step, or the one that ran last
    bool m_running = false; // a step has begun and not yet ended
    QObject *m_scope = nullptr; // renewed per step
    QTimer *m_limit = nullptr;
    QStringList m_failures;
};
