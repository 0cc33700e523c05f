// Closed-loop command traffic of the benchmark: every answer counted, every wrong echo caught,
// a silent or broken path reported rather than waited for.

#include "channel.h"
#include "command_load.h"

#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

namespace {

// A path to a device that answers as the test says.
class FakeChannel : public Channel
{
    Q_OBJECT

public:
    enum class Device
    {
        Echoes, // the sound device
        EchoesAltered, // answers with a changed byte
        RepeatsTheFirst, // answers every command with the first command's echo
        Silent,
    };

    explicit FakeChannel(Device device, QObject *parent = nullptr)
        : Channel(parent)
        , m_device(device)
    { }

    void open() override { Q_EMIT opened(); }
    void close() override { }
    void sendCommand(const QByteArray &message) override
    {
        if (m_first.isEmpty())
            m_first = message;
        QByteArray answer = message;
        switch (m_device) {
        case Device::Echoes:
            break;
        case Device::EchoesAltered:
            answer[2] = char(answer.at(2) ^ 1);
            break;
        case Device::RepeatsTheFirst:
            answer = m_first;
            break;
        case Device::Silent:
            return;
        }
        QTimer::singleShot(0, this, [this, answer] { Q_EMIT answerReceived(answer); });
    }

private:
    Device m_device;
    QByteArray m_first;
};

CommandLoad::Result Run(const QList<Channel *> &channels, const CommandLoad::Plan &plan)
{
    CommandLoad load(channels);
    CommandLoad::Result result;
    QSignalSpy finished(&load, &CommandLoad::finished);
    QObject::connect(
        &load, &CommandLoad::finished, [&result](const CommandLoad::Result &r) { result = r; });
    load.start(plan);
    if (!finished.wait(10000))
        result.error = QStringLiteral("the load never finished");
    return result;
}

} // namespace

class TestCommandLoad : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void measuresTheAnswersAsked_data();
    void measuresTheAnswersAsked();
    void countsWrongAnswers_data();
    void countsWrongAnswers();
    void reportsASilentDevice();
    void stopsAfterItsDuration();
};

void TestCommandLoad::measuresTheAnswersAsked_data()
{
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("measured");

    QTest::newRow("one client") << 1 << 200;
    QTest::newRow("ten clients, more answers than clients") << 10 << 500;
    QTest::newRow("fewer answers than clients") << 10 << 3;
}

void TestCommandLoad::measuresTheAnswersAsked()
{
    QFETCH(int, channels);
    QFETCH(int, measured);

    QObject owner;
    QList<Channel *> paths;
    for (int i = 0; i < channels; ++i)
        paths.append(new FakeChannel(FakeChannel::Device::Echoes, &owner));
    const CommandLoad::Result result = Run(paths, { 20, measured, {}, std::chrono::seconds(5) });
    QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
    QCOMPARE(result.answers, qint64(measured));
    QCOMPARE(result.roundTripUs.count, qsizetype(measured));
    QCOMPARE(result.wrongAnswers, qint64(0));
    QVERIFY(result.perSecond > 0);
}

void TestCommandLoad::countsWrongAnswers_data()
{
    QTest::addColumn<int>("device");

    QTest::newRow("an echo with one byte changed") << int(FakeChannel::Device::EchoesAltered);
    QTest::newRow("the echo of an earlier command") << int(FakeChannel::Device::RepeatsTheFirst);
}

void TestCommandLoad::countsWrongAnswers()
{
    QFETCH(int, device);

    QObject owner;
    auto *sound = new FakeChannel(FakeChannel::Device::Echoes, &owner);
    auto *broken = new FakeChannel(FakeChannel::Device(device), &owner);
    const CommandLoad::Result result
        = Run({ sound, broken }, { 0, 100, {}, std::chrono::seconds(5) });
    QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
    // Half the answers come from the broken device; its very first one is right only when it
    // repeats the first command.
    const qint64 expectedWrong = device == int(FakeChannel::Device::RepeatsTheFirst) ? 49 : 50;
    QCOMPARE(result.wrongAnswers, expectedWrong);
}

void TestCommandLoad::reportsASilentDevice()
{
    QObject owner;
    auto *silent = new FakeChannel(FakeChannel::Device::Silent, &owner);
    const CommandLoad::Result result
        = Run({ silent }, { 0, 10, {}, std::chrono::milliseconds(100) });
    QCOMPARE(result.error, QStringLiteral("no answer for 100 ms"));
    QCOMPARE(result.answers, qint64(0));
}

void TestCommandLoad::stopsAfterItsDuration()
{
    QObject owner;
    auto *channel = new FakeChannel(FakeChannel::Device::Echoes, &owner);
    const CommandLoad::Result result
        = Run({ channel }, { 10, 0, std::chrono::milliseconds(100), std::chrono::seconds(5) });
    QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
    QVERIFY(result.answers > 0);
    QCOMPARE(result.roundTripUs.count, qsizetype(result.answers));
}

QTEST_MAIN(TestCommandLoad)
#include "test_command_load.moc"
