#include "core/clock.h"
#include "core/receive_buffer.h"
#include "core/server_state.h"
#include "link/serial_link.h"
#include "link/transaction.h"
#include "support/sim_fixture.h"

#include <QByteArrayList>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <memory>

namespace {

constexpr int DevicePort = 2;

QByteArray Hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// What a transaction handed to its caller, and when.
struct Outcome
{
    int calls = 0;
    QByteArray answer;
};

// One device, its link and a transaction on a manual clock.
struct Rig
{
    SimFixture sim { DevicePort };
    ServerState state;
    ManualClock clock;
    SerialLink link { state, sim.ports() };
    Transaction transaction { state, link, clock };

    bool open() { return sim.isReady() && link.open(DevicePort); }

    std::shared_ptr<Outcome> send(const QByteArray &message)
    {
        auto outcome = std::make_shared<Outcome>();
        transaction.SendData(message, [outcome](const QByteArray &answer) {
            ++outcome->calls;
            outcome->answer = answer;
        });
        return outcome;
    }
};

} // namespace

class TestTransaction : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void answersFromTheDevice_data();
    void answersFromTheDevice();
    void answerArrivingByteByByte();
    void staleFramesAndBroadcasts_data();
    void staleFramesAndBroadcasts();
    void strayAnswerNeverReachesTheNextCaller_data();
    void strayAnswerNeverReachesTheNextCaller();
    void timeLimit_data();
    void timeLimit();
    void lateAnswerGuard_data();
    void lateAnswerGuard();
    void closedPortAnswersTimeoutAtOnce();
    void unplugEndsWithTimeoutWithoutSpinning();
    void abortCompletesAtOnceAndFreesThePort();
    void secondRequestWhileOneIsOpenIsRefused();
};

void TestTransaction::answersFromTheDevice_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("answer");

    QTest::newRow("probe") << Hex("F20203F3") << Hex("6182E3");
    QTest::newRow("echo with data") << Hex("2181A0") << Hex("2181A0");
    QTest::newRow("header 00 gives a two-byte answer") << Hex("0000") << Hex("0000");
    QTest::newRow("fifteen data bytes")
        << Hex("0F0102030405060708090A0B0C0D0E0F00") << Hex("0F0102030405060708090A0B0C0D0E0F00");
}

void TestTransaction::answersFromTheDevice()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);
    Rig rig;
    QVERIFY2(rig.open(), qPrintable(rig.sim.errorString()));

    const auto outcome = rig.send(request);

    QVERIFY(rig.state.WaitAnswer);
    QVERIFY(rig.transaction.isOpen());
    QTRY_COMPARE(outcome->calls, 1);
    QCOMPARE(outcome->answer, answer);
    QVERIFY(!rig.state.WaitAnswer);
    QVERIFY(!rig.transaction.isOpen());
    QCOMPARE(rig.sim.device().requests(), QList<QByteArray> { request });
    QCOMPARE(rig.state.InpStr, QByteArray());
}

void TestTransaction::answerArrivingByteByByte()
{
    Rig rig;
    QVERIFY2(rig.open(), qPrintable(rig.sim.errorString()));
    rig.sim.device().setSilent(true);
    QSignalSpy arrived(&rig.link, &SerialLink::bytesArrived);
    const QByteArray frame = Hex("FFFE42010241");

    const auto outcome = rig.send(Hex("42010241"));
    for (char byte : frame.chopped(1)) {
        rig.sim.device().sendRaw(QByteArray(1, byte));
        QVERIFY(arrived.wait());
    }
    QCOMPARE(rig.state.InpStr, frame.chopped(1));
    QCOMPARE(outcome->calls, 0);
    QVERIFY(rig.state.WaitAnswer);

    rig.sim.device().sendRaw(frame.right(1));

    QTRY_COMPARE(outcome->calls, 1);
    QCOMPARE(outcome->answer, Hex("42010241"));
}

void TestTransaction::staleFramesAndBroadcasts_data()
{
    QTest::addColumn<QByteArray>("before"); // InpStr when the request is written
    QTest::addColumn<QByteArray>("arriving"); // from the device after the request
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArrayList>("broadcasts");

    QTest::newRow("noise before the answer")
        << QByteArray() << Hex("AABBFFFE010706") << Hex("010706") << QByteArrayList {};
    QTest::newRow("piece of an answer before a broadcast is noise")
        << QByteArray() << Hex("FFFE010706FFFE61FFFD42010241") << Hex("010706")
        << QByteArrayList { Hex("42010241") };
    QTest::newRow("a second answer frame answers nothing")
        << QByteArray() << Hex("FFFE010706FFFE010405") << Hex("010706") << QByteArrayList {};
    QTest::newRow("answer frame already there answers nothing")
        << Hex("FFFE42010241") << Hex("FFFE010706") << Hex("010706") << QByteArrayList {};
    QTest::newRow("piece of an old answer goes, the broadcast after it is read")
        << Hex("FFFE61FFFD010203") << Hex("FFFE010706") << Hex("010706")
        << QByteArrayList { Hex("010203") };
    QTest::newRow("broadcast with FF FE in its data while the answer is awaited")
        << QByteArray() << Hex("FFFD43FFFE5A18FFFE010706") << Hex("010706")
        << QByteArrayList { Hex("43FFFE5A18") };
}

void TestTransaction::staleFramesAndBroadcasts()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, arriving);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArrayList, broadcasts);
    Rig rig;
    QVERIFY2(rig.open(), qPrintable(rig.sim.errorString()));
    rig.sim.device().setSilent(true);
    rig.state.InpStr = before;
    QSignalSpy requests(&rig.sim.device(), &SimulatedDevice::requestReceived);
    QByteArrayList received;
    connect(&rig.link, &SerialLink::broadcastReceived, this,
        [&received](const QByteArray &message) { received << message; });

    const auto outcome = rig.send(Hex("010706"));
    QVERIFY(requests.wait());
    rig.sim.device().sendRaw(arriving);

    QTRY_COMPARE(outcome->calls, 1);
    QCOMPARE(outcome->answer, answer);
    QCOMPARE(received, broadcasts);
    QCOMPARE(rig.state.InpStr, QByteArray());
}

void TestTransaction::strayAnswerNeverReachesTheNextCaller_data()
{
    QTest::addColumn<bool>("firstAnswered");
    QTest::addColumn<QByteArray>("stray");

    QTest::newRow("answer arriving after its time-out") << false << Hex("FFFE2181A0");
    QTest::newRow("extra answer frame after a good answer") << true << Hex("FFFE010405");
}

void TestTransaction::strayAnswerNeverReachesTheNextCaller()
{
    QFETCH(bool, firstAnswered);
    QFETCH(QByteArray, stray);
    Rig rig;
    QVERIFY2(rig.open(), qPrintable(rig.sim.errorString()));
    SimulatedDevice &device = rig.sim.device();
    device.setSilent(!firstAnswered);
    QSignalSpy arrived(&rig.link, &SerialLink::bytesArrived);

    const auto first = rig.send(Hex("2181A0"));
    if (!firstAnswered)
        rig.clock.advanceMs(Protocol::AnswerLimit.count());
    QTRY_COMPARE(first->calls, 1);
    QCOMPARE(first->answer, firstAnswered ? Hex("2181A0") : Protocol::TimeoutAnswer());

    arrived.clear();
    device.sendRaw(stray);
    QVERIFY(arrived.wait());
    device.setSilent(false);

    for (const QByteArray &request : { Hex("F20203F3"), Hex("42010241"), Hex("010706") }) {
        const auto next = rig.send(request);
        QTRY_COMPARE(next->calls, 1);
        QCOMPARE(next->answer, request == Hex("F20203F3") ? Hex("6182E3") : request);
    }
    QCOMPARE(rig.state.InpStr, QByteArray());
}

void TestTransaction::timeLimit_data()
{
    QTest::addColumn<bool>("progModeAtStart");
    QTest::addColumn<bool>("progModeDuringWait");
    QTest::addColumn<int>("notEnough"); // milliseconds after the write
    QTest::addColumn<int>("enough");

    QTest::newRow("1,999 ms are not enough, 2,000 ms are") << false << false << 1999 << 2000;
    QTest::newRow("programming mode: 59,999 ms are not enough, 60,000 ms are")
        << true << true << 59999 << 60000;
    QTest::newRow("programming mode ending during the wait keeps 60 s")
        << true << false << 59999 << 60000;
    QTest::newRow("programming mode beginning during the wait keeps 2 s")
        << false << true << 1999 << 2000;
}

void TestTransaction::timeLimit()
{
    QFETCH(bool, progModeAtStart);
    QFETCH(bool, progModeDuringWait);
    QFETCH(int, notEnough);
    QFETCH(int, enough);
    Rig rig;
    QVERIFY2(rig.open(), qPrintable(rig.sim.errorString()));
    rig.sim.device().setSilent(true);
    rig.state.ProgMode = progModeAtStart;
    QSignalSpy broadcasts(&rig.link, &SerialLink::broadcastReceived);

    const auto outcome = rig.send(Hex("010706"));
    rig.state.ProgMode = progModeDuringWait;
    rig.clock.advanceMs(notEnough);
    // Read while the answer is awaited; a broadcast is no answer.
    rig.sim.device().sendRaw(Hex("FFFD42010241"));
    QVERIFY(broadcasts.wait());
    QCOMPARE(outcome->calls, 0);
    QVERIFY(rig.state.WaitAnswer);

    rig.clock.advanceMs(enough - notEnough);

    QTRY_COMPARE(outcome->calls, 1);
    QCOMPARE(outcome->answer, Protocol::TimeoutAnswer());
    QVERIFY(!rig.state.WaitAnswer);
    QCOMPARE(rig.transaction.state(), Transaction::State::LateAnswerGuard);
}

// After a time-out the line is guarded: the next request waits until the late answer has come
// and gone, or until the guard's time is up, or until the port is another line.
void TestTransaction::lateAnswerGuard_data()
{
    QTest::addColumn<QString>("event"); // what ends the guard while the next request is held
    QTest::addColumn<int>("guardMs"); // time spent in the guard before it

    QTest::newRow("late answer") << "late answer" << 0;
    QTest::newRow("late answer near the guard's end") << "late answer" << 999;
    QTest::newRow("guard's time up without a late answer") << "time" << 999;
    QTest::newRow("port reopened") << "reopen" << 0;
}

void TestTransaction::lateAnswerGuard()
{
    QFETCH(QString, event);
    QFETCH(int, guardMs);
    Rig rig;
    QVERIFY2(rig.open(), qPrintable(rig.sim.errorString()));
    SimulatedDevice &device = rig.sim.device();
    device.setSilent(true);
    QSignalSpy requests(&device, &SimulatedDevice::requestReceived);

    const auto first = rig.send(Hex("2181A0"));
    QVERIFY(requests.wait());
    rig.clock.advanceMs(Protocol::AnswerLimit.count());
    QTRY_COMPARE(first->calls, 1);
    QCOMPARE(first->answer, Protocol::TimeoutAnswer());

    const auto second = rig.send(Hex("010706"));
    QVERIFY(rig.state.WaitAnswer);
    rig.clock.advanceMs(guardMs);
    QVERIFY(!requests.wait(100)); // held back: the guard still holds
    QCOMPARE(requests.count(), 1);

    device.setSilent(false);
    if (event == "late answer") {
        device.sendRaw(Hex("FFFE2181A0"));
    } else if (event == "time") {
        rig.clock.advanceMs(1);
    } else if (event == "reopen") {
        rig.link.close();
        QVERIFY(rig.link.open(DevicePort));
    }
    QTRY_COMPARE(second->calls, 1);
    QCOMPARE(second->answer, Hex("010706"));
    QCOMPARE(requests.count(), 2);
    QCOMPARE(rig.transaction.state(), Transaction::State::Idle);
}

void TestTransaction::closedPortAnswersTimeoutAtOnce()
{
    Rig rig;
    QVERIFY2(rig.sim.isReady(), qPrintable(rig.sim.errorString()));
    rig.state.InpStr = Hex("FFFE42010241");

    const auto outcome = rig.send(Hex("2181A0"));

    // Decided before SendData returns; handed over from the event loop.
    QVERIFY(!rig.state.WaitAnswer);
    QVERIFY(!rig.transaction.isOpen());
    QCOMPARE(outcome->calls, 0);
    QTRY_COMPARE(outcome->calls, 1);
    QCOMPARE(outcome->answer, Protocol::TimeoutAnswer());
    QCOMPARE(rig.state.InpStr, Hex("FFFE42010241"));

    // Nothing was written: the device's first request is the next one.
    QVERIFY(rig.open());
    const auto next = rig.send(Hex("010706"));
    QTRY_COMPARE(next->calls, 1);
    QCOMPARE(rig.sim.device().requests(), QList<QByteArray> { Hex("010706") });
}

void TestTransaction::unplugEndsWithTimeoutWithoutSpinning()
{
    Rig rig;
    QVERIFY2(rig.open(), qPrintable(rig.sim.errorString()));
    rig.sim.device().setSilent(true);
    auto *port = rig.link.findChild<QSerialPort *>();
    QVERIFY(port);
    QSignalSpy errors(port, &QSerialPort::errorOccurred);
    QSignalSpy lost(&rig.link, &SerialLink::deviceLost);
    QSignalSpy requests(&rig.sim.device(), &SimulatedDevice::requestReceived);

    const auto outcome = rig.send(Hex("010706"));
    QVERIFY(requests.wait());
    rig.sim.device().unplug();
    QVERIFY(lost.wait());
    QVERIFY(!rig.link.isOpen());
    // Still open: only the time limit ends it.
    int passes = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&passes] { ++passes; });
    ticker.start(0);
    QTRY_VERIFY(passes >= 200);
    QCOMPARE(outcome->calls, 0);
    QVERIFY(rig.state.WaitAnswer);

    rig.clock.advanceMs(Protocol::AnswerLimit.count());

    QTRY_COMPARE(outcome->calls, 1);
    QCOMPARE(outcome->answer, Protocol::TimeoutAnswer());
    QCOMPARE(lost.count(), 1);
    int lossReports = 0;
    for (const QList<QVariant> &arguments : errors) {
        const auto error = arguments.at(0).value<QSerialPort::SerialPortError>();
        lossReports += error == QSerialPort::ReadError || error == QSerialPort::ResourceError;
    }
    QCOMPARE(lossReports, 1);
}

void TestTransaction::abortCompletesAtOnceAndFreesThePort()
{
    Rig rig;
    QVERIFY2(rig.open(), qPrintable(rig.sim.errorString()));
    rig.sim.device().setSilent(true);
    QSignalSpy requests(&rig.sim.device(), &SimulatedDevice::requestReceived);

    const auto aborted = rig.send(Hex("010706"));
    QVERIFY(requests.wait());
    rig.transaction.abort();

    QVERIFY(!rig.state.WaitAnswer);
    QVERIFY(!rig.transaction.isOpen());
    rig.sim.device().setSilent(false);
    const auto next = rig.send(Hex("F20203F3"));
    QTRY_COMPARE(aborted->calls, 1);
    QCOMPARE(aborted->answer, Protocol::TimeoutAnswer());
    QTRY_COMPARE(next->calls, 1);
    QCOMPARE(next->answer, Hex("6182E3"));
}

void TestTransaction::secondRequestWhileOneIsOpenIsRefused()
{
#ifndef QT_NO_DEBUG
    QSKIP("the refusal asserts in debug builds");
#endif
    Rig rig;
    QVERIFY2(rig.open(), qPrintable(rig.sim.errorString()));
    rig.sim.device().setAnswerDelay(50);
    QSignalSpy answers(&rig.sim.device(), &SimulatedDevice::answerSent);

    const auto first = rig.send(Hex("2181A0"));
    const auto second = rig.send(Hex("010706"));

    QVERIFY(rig.state.WaitAnswer);
    QTRY_COMPARE(second->calls, 1);
    QCOMPARE(second->answer, Protocol::TimeoutAnswer());
    QTRY_COMPARE(first->calls, 1);
    QCOMPARE(first->answer, Hex("2181A0"));
    QCOMPARE(rig.sim.device().requests(), QList<QByteArray> { Hex("2181A0") });
}

QTEST_GUILESS_MAIN(TestTransaction)
#include "test_transaction.moc"
