#include "step_run.h"

#include <QTimer>

#include <cstdio>

StepRun::StepRun(const QString &program, QObject *parent)
    : QObject(parent)
    , m_program(program)
    , m_scope(new QObject(this))
    , m_limit(new QTimer(this))
{
    m_limit->setSingleShot(true);
    connect(m_limit, &QTimer::timeout, this,
        [this] { fail(m_name + QStringLiteral(": not done in time")); });
}

void StepRun::add(const QString &name, std::chrono::milliseconds limit, std::function<void()> begin)
{
    m_steps.append({ name, std::move(begin), limit });
}

void StepRun::start()
{
    QTimer::singleShot(0, this, &StepRun::runStep);
}

void StepRun::next()
{
    // From the event loop: the caller may be a signal of what the next step deletes.
    if (std::exchange(m_running, false))
        QTimer::singleShot(0, this, &StepRun::runStep);
}

void StepRun::fail(const QString &reason)
{
    if (!m_running)
        return;
    m_failures.append(reason);
    say(QStringLiteral("FAIL: ") + reason);
    next();
}

void StepRun::say(const QString &text) const
{
    std::fprintf(stderr, "%s: %s\n", qPrintable(m_program), qPrintable(text));
}

void StepRun::runStep()
{
    delete m_scope;
    m_scope = new QObject(this);
    m_limit->stop();
    if (!m_failures.isEmpty() && m_steps.size() > 1)
        m_steps = m_steps.mid(m_steps.size() - 1);
    if (m_steps.isEmpty()) {
        Q_EMIT finished();
        return;
    }
    const Step step = m_steps.takeFirst();
    m_name = step.name;
    m_running = true;
    say(step.name);
    if (step.limit.count() > 0)
        m_limit->start(step.limit);
    step.begin();
}
