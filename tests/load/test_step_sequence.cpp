// Asynchronous steps one after the other, without a nested event loop.

#include "step_sequence.h"

#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

class TestStepSequence : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void runsStepsInOrderFromTheEventLoop();
    void advancesOnceWhenAStepCallsNextTwice();
    void dropsTheRestWhenAborted();
};

void TestStepSequence::runsStepsInOrderFromTheEventLoop()
{
    StepSequence steps;
    QStringList log;
    int depth = 0;
    for (const QString &name : { QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c") }) {
        steps.add(name, [&log, &depth, name](StepSequence::Next next) {
            log << QStringLiteral("%1@%2").arg(name).arg(depth);
            ++depth;
            next(); // the next step must not start inside this call
            --depth;
        });
    }
    QSignalSpy finished(&steps, &StepSequence::finished);
    steps.start();
    QVERIFY(log.isEmpty());
    QVERIFY(finished.wait());
    QCOMPARE(log, QStringList({ "a@0", "b@0", "c@0" }));
}

void TestStepSequence::advancesOnceWhenAStepCallsNextTwice()
{
    StepSequence steps;
    int second = 0;
    steps.add(QStringLiteral("twice"), [](StepSequence::Next next) {
        StepSequence::Next copy = next;
        next();
        copy();
    });
    steps.add(QStringLiteral("second"), [&second](StepSequence::Next next) {
        ++second;
        QTimer::singleShot(10, next);
    });
    QSignalSpy finished(&steps, &StepSequence::finished);
    steps.start();
    QVERIFY(finished.wait());
    QCOMPARE(second, 1);
    QCOMPARE(finished.size(), 1);
}

void TestStepSequence::dropsTheRestWhenAborted()
{
    StepSequence steps;
    bool laterRan = false;
    StepSequence::Next pending;
    steps.add(QStringLiteral("waits"), [&pending](StepSequence::Next next) { pending = next; });
    steps.add(QStringLiteral("later"), [&laterRan](StepSequence::Next next) {
        laterRan = true;
        next();
    });
    QSignalSpy started(&steps, &StepSequence::stepStarted);
    QSignalSpy finished(&steps, &StepSequence::finished);
    steps.start();
    QVERIFY(started.wait());
    steps.abort();
    QVERIFY(finished.wait());
    pending(); // a step that ends after the abort changes nothing
    // Queued calls run in order: once this one has run, a wrongly queued step would have too.
    bool flushed = false;
    QTimer::singleShot(0, this, [&flushed] { flushed = true; });
    QTRY_VERIFY(flushed);
    QVERIFY(!laterRan);
    QCOMPARE(finished.size(), 1);
}

QTEST_MAIN(TestStepSequence)
#include "test_step_sequence.moc"
