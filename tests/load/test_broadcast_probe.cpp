// Numbered broadcasts to every receiver: a complete, ordered burst is measured; a lost,
// repeated or swapped line marks it.

#include "broadcast_probe.h"
#include "channel.h"
#include "tagged_message.h"

#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

namespace {

// A receiver of broadcasts; the test hands it what the "device" sent.
class Receiver : public Channel
{
    Q_OBJECT

public:
    using Channel::Channel;
    void open() override { }
    void close() override { }
    void sendCommand(const QByteArray &) override { }
    void deliver(const QByteArray &message) { Q_EMIT broadcastReceived(message); }
};

// The messages in a batch of simulator commands ("broadcast HEX" lines).
QList<QByteArray> Messages(const QByteArray &commands)
{
    QList<QByteArray> messages;
    for (const QByteArray &line : commands.split('\n')) {
        if (line.startsWith("broadcast "))
            messages.append(QByteArray::fromHex(line.mid(10)));
    }
    return messages;
}

} // namespace

class TestBroadcastProbe : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void judgesABurst_data();
    void judgesABurst();
    void takesOneLatencySamplePerBroadcast();
};

void TestBroadcastProbe::judgesABurst_data()
{
    QTest::addColumn<QString>("fault"); // what the path does to the second receiver's lines
    QTest::addColumn<bool>("complete");

    QTest::newRow("every line in order") << QString() << true;
    QTest::newRow("one line lost") << "lose" << false;
    QTest::newRow("two lines swapped") << "swap" << false;
    QTest::newRow("one line twice") << "repeat" << false;
}

void TestBroadcastProbe::judgesABurst()
{
    QFETCH(QString, fault);
    QFETCH(bool, complete);

    QObject owner;
    auto *first = new Receiver(&owner);
    auto *second = new Receiver(&owner);
    const auto emitCommands = [first, second, fault](const QByteArray &commands) {
        QList<QByteArray> messages = Messages(commands);
        QList<QByteArray> altered = messages;
        if (fault == QLatin1String("lose"))
            altered.removeAt(5);
        else if (fault == QLatin1String("swap"))
            altered.swapItemsAt(5, 6);
        else if (fault == QLatin1String("repeat"))
            altered.insert(5, altered.at(5));
        QTimer::singleShot(0, first, [first, second, messages, altered] {
            for (const QByteArray &message : messages)
                first->deliver(message);
            for (const QByteArray &message : altered)
                second->deliver(message);
        });
    };
    BroadcastProbe probe({ first, second }, emitCommands, 1000);
    QSignalSpy finished(&probe, &BroadcastProbe::finished);
    probe.measureBurst(50, std::chrono::milliseconds(500));
    QVERIFY(finished.wait());
    const auto result = finished.first().first().value<BroadcastProbe::Result>();
    QCOMPARE(result.complete && result.inOrder, complete);
    QCOMPARE(probe.nextSequence(), 1050u);
}

void TestBroadcastProbe::takesOneLatencySamplePerBroadcast()
{
    QObject owner;
    auto *receiver = new Receiver(&owner);
    int batches = 0;
    const auto emitCommands = [receiver, &batches](const QByteArray &commands) {
        ++batches;
        const QList<QByteArray> messages = Messages(commands);
        QTimer::singleShot(5, receiver, [receiver, messages] {
            for (const QByteArray &message : messages)
                receiver->deliver(message);
        });
    };
    BroadcastProbe probe({ receiver }, emitCommands, 0);
    QSignalSpy finished(&probe, &BroadcastProbe::finished);
    probe.measureLatency(20, std::chrono::seconds(5));
    QVERIFY(finished.wait());
    const auto result = finished.first().first().value<BroadcastProbe::Result>();
    QVERIFY(result.complete);
    QCOMPARE(result.latencyUs.count, qsizetype(20));
    QCOMPARE(batches, 20);
    QVERIFY(result.latencyUs.median >= 4000); // the path's 5 ms are in every sample
}

QTEST_MAIN(TestBroadcastProbe)
#include "test_broadcast_probe.moc"
