// The rules that read the receive buffer InpStr: frames by their own lengths, stale answers
// before a request, and the cap.

#include "core/receive_buffer.h"

#include <QtTest>

using namespace ReceiveBuffer;

namespace {

// Bytes written as hex; spaces only for reading.
QByteArray H(const char *hex)
{
    return QByteArray::fromHex(hex);
}

// Frames as "A <hex>" (answer) and "B <hex>" (broadcast), in the order read.
QStringList Described(QByteArrayView buffer, const Reading &reading)
{
    QStringList frames;
    for (const Frame &frame : reading.frames)
        frames << (frame.kind == Frame::Kind::Answer ? "A " : "B ")
                + frame.message(buffer).toByteArray().toHex().toUpper();
    return frames;
}

} // namespace

class TestReceiveBuffer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsFrames_data();
    void readsFrames();
    void readsTheSameFramesWhateverTheChunks();
    void dropsStaleAnswers_data();
    void dropsStaleAnswers();
    void appliesCap_data();
    void appliesCap();
};

void TestReceiveBuffer::readsFrames_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<QStringList>("frames");
    QTest::addColumn<QByteArray>("rest"); // what waits for more bytes

    QTest::newRow("answer") << H("FF FE 42 01 02 41") << QStringList { "A 42010241" } << H("");
    QTest::newRow("header 00: header and check byte only")
        << H("FF FE 00 AB") << QStringList { "A 00AB" } << H("");
    QTest::newRow("fifteen data bytes, nineteen in all")
        << H("FF FD 1F 0102030405060708090A0B0C0D0E0F EE")
        << QStringList { "B 1F0102030405060708090A0B0C0D0E0FEE" } << H("");
    QTest::newRow("check byte unverified without an inner frame start")
        << H("FF FD 61 02 00") << QStringList { "B 610200" } << H("");
    QTest::newRow("answers and broadcasts in the order they came")
        << H("FF FE 42 01 02 41 FF FD 61 02 63 FF FD 00 AB FF FE 01 04 05")
        << QStringList { "A 42010241", "B 610263", "B 00AB", "A 010405" } << H("");
    QTest::newRow("noise before and between frames")
        << H("01 02 FF FD 61 02 63 03 FE FD 9F FE FF DE 04 FF FE 42 01 02 41 07")
        << QStringList { "B 610263", "A 42010241" } << H("");
    QTest::newRow("a last FF waits: it may begin a frame")
        << H("01 02 FF") << QStringList {} << H("FF");
    QTest::newRow("FF FF FE: the frame starts at the second FF")
        << H("FF FF FE 61 02 63") << QStringList { "A 610263" } << H("");
    QTest::newRow("frame start alone waits") << H("FF FD") << QStringList {} << H("FF FD");
    QTest::newRow("incomplete frame at the end waits")
        << H("FF FD 61 02 63 FF FE 42 01") << QStringList { "B 610263" } << H("FF FE 42 01");
    QTest::newRow("an incomplete frame hides what follows until it completes")
        << H("FF FD 0F 01 FF FD 61 02 63") << QStringList {} << H("FF FD 0F 01 FF FD 61 02 63");
    QTest::newRow("FF FE in a broadcast's data: the broadcast stays whole")
        << H("FF FD 43 FF FE 5A 18") << QStringList { "B 43FFFE5A18" } << H("");
    QTest::newRow("piece of an answer before a broadcast is noise")
        << H("FF FE 61 FF FD 42 01 02 41") << QStringList { "B 42010241" } << H("");
    QTest::newRow("fake frame start in noise around a broadcast")
        << H("FF FE 05 FF FD 61 02 63 00 00") << QStringList { "B 610263" } << H("");
    QTest::newRow("FF FE in broadcast data with a wrong check byte: a piece")
        << H("FF FD 43 FF FE 5A 00") << QStringList {} << H("FF FE 5A 00");
    QTest::newRow("check byte FF that agrees: a frame")
        << H("FF FD 01 FE FF") << QStringList { "B 01FEFF" } << H("");
    QTest::newRow("check byte FF that disagrees waits for the next byte")
        << H("FF FD 01 02 FF") << QStringList {} << H("FF FD 01 02 FF");
    QTest::newRow("... which starts an answer: a piece")
        << H("FF FD 01 02 FF FE 61 02 63") << QStringList { "A 610263" } << H("");
}

void TestReceiveBuffer::readsFrames()
{
    QFETCH(QByteArray, buffer);
    QFETCH(QByteArray, rest);
    const Reading reading = ReadFrames(buffer);
    QTEST(Described(buffer, reading), "frames");
    QCOMPARE(buffer.mid(reading.consumed).toHex(' '), rest.toHex(' '));
}

void TestReceiveBuffer::readsTheSameFramesWhateverTheChunks()
{
    const QByteArray stream = H("01 FF FD 43 FF FE 5A 18 FF FE 61 FF FD 42 01 02 41 FF FD 01 02 FF"
                                "FE 61 02 63 FF");
    const Reading whole = ReadFrames(stream);
    for (int chunk = 1; chunk <= 5; ++chunk) {
        QByteArray buffer;
        QStringList frames;
        for (qsizetype at = 0; at < stream.size(); at += chunk) {
            buffer += stream.mid(at, chunk);
            const Reading reading = ReadFrames(buffer);
            frames += Described(buffer, reading);
            buffer.remove(0, reading.consumed);
        }
        QCOMPARE(frames, Described(stream, whole));
        QCOMPARE(buffer, stream.mid(whole.consumed));
    }
}

void TestReceiveBuffer::dropsStaleAnswers_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<QByteArray>("rest");

    QTest::newRow("late answer goes, broadcasts around it stay")
        << H("FF FD 61 02 63 FF FE 42 01 02 41 FF FD 00 AB") << H("FF FD 61 02 63 FF FD 00 AB");
    QTest::newRow("piece of an answer stops at a broadcast start")
        << H("FF FE 0F 01 FF FD 61 02 63") << H("FF FD 61 02 63");
    QTest::newRow("piece of an answer stops at the next answer start")
        << H("FF FE 0F 01 FF FE 42 01 02 41 07") << H("07");
    QTest::newRow("answer ends by its length") << H("01 FF FE 61 02 63 07") << H("01 07");
    QTest::newRow("frame start at the end goes") << H("01 FF FE") << H("01");
    QTest::newRow("incomplete broadcast stays") << H("FF FE 61 02 63 FF FD 61") << H("FF FD 61");
    // Found by the fuzzer: a removal can join an FF before it and an FE after it into an
    // answer start that no request is open for.
    QTest::newRow("FF and FE joined by a removal are an answer start too")
        << H("FF FF FE 61 02 63 FE 01 04 05") << H("");
    QTest::newRow("joins one after another") << H("FF FF FF FE 00 61 FE 00 62 FE") << H("");
}

void TestReceiveBuffer::dropsStaleAnswers()
{
    QFETCH(QByteArray, buffer);
    QFETCH(QByteArray, rest);
    DropStaleAnswers(buffer);
    QCOMPARE(buffer.toHex(' '), rest.toHex(' '));
}

void TestReceiveBuffer::appliesCap_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<QByteArray>("rest");
    const QByteArray junk(20, '\x01');
    QTest::newRow("at the cap: unchanged") << QByteArray(16, '\x01') << QByteArray(16, '\x01');
    QTest::newRow("past the cap without a frame start: emptied") << junk << H("");
    QTest::newRow("past the cap: the bytes before the last frame start go")
        << H("FF FE 61 02 63") + junk + H("FF FD 42 01 02 41") << H("FF FD 42 01 02 41");
    QTest::newRow("still over the cap from the frame start: emptied") << H("FF FD") + junk << H("");
}

void TestReceiveBuffer::appliesCap()
{
    QFETCH(QByteArray, buffer);
    QFETCH(QByteArray, rest);
    ApplyCap(buffer, 16);
    QCOMPARE(buffer.toHex(' '), rest.toHex(' '));
}

QTEST_GUILESS_MAIN(TestReceiveBuffer)
#include "test_receive_buffer.moc"
