// The serial side on a real pseudo-terminal from the simulator: the port, the transaction
// with its time limits and late-answer guard, and the device search. A manual clock stands in
// for time.

#include "core/clock.h"
#include "core/settings_store.h"
#include "core/stored_settings.h"
#include "core/string_table.h"
#include "link/interface_search.h"
#include "link/serial_link.h"
#include "link/transaction.h"
#include "support/recording_presentation.h"
#include "support/sim_fixture.h"

#include <QLoggingCategory>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <fcntl.h>
#include <memory>
#include <termios.h>
#include <unistd.h>

namespace {

QByteArray H(const char *hex)
{
    return QByteArray::fromHex(hex);
}

// The device plugged in as port `devicePort` (0: under no number), and the link to it.
struct Rig
{
    explicit Rig(int devicePort = 2, const PortMap *ports = nullptr)
        : sim(devicePort)
        , link(state, ports ? *ports : sim.ports(), clock)
    { }

    SimFixture sim;
    ServerState state;
    ManualClock clock;
    SerialLink link;
    Transaction transaction { state, link, clock };
    SettingsStore settings { sim.filePath(QStringLiteral("settings.ini")) };
    RecordingPresentation presentation;
    InterfaceSearch search { state, link, transaction, settings, presentation };

    // The answer handed to the caller; empty until it is.
    std::shared_ptr<QByteArray> send(const QByteArray &message)
    {
        auto answer = std::make_shared<QByteArray>();
        transaction.SendData(message, [answer](const QByteArray &bytes) { *answer = bytes; });
        return answer;
    }
    std::shared_ptr<int> searchDevice()
    {
        auto result = std::make_shared<int>(-1);
        search.InitInterface([result](int found) { *result = found; });
        return result;
    }
};

QStringList Captions(const QList<int> &numbers)
{
    QStringList captions;
    for (int number : numbers)
        captions << QStringLiteral("Suche Interface ... %1").arg(number);
    return captions;
}

} // namespace

class TestLink : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void opensWithTheDeviceLineSettings();
    void logsEachFrameOnALineOfItsOwn();
    void timeLimitAndLateAnswerGuard_data();
    void timeLimitAndLateAnswerGuard();
    void unplugEndsTheWaitAtOnceWithoutSpinning();
    void findsTheDevice_data();
    void findsTheDevice();
    void searchWithoutDeviceIsPromptAndLeavesNothingOpen();
    void searchTakesThePortOverAndCanBeCancelled();
};

void TestLink::opensWithTheDeviceLineSettings()
{
    Rig rig;
    QVERIFY2(rig.sim.isReady(), qPrintable(rig.sim.errorString()));
    QString error;
    QVERIFY(!rig.link.open(3, &error));
    QVERIFY2(error.contains(QStringLiteral("No such file")), qPrintable(error));
    QVERIFY2(rig.link.open(2, &error), qPrintable(error));
    // The line settings belong to the terminal, so a second descriptor sees them.
    const int fd = ::open(QFile::encodeName(rig.sim.linkPath()).constData(), O_RDWR | O_NOCTTY);
    termios settings {};
    QCOMPARE(::tcgetattr(fd, &settings), 0);
    ::close(fd);
    QCOMPARE(cfgetospeed(&settings), speed_t(B57600));
    QCOMPARE(settings.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));
    rig.link.checkDsr(); // a pty reports no DSR: the port stays open
    QVERIFY(rig.link.isOpen());
}

// The frame log: a line for each request written, each frame read and each run of noise, however
// the bytes came.
void TestLink::logsEachFrameOnALineOfItsOwn()
{
    Rig rig;
    QVERIFY(rig.sim.isReady() && rig.link.open(2));
    rig.sim.device().setSilent(true);
    QLoggingCategory::setFilterRules(QStringLiteral("qx.frames.debug=true"));
    for (const char *line : { ">> FF FE 01 07 06", "noise: 01 02", "<< FF FD 61 02 63",
             "<< FF FE 01 07 06", "noise: FF FE 61" })
        QTest::ignoreMessage(QtDebugMsg, line);
    const auto answer = rig.send(H("010706"));
    QSignalSpy requests(&rig.sim.device(), &SimulatedDevice::requestReceived);
    QVERIFY(requests.wait());
    rig.sim.device().sendRaw(H("0102FFFD610263FFFE010706FFFE61"));
    QTRY_COMPARE(*answer, H("010706"));
    rig.clock.advanceMs(100);
    QTRY_VERIFY(rig.state.InpStr.isEmpty());
    QLoggingCategory::setFilterRules(QString());
}

// A request times out exactly at its limit (60 s if programming mode was on when it was written);
// then the next request waits until the late answer has come and gone, the guard's second is up,
// or the port is another line.
void TestLink::timeLimitAndLateAnswerGuard_data()
{
    QTest::addColumn<bool>("progModeAtWrite");
    QTest::addColumn<int>("limit"); // ms after the write
    QTest::addColumn<QString>("guardEnd");
    QTest::addColumn<int>("guardMs"); // time spent in the guard before its end
    QTest::newRow("2,000 ms, then a late answer") << false << 2000 << "late answer" << 0;
    QTest::newRow("programming mode: 60,000 ms, a late answer near the guard's end")
        << true << 60000 << "late answer" << 999;
    QTest::newRow("the guard's second is up") << false << 2000 << "time" << 999;
    QTest::newRow("the port reopened") << false << 2000 << "reopen" << 0;
}

void TestLink::timeLimitAndLateAnswerGuard()
{
    QFETCH(bool, progModeAtWrite);
    QFETCH(int, limit);
    QFETCH(QString, guardEnd);
    QFETCH(int, guardMs);
    Rig rig;
    QVERIFY(rig.sim.isReady() && rig.link.open(2));
    SimulatedDevice &device = rig.sim.device();
    device.setSilent(true);
    QSignalSpy requests(&device, &SimulatedDevice::requestReceived);
    QSignalSpy broadcasts(&rig.link, &SerialLink::broadcastsReceived);
    rig.state.ProgMode = progModeAtWrite;
    const auto first = rig.send(H("2181A0"));
    rig.state.ProgMode = !progModeAtWrite; // a later change does not change the limit
    QVERIFY(requests.wait());
    rig.clock.advanceMs(limit - 1);
    device.sendBroadcast(H("42010241")); // read while waiting; no answer
    QVERIFY(broadcasts.wait());
    QVERIFY(first->isEmpty());
    rig.clock.advanceMs(1);
    QTRY_COMPARE(*first, H("010100"));

    const auto second = rig.send(H("010706"));
    rig.clock.advanceMs(guardMs);
    QVERIFY(!requests.wait(100)); // held back while the guard holds
    device.setSilent(false);
    if (guardEnd == "late answer") {
        device.sendRaw(H("FFFE2181A0"));
    } else if (guardEnd == "time") {
        rig.clock.advanceMs(1);
    } else {
        rig.link.close();
        QVERIFY(rig.link.open(2));
    }
    QTRY_COMPARE(*second, H("010706"));
    QCOMPARE(requests.count(), 2);
}

// A device lost mid-wait ends the wait at once, also the 60 s wait of programming mode.
void TestLink::unplugEndsTheWaitAtOnceWithoutSpinning()
{
    Rig rig;
    QVERIFY(rig.sim.isReady() && rig.link.open(2));
    rig.sim.device().setSilent(true);
    QSignalSpy errors(rig.link.findChild<QSerialPort *>(), &QSerialPort::errorOccurred);
    QSignalSpy lost(&rig.link, &SerialLink::deviceLost);
    QSignalSpy requests(&rig.sim.device(), &SimulatedDevice::requestReceived);
    rig.state.ProgMode = true;
    const auto answer = rig.send(H("010706"));
    QVERIFY(requests.wait());

    rig.sim.device().unplug();
    QVERIFY(lost.wait());
    QVERIFY(!rig.link.isOpen());
    QTRY_COMPARE(*answer, H("010100")); // the clock never moved
    QVERIFY(!rig.state.WaitAnswer);
    // A hung-up port that stayed open would report again on every loop pass.
    int passes = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&passes] { ++passes; });
    ticker.start(0);
    QTRY_VERIFY(passes >= 200);
    QCOMPARE(errors.count(), 1);
}

void TestLink::findsTheDevice_data()
{
    QTest::addColumn<int>("devicePort");
    QTest::addColumn<QString>("stored"); // "LCP"; null: none
    QTest::addColumn<QByteArray>("wrongAnswer"); // of a device on port 1 that is not ours
    QTest::addColumn<QStringList>("announced");
    QTest::addColumn<QString>("storedAfter");

    QTest::newRow("stored port holds the device: no search")
        << 5 << "5" << QByteArray() << Captions({}) << "5";
    QTest::newRow("stored port wrong: search from 1 stops at the device")
        << 2 << "5" << QByteArray() << Captions({ 1, 2 }) << "2";
    QTest::newRow("stored port out of range")
        << 1 << "31" << QByteArray() << Captions({ 1 }) << "1";
    QTest::newRow("61 82 with another check byte is no probe answer, nor that port's broadcast a "
                  "broadcast")
        << 2 << QString() << H("FFFD610263FFFE6182E2") << Captions({ 1, 2 }) << "2";
    // Its probe runs into the time limit; the piece stays with port 1.
    QTest::newRow("the start of a frame from another port hides nothing")
        << 2 << QString() << H("FFFD0F01") << Captions({ 1, 2 }) << "2";
}

void TestLink::findsTheDevice()
{
    QFETCH(int, devicePort);
    QFETCH(QString, stored);
    QFETCH(QByteArray, wrongAnswer);
    Rig rig(devicePort);
    SimFixture other(0);
    QVERIFY(rig.sim.isReady() && other.isReady());
    if (!stored.isNull())
        rig.settings.WriteKeyValue(QString::fromLatin1(SettingsKey), QStringLiteral("LCP"),
            SettingValue::fromText(stored), ValueTypeString);
    if (!wrongAnswer.isEmpty()) {
        rig.sim.ports().setPath(1, other.linkPath());
        other.device().setSilent(true);
        connect(&other.device(), &SimulatedDevice::requestReceived, this, [&] {
            other.device().sendRaw(wrongAnswer);
            if (wrongAnswer.size() < 5) // no whole answer frame: the probe waits 2,000 ms
                rig.clock.advanceMs(2000);
        });
    }

    QSignalSpy broadcasts(&rig.link, &SerialLink::broadcastsReceived);
    const auto result = rig.searchDevice();
    QCOMPARE(rig.state.Link, LinkState::Searching);
    QTRY_COMPARE(*result, InterfaceSearch::Found);
    QCOMPARE(rig.link.portNumber(), devicePort);
    QCOMPARE(rig.state.Link, LinkState::Idle);
    QTEST(rig.presentation.captions, "announced");
    QTEST(QString::number(StoredPort(rig.settings)), "storedAfter");
    const auto answer = rig.send(H("010706")); // the port left open is the device's
    QTRY_COMPARE(*answer, H("010706"));
    QCOMPARE(broadcasts.count(), 0); // a port that is not the device's has none
}

void TestLink::searchWithoutDeviceIsPromptAndLeavesNothingOpen()
{
    // Pinned to ports 2 and 5, of which 5 is a port that exists but is no device.
    Rig wrong(0);
    PortMap ports;
    ports.setPath(2, wrong.sim.filePath(QStringLiteral("missing")));
    ports.setPath(5, wrong.sim.linkPath());
    Rig rig(0, &ports);
    QVERIFY(rig.sim.isReady() && wrong.sim.isReady());
    wrong.sim.device().setSilent(true);
    StorePort(rig.settings, 7);

    const auto result = rig.searchDevice();
    QSignalSpy requests(&wrong.sim.device(), &SimulatedDevice::requestReceived);
    QVERIFY(requests.wait());
    rig.clock.advanceMs(2000); // port 5's probe times out
    QTRY_COMPARE(*result, InterfaceSearch::NotFound);
    QVERIFY(!rig.link.isOpen());
    QCOMPARE(rig.presentation.captions, Captions({ 2, 5 })); // never 7, nor any other
    QCOMPARE(StoredPort(rig.settings), 7);
}

void TestLink::searchTakesThePortOverAndCanBeCancelled()
{
    Rig rig(4);
    QVERIFY(rig.sim.isReady() && rig.link.open(4));
    rig.sim.device().setSilent(true);
    QSignalSpy requests(&rig.sim.device(), &SimulatedDevice::requestReceived);
    const auto pending = rig.send(H("2181A0"));
    QVERIFY(requests.wait());
    // The clock never moves: the open transaction could only end by the take-over.
    const auto result = rig.searchDevice();
    QTRY_COMPARE(*pending, H("010100"));
    QTRY_COMPARE(requests.count(), 2); // the search probes port 4
    rig.search.cancel();
    QTRY_COMPARE(*result, InterfaceSearch::NotFound);
    QVERIFY(!rig.link.isOpen());
    const int captions = rig.presentation.captions.size();
    QVERIFY(!requests.wait(100)); // nothing more is probed or shown
    QCOMPARE(rig.presentation.captions.size(), captions);
}

QTEST_GUILESS_MAIN(TestLink)
#include "test_link.moc"
