#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

// Runs asynchronous steps one after the other without a nested event loop: each step gets a
// `next` to call when it is done. Every step starts from the event loop, never inside the
// previous step's call stack.
class StepSequence : public QObject
{
    Q_OBJECT

public:
    using Next = std::function<void()>;
    using Step = std::function<void(Next next)>;

    explicit StepSequence(QObject *parent = nullptr);

    void add(const QString &name, Step step);
    void start();
    // The steps not yet begun are dropped; finished() follows at once.
    void abort();
    QString currentStep() const { return m_current; }

Q_SIGNALS:
    void stepStarted(const QString &name);
    void finished();

private:
    void runNext();

    QList<std::pair<QString, Step>> m_steps;
    QString m_current;
    quint64 m_generation = 0; // a `next` of an aborted run does nothing
};
