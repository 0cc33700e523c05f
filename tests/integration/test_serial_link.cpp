#include "core/receive_buffer.h"
#include "core/server_state.h"
#include "link/serial_link.h"
#include "support/sim_fixture.h"

#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

class TestSerialLink : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void opensWithTheDeviceLineSettings();
    void openFailsWithTheSystemsText();
    void openClosesThePortFirst();
    void readsArrivalsAsFrames_data();
    void readsArrivalsAsFrames();
    void writesOnlyWhileOpen();
    void unplugClosesOnceWithoutSpinning();
    void dsrCheckLeavesAPortWithoutPinoutOpen();
};

namespace {

constexpr int DevicePort = 4;

// Counts the port's reports of a vanished device, however the link reacts.
int CountLossReports(const QList<QList<QVariant>> &errors)
{
    int count = 0;
    for (const QList<QVariant> &arguments : errors) {
        const auto error = arguments.at(0).value<QSerialPort::SerialPortError>();
        if (error == QSerialPort::ReadError || error == QSerialPort::ResourceError)
            ++count;
    }
    return count;
}

} // namespace

void TestSerialLink::opensWithTheDeviceLineSettings()
{
    SimFixture sim(DevicePort);
    QVERIFY2(sim.isReady(), qPrintable(sim.errorString()));
    ServerState state;
    SerialLink link(state, sim.ports());

    QString error;
    QVERIFY2(link.open(DevicePort, &error), qPrintable(error));
    QVERIFY(link.isOpen());
    QCOMPARE(link.portNumber(), DevicePort);
    QCOMPARE(link.portPath(), sim.linkPath());

    // The line settings belong to the terminal, so a second descriptor sees them.
    const int fd = ::open(QFile::encodeName(sim.linkPath()).constData(), O_RDWR | O_NOCTTY);
    QVERIFY(fd >= 0);
    termios settings {};
    const int result = ::tcgetattr(fd, &settings);
    ::close(fd);
    QCOMPARE(result, 0);
    QCOMPARE(cfgetispeed(&settings), speed_t(B57600));
    QCOMPARE(cfgetospeed(&settings), speed_t(B57600));
    QCOMPARE(settings.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(settings.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(settings.c_iflag & (IXON | IXOFF), tcflag_t(0));
}

void TestSerialLink::openFailsWithTheSystemsText()
{
    SimFixture sim(DevicePort);
    QVERIFY2(sim.isReady(), qPrintable(sim.errorString()));
    ServerState state;
    SerialLink link(state, sim.ports());

    QString error;
    QVERIFY(!link.open(DevicePort + 1, &error));
    QVERIFY(!link.isOpen());
    QVERIFY2(
        error.contains(QStringLiteral("No such file"), Qt::CaseInsensitive), qPrintable(error));
}

void TestSerialLink::openClosesThePortFirst()
{
    SimFixture sim(DevicePort);
    QVERIFY2(sim.isReady(), qPrintable(sim.errorString()));
    ServerState state;
    SerialLink link(state, sim.ports());

    QVERIFY(link.open(DevicePort));
    QVERIFY(!link.open(DevicePort + 1));
    QVERIFY(!link.isOpen());
    // Closed for real: the same port opens again (an open port would be locked).
    QVERIFY(link.open(DevicePort));
}

void TestSerialLink::readsArrivalsAsFrames_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("arriving");
    QTest::addColumn<QByteArrayList>("answers");
    QTest::addColumn<QByteArrayList>("broadcasts");
    QTest::addColumn<QByteArray>("after");

    const QByteArray broadcast = QByteArray::fromHex("FFFD42010241");
    QTest::newRow("arrival completes the frame that waits")
        << QByteArray::fromHex("FFFE01") << QByteArray::fromHex("0706AA")
        << QByteArrayList { QByteArray::fromHex("010706") } << QByteArrayList {} << QByteArray();
    QTest::newRow("noise goes, a last FF waits")
        << QByteArray() << QByteArray::fromHex("00FF1234FF") << QByteArrayList {}
        << QByteArrayList {} << QByteArray::fromHex("FF");
    QTest::newRow("broadcasts in the order they came")
        << QByteArray() << QByteArray::fromHex("FFFD610263FFFD00AB") << QByteArrayList {}
        << QByteArrayList { QByteArray::fromHex("610263"), QByteArray::fromHex("00AB") }
        << QByteArray();
    QTest::newRow("a full buffer of noise never costs a frame")
        << QByteArray(Protocol::ReceiveBufferCap, '\x11') << broadcast << QByteArrayList {}
        << QByteArrayList { broadcast.mid(2) } << QByteArray();
}

void TestSerialLink::readsArrivalsAsFrames()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, arriving);
    QFETCH(QByteArrayList, answers);
    QFETCH(QByteArrayList, broadcasts);
    QFETCH(QByteArray, after);
    SimFixture sim(DevicePort);
    QVERIFY2(sim.isReady(), qPrintable(sim.errorString()));
    ServerState state;
    state.InpStr = before;
    SerialLink link(state, sim.ports());
    QVERIFY(link.open(DevicePort));
    QSignalSpy arrived(&link, &SerialLink::bytesArrived);
    QByteArrayList answered;
    QByteArrayList broadcast;
    connect(&link, &SerialLink::answerReceived, this,
        [&answered](const QByteArray &message) { answered << message; });
    connect(&link, &SerialLink::broadcastReceived, this,
        [&broadcast](const QByteArray &message) { broadcast << message; });

    sim.device().sendRaw(arriving);

    QVERIFY(arrived.wait());
    QTRY_COMPARE(state.InpStr, after);
    QTRY_COMPARE(broadcast, broadcasts);
    QCOMPARE(answered, answers);
}

void TestSerialLink::writesOnlyWhileOpen()
{
    SimFixture sim(DevicePort);
    QVERIFY2(sim.isReady(), qPrintable(sim.errorString()));
    ServerState state;
    SerialLink link(state, sim.ports());
    QSignalSpy requests(&sim.device(), &SimulatedDevice::requestReceived);

    link.write(QByteArray::fromHex("FFFE010706")); // closed: goes nowhere
    QVERIFY(link.open(DevicePort));
    link.write(QByteArray::fromHex("FFFE42010241"));

    QVERIFY(requests.wait());
    QCOMPARE(sim.device().requests(), QList<QByteArray> { QByteArray::fromHex("42010241") });
}

void TestSerialLink::unplugClosesOnceWithoutSpinning()
{
    SimFixture sim(DevicePort);
    QVERIFY2(sim.isReady(), qPrintable(sim.errorString()));
    ServerState state;
    SerialLink link(state, sim.ports());
    QVERIFY(link.open(DevicePort));
    auto *port = link.findChild<QSerialPort *>();
    QVERIFY(port);
    QSignalSpy errors(port, &QSerialPort::errorOccurred);
    QSignalSpy lost(&link, &SerialLink::deviceLost);

    sim.device().unplug();

    QVERIFY(lost.wait());
    QVERIFY(!link.isOpen());
    QVERIFY(!lost.at(0).at(0).toString().isEmpty());
    // A hung-up port that stayed open would report again on every loop pass.
    int passes = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&passes] { ++passes; });
    ticker.start(0);
    QTRY_VERIFY(passes >= 200);
    QCOMPARE(CountLossReports(errors), 1);
    QCOMPARE(lost.count(), 1);
}

void TestSerialLink::dsrCheckLeavesAPortWithoutPinoutOpen()
{
    SimFixture sim(DevicePort);
    QVERIFY2(sim.isReady(), qPrintable(sim.errorString()));
    ServerState state;
    SerialLink link(state, sim.ports());
    QVERIFY(link.open(DevicePort));
    QSignalSpy lost(&link, &SerialLink::deviceLost);

    link.checkDsr();
    link.checkDsr();

    QVERIFY(link.isOpen());
    QCOMPARE(lost.count(), 0);
}

QTEST_GUILESS_MAIN(TestSerialLink)
#include "test_serial_link.moc"
