#include "core/clock.h"
#include "core/receive_buffer.h"
#include "core/server_state.h"
#include "core/settings_store.h"
#include "core/string_table.h"
#include "link/interface_search.h"
#include "link/serial_link.h"
#include "link/transaction.h"
#include "support/recording_presentation.h"
#include "support/sim_fixture.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <memory>

namespace {

constexpr int NoResult = -1;
const QString StoredPort = QStringLiteral("LCP");

// The device (plugged in as `devicePort`, 0: under no number) and a search
// with everything it needs.
struct Rig
{
    explicit Rig(int devicePort)
        : sim(devicePort)
    { }

    SimFixture sim;
    ServerState state;
    ManualClock clock;
    SerialLink link { state, sim.ports() };
    Transaction transaction { state, link, clock };
    SettingsStore settings { sim.filePath(QStringLiteral("settings.ini")) };
    RecordingPresentation presentation;
    InterfaceSearch search { state, link, transaction, settings, presentation };

    std::shared_ptr<int> start()
    {
        auto result = std::make_shared<int>(NoResult);
        search.InitInterface([result](int found) { *result = found; });
        return result;
    }
    void storePort(const QString &text)
    {
        if (!text.isNull())
            settings.WriteKeyValue(
                SettingsKey, StoredPort, SettingValue::fromText(text), ValueTypeString);
    }
    QString storedPort() const
    {
        return settings.ReadKeyValue(SettingsKey, StoredPort, QString()).toText();
    }
};

QStringList Captions(const QString &text, const QList<int> &numbers)
{
    QStringList captions;
    for (int number : numbers)
        captions << text + QStringLiteral(" ... ") + QString::number(number);
    return captions;
}

QList<int> Range(int first, int last)
{
    QList<int> numbers;
    for (int number = first; number <= last; ++number)
        numbers << number;
    return numbers;
}

} // namespace

class TestInterfaceSearch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();
    void findsTheDevice_data();
    void findsTheDevice();
    void rejectsWrongProbeAnswers_data();
    void rejectsWrongProbeAnswers();
    void fullSearchWithoutDeviceIsPrompt();
    void pinnedSearchTriesOnlyTheGivenPorts();
    void foundPortThatDoesNotOpenAgain();
    void secondSearchWhileOneRunsIsRefused();
    void searchTakesThePortOverFromAnOpenTransaction();
};

void TestInterfaceSearch::cleanup()
{
    Common::LangOffset = Common::German;
}

void TestInterfaceSearch::findsTheDevice_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<int>("devicePort");
    QTest::addColumn<QString>("stored"); // null: no value stored
    QTest::addColumn<QList<int>>("announced");
    QTest::addColumn<QString>("storedAfter");

    const QString none;
    QTest::newRow("stored port holds the device: no search")
        << Common::German << 5 << "5" << QList<int>() << "5";
    QTest::newRow("stored port wrong: search from 1 stops at the device")
        << Common::German << 2 << "5" << QList<int> { 1, 2 } << "2";
    QTest::newRow("stored port 31 is out of range")
        << Common::English << 3 << "31" << QList<int> { 1, 2, 3 } << "3";
    QTest::newRow("stored port -1 is out of range")
        << Common::German << 1 << "-1" << QList<int> { 1 } << "1";
    QTest::newRow("stored port abc is no number")
        << Common::English << 3 << "abc" << QList<int> { 1, 2, 3 } << "3";
    QTest::newRow("no stored port") << Common::German << 1 << none << QList<int> { 1 } << "1";
    QTest::newRow("stored 2.5 rounds to 2") << Common::German << 2 << "2.5" << QList<int>() << "2";
    QTest::newRow("device on the last port")
        << Common::English << 30 << "0" << Range(1, 30) << "30";
}

void TestInterfaceSearch::findsTheDevice()
{
    QFETCH(int, language);
    QFETCH(int, devicePort);
    QFETCH(QString, stored);
    QFETCH(QList<int>, announced);
    QFETCH(QString, storedAfter);
    Common::LangOffset = language;
    Rig rig(devicePort);
    QVERIFY2(rig.sim.isReady(), qPrintable(rig.sim.errorString()));
    rig.storePort(stored);

    const auto result = rig.start();
    QVERIFY(rig.search.isSearching());

    QTRY_COMPARE(*result, InterfaceSearch::Found);
    QVERIFY(!rig.search.isSearching());
    QVERIFY(rig.link.isOpen());
    QCOMPARE(rig.link.portNumber(), devicePort);
    QCOMPARE(rig.storedPort(), storedAfter);
    const QString text = language == Common::German ? QStringLiteral("Suche Interface")
                                                    : QStringLiteral("Searching interface");
    QCOMPARE(rig.presentation.captions, Captions(text, announced));
    QCOMPARE(rig.sim.device().requests(), QList<QByteArray> { Protocol::ProbeRequest() });
    // The port left open is the device's: a transaction goes through.
    auto answer = std::make_shared<QByteArray>();
    rig.transaction.SendData(
        QByteArray::fromHex("010706"), [answer](const QByteArray &bytes) { *answer = bytes; });
    QTRY_COMPARE(*answer, QByteArray::fromHex("010706"));
}

void TestInterfaceSearch::rejectsWrongProbeAnswers_data()
{
    QTest::addColumn<QByteArray>("answerFrame"); // empty: the device stays silent
    QTest::addColumn<QString>("stored");

    const QString none;
    QTest::newRow("time-out answer 01 01 00") << QByteArray::fromHex("FFFE010100") << none;
    QTest::newRow("61 82 with another check byte") << QByteArray::fromHex("FFFE6182E2") << none;
    QTest::newRow("longer answer beginning 61 82 E3")
        << QByteArray::fromHex("FFFE6282E300") << none;
    QTest::newRow("no answer at all") << QByteArray() << none;
    QTest::newRow("stored port with a wrong answer, then the search")
        << QByteArray::fromHex("FFFE010100") << "1";
}

void TestInterfaceSearch::rejectsWrongProbeAnswers()
{
    QFETCH(QByteArray, answerFrame);
    QFETCH(QString, stored);
    Rig rig(1); // the device that answers wrongly
    SimFixture good(0);
    QVERIFY2(rig.sim.isReady(), qPrintable(rig.sim.errorString()));
    QVERIFY2(good.isReady(), qPrintable(good.errorString()));
    rig.sim.ports().setPath(2, good.linkPath());
    rig.storePort(stored);
    SimulatedDevice &wrong = rig.sim.device();
    wrong.setSilent(true);
    connect(&wrong, &SimulatedDevice::requestReceived, &wrong, [&] {
        if (answerFrame.isEmpty())
            rig.clock.advanceMs(Protocol::AnswerLimit.count());
        else
            wrong.sendRaw(answerFrame);
    });

    const auto result = rig.start();

    QTRY_COMPARE(*result, InterfaceSearch::Found);
    QCOMPARE(rig.link.portNumber(), 2);
    QCOMPARE(rig.storedPort(), QStringLiteral("2"));
    QCOMPARE(rig.presentation.captions, Captions(QStringLiteral("Suche Interface"), { 1, 2 }));
    QCOMPARE(wrong.requests().size(), stored.isNull() ? 1 : 2);
}

void TestInterfaceSearch::fullSearchWithoutDeviceIsPrompt()
{
    Rig rig(0);
    QVERIFY2(rig.sim.isReady(), qPrintable(rig.sim.errorString()));
    rig.storePort(QStringLiteral("7"));
    QElapsedTimer elapsed;
    int result = NoResult;
    qint64 searchMs = 0;
    // Run by a plain event loop: QTRY_ would add its own pauses between steps.
    QEventLoop loop;
    QTimer::singleShot(std::chrono::seconds(20), &loop, &QEventLoop::quit);

    // The clock never moves: one probe would wait for ever.
    elapsed.start();
    rig.search.InitInterface([&](int found) {
        searchMs = elapsed.elapsed();
        result = found;
        loop.quit();
    });
    loop.exec();

    QCOMPARE(result, InterfaceSearch::NotFound);
    qInfo("full search over 30 ports that do not exist: %lld ms", searchMs);
    QVERIFY(searchMs < 2000);
    QVERIFY(!rig.link.isOpen());
    QCOMPARE(rig.storedPort(), QStringLiteral("7"));
    QCOMPARE(rig.presentation.captions, Captions(QStringLiteral("Suche Interface"), Range(1, 30)));
    QVERIFY(rig.sim.device().requests().isEmpty());
}

// With --port given, only those numbers are searched: no other serial device is ever probed,
// and a stored port among the others is not tried either.
void TestInterfaceSearch::pinnedSearchTriesOnlyTheGivenPorts()
{
    SimFixture sim(0);
    QVERIFY2(sim.isReady(), qPrintable(sim.errorString()));
    PortMap ports;
    ports.setPath(5, sim.linkPath());
    ports.setPath(2, sim.filePath(QStringLiteral("missing")));
    ServerState state;
    ManualClock clock;
    SerialLink link { state, ports };
    Transaction transaction { state, link, clock };
    SettingsStore settings { sim.filePath(QStringLiteral("settings.ini")) };
    settings.WriteKeyValue(SettingsKey, StoredPort, SettingValue::fromText("7"), ValueTypeString);
    RecordingPresentation presentation;
    InterfaceSearch search { state, link, transaction, settings, presentation };

    int result = NoResult;
    search.InitInterface([&result](int found) { result = found; });

    QTRY_COMPARE(result, InterfaceSearch::Found);
    QCOMPARE(link.portNumber(), 5);
    QCOMPARE(presentation.captions, Captions(QStringLiteral("Suche Interface"), { 2, 5 }));
    QCOMPARE(sim.device().requests().size(), 1);
}

void TestInterfaceSearch::foundPortThatDoesNotOpenAgain()
{
    Rig rig(3);
    QVERIFY2(rig.sim.isReady(), qPrintable(rig.sim.errorString()));
    rig.storePort(QStringLiteral("9"));
    // Once the probe is in, number 3 names a path that does not exist.
    connect(&rig.sim.device(), &SimulatedDevice::requestReceived, &rig.sim.device(),
        [&rig] { rig.sim.detach(3); });

    const auto result = rig.start();

    QTRY_COMPARE(*result, InterfaceSearch::NotFound);
    QVERIFY(!rig.link.isOpen());
    QCOMPARE(rig.storedPort(), QStringLiteral("9"));
}

void TestInterfaceSearch::secondSearchWhileOneRunsIsRefused()
{
    Rig rig(2);
    QVERIFY2(rig.sim.isReady(), qPrintable(rig.sim.errorString()));

    const auto first = rig.start();
    const auto second = rig.start();

    QCOMPARE(*second, NoResult); // answered from the event loop, like every result
    QTRY_COMPARE(*second, InterfaceSearch::NotFound);
    QTRY_COMPARE(*first, InterfaceSearch::Found);
    QCOMPARE(rig.link.portNumber(), 2);
    QCOMPARE(rig.sim.device().requests().size(), 1);
}

void TestInterfaceSearch::searchTakesThePortOverFromAnOpenTransaction()
{
    Rig rig(4);
    QVERIFY2(rig.sim.isReady(), qPrintable(rig.sim.errorString()));
    QVERIFY(rig.link.open(4));
    rig.sim.device().setSilent(true);
    QSignalSpy requests(&rig.sim.device(), &SimulatedDevice::requestReceived);
    auto pending = std::make_shared<QByteArray>();
    rig.transaction.SendData(
        QByteArray::fromHex("2181A0"), [pending](const QByteArray &answer) { *pending = answer; });
    QVERIFY(requests.wait());
    rig.sim.device().setSilent(false);

    // The clock never moves: the open transaction could not time out.
    const auto result = rig.start();

    QTRY_COMPARE(*pending, Protocol::TimeoutAnswer());
    QTRY_COMPARE(*result, InterfaceSearch::Found);
    QCOMPARE(rig.link.portNumber(), 4);
}

QTEST_GUILESS_MAIN(TestInterfaceSearch)
#include "test_interface_search.moc"
