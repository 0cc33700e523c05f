#include "step_sequence.h"

#include <QTimer>

#include <memory>

StepSequence::StepSequence(QObject *parent)
    : QObject(parent)
{ }

void StepSequence::add(const QString &name, Step step)
{
    m_steps.append({ name, std::move(step) });
}

void StepSequence::start()
{
    QTimer::singleShot(0, this, &StepSequence::runNext);
}

void StepSequence::abort()
{
    ++m_generation;
    m_steps.clear();
    QTimer::singleShot(0, this, &StepSequence::finished);
}

void StepSequence::runNext()
{
    if (m_steps.isEmpty()) {
        m_current.clear();
        Q_EMIT finished();
        return;
    }
    auto [name, step] = m_steps.takeFirst();
    m_current = name;
    Q_EMIT stepStarted(name);
    const quint64 generation = m_generation;
    // Copies of `next` share one flag: a step that calls it twice still advances once.
    auto called = std::make_shared<bool>(false);
    step([this, generation, called] {
        if (*called || generation != m_generation)
            return;
        *called = true;
        QTimer::singleShot(0, this, &StepSequence::runNext);
    });
}
