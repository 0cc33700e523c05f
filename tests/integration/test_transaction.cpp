#include "core/clock.h"
#include "core/server_state.h"
#include "link/receive_buffer.h"
#include "link/serial_link.h"
#include "link/transaction.h"
#include "support/sim_fixture.h"

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
    void answerFromInpStrWithoutArrival();
    void answerArrivingByteByByte();
    void cutsAndCleansUp_data();
    void cutsAndCleansUp();
    void strayAnswerNeverReachesTheNextCaller_data();
    void strayAnswerNeverReachesTheNextCaller();
    void timeLimit_data();
    void timeLimit();
    void answerWinsInThePassThatTimesOut();
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

void TestTransaction::answerFromInpStrWithoutArrival()
{
    Rig rig;
    QVERIFY2(rig.open(), qPrintable(rig.sim.errorString()));
    rig.sim.device().setSilent(true);

    const auto outcome = rig.send(Hex("010706"));
    // Put there by nobody but the test: only the transaction's own timer finds it.
    rig.state.InpStr += Hex("FFFE42010241");

    QTRY_COMPARE(outcome->calls, 1);
    QCOMPARE(outcome->answer, Hex("42010241"));
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

void TestTransaction::cutsAndCleansUp_data()
{
    QTest::addColumn<QByteArray>("before"); // InpStr when the request is written
    QTest::addColumn<QByteArray>("arriving"); // from the device after the request
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("after"); // InpStr once the answer is cut

    QTest::newRow("bytes before the answer stay")
        << QByteArray() << Hex("AABBFFFE010706") << Hex("010706") << Hex("AABB");
    QTest::newRow("piece of an answer before a broadcast goes up to the broadcast")
        << QByteArray() << Hex("FFFE010706FFFE61FFFD42010241") << Hex("010706")
        << Hex("FFFD42010241");
    QTest::newRow("complete answer behind the first one stays for now")
        << QByteArray() << Hex("FFFE010706FFFE010405") << Hex("010706") << Hex("FFFE010405");
    QTest::newRow("answer frame already there answers nothing")
        << Hex("FFFE42010241") << Hex("FFFE010706") << Hex("010706") << QByteArray();
    QTest::newRow("piece of an old answer goes, the broadcast after it stays")
        << Hex("FFFE61FFFD010203") << Hex("FFFE010706") << Hex("010706") << Hex("FFFD010203");
    QTest::newRow("broadcast already there stays")
        << Hex("FFFD010203") << Hex("FFFE010706") << Hex("010706") << Hex("FFFD010203");
}

void TestTransaction::cutsAndCleansUp()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, arriving);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, after);
    Rig rig;
    QVERIFY2(rig.open(), qPrintable(rig.sim.errorString()));
    rig.sim.device().setSilent(true);
    rig.state.InpStr = before;
    QSignalSpy requests(&rig.sim.device(), &SimulatedDevice::requestReceived);

    const auto outcome = rig.send(Hex("010706"));
    QVERIFY(requests.wait());
    rig.sim.device().sendRaw(arriving);

    QTRY_COMPARE(outcome->calls, 1);
    QCOMPARE(outcome->answer, answer);
    QCOMPARE(rig.state.InpStr, after);
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

    const auto first = rig.send(Hex("2181A0"));
    if (!firstAnswered)
        rig.clock.advance(Transaction::AnswerLimitSeconds);
    QTRY_COMPARE(first->calls, 1);
    QCOMPARE(first->answer, firstAnswered ? Hex("2181A0") : ReceiveBuffer::TimeoutAnswer());

    device.sendRaw(stray);
    QTRY_VERIFY(rig.state.InpStr.endsWith(stray));
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
    QTest::addColumn<int>("notEnough"); // seconds
    QTest::addColumn<int>("enough");

    QTest::newRow("1 s is not enough, 2 s are") << false << false << 1 << 2;
    QTest::newRow("programming mode: 59 s are not enough, 60 s are") << true << true << 59 << 60;
    QTest::newRow("programming mode ending during the wait keeps 60 s")
        << true << false << 59 << 60;
    QTest::newRow("programming mode beginning during the wait keeps 2 s")
        << false << true << 1 << 2;
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
    QSignalSpy arrived(&rig.link, &SerialLink::bytesArrived);
    const QByteArray broadcast = Hex("FFFD42010241");

    const auto outcome = rig.send(Hex("010706"));
    rig.state.ProgMode = progModeDuringWait;
    rig.clock.advance(notEnough);
    // An arrival runs a pass at once; the broadcast is no answer.
    rig.sim.device().sendRaw(broadcast);
    QVERIFY(arrived.wait());
    QCOMPARE(outcome->calls, 0);
    QVERIFY(rig.state.WaitAnswer);

    rig.clock.advance(enough - notEnough);

    QTRY_COMPARE(outcome->calls, 1);
    QCOMPARE(outcome->answer, ReceiveBuffer::TimeoutAnswer());
    QVERIFY(!rig.state.WaitAnswer);
    QCOMPARE(rig.state.InpStr, broadcast);
}

void TestTransaction::answerWinsInThePassThatTimesOut()
{
    Rig rig;
    QVERIFY2(rig.open(), qPrintable(rig.sim.errorString()));
    rig.sim.device().setSilent(true);

    const auto outcome = rig.send(Hex("010706"));
    // Both before the next pass: the limit has passed and the answer is there.
    rig.clock.advance(Transaction::AnswerLimitSeconds + 5);
    rig.state.InpStr += Hex("FFFE010706");

    QTRY_COMPARE(outcome->calls, 1);
    QCOMPARE(outcome->answer, Hex("010706"));
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
    QCOMPARE(outcome->answer, ReceiveBuffer::TimeoutAnswer());
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

    rig.clock.advance(Transaction::AnswerLimitSeconds);

    QTRY_COMPARE(outcome->calls, 1);
    QCOMPARE(outcome->answer, ReceiveBuffer::TimeoutAnswer());
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
    QCOMPARE(aborted->answer, ReceiveBuffer::TimeoutAnswer());
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
    QCOMPARE(second->answer, ReceiveBuffer::TimeoutAnswer());
    QTRY_COMPARE(first->calls, 1);
    QCOMPARE(first->answer, Hex("2181A0"));
    QCOMPARE(rig.sim.device().requests(), QList<QByteArray> { Hex("2181A0") });
}

QTEST_GUILESS_MAIN(TestTransaction)
#include "test_transaction.moc"
