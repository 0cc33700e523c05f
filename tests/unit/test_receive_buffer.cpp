// The rules that read the receive buffer InpStr: frames by their own lengths,
// stale answers before a request, and the cap.

#include "core/receive_buffer.h"

#include <QtTest>

using namespace ReceiveBuffer;

namespace {

// Bytes written as hex; spaces only for reading.
QByteArray H(const char *hex)
{
    return QByteArray::fromHex(hex);
}

// Compared as hex text, so that a failure shows readable bytes.
QByteArray Hex(const QByteArray &bytes)
{
    return bytes.toHex(' ').toUpper();
}

} // namespace

class TestReceiveBuffer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void dropsAnswerStartJoinedByARemoval_data();
    void dropsAnswerStartJoinedByARemoval();
    void readsFrames_data();
    void readsFrames();
    void readsTheSameFramesWhateverTheChunks();
    void checkByte_data();
    void checkByte();
    void dropsStaleAnswers_data();
    void dropsStaleAnswers();
    void appliesCap_data();
    void appliesCap();
    void defaultCapIs64KiB();
};

// Frames written as "A <hex>" (answer) and "B <hex>" (broadcast), in the order read.
void TestReceiveBuffer::readsFrames_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<QStringList>("frames");
    QTest::addColumn<QByteArray>("rest");

    QTest::newRow("answer") << H("FF FE 42 01 02 41") << QStringList { "A 42010241" } << H("");
    QTest::newRow("header 00: header and check byte only")
        << H("FF FE 00 AB") << QStringList { "A 00AB" } << H("");
    QTest::newRow("high bits of the header do not count")
        << H("FF FE F2 02 03 F3") << QStringList { "A F20203F3" } << H("");
    QTest::newRow("fifteen data bytes, nineteen in all")
        << H("FF FD 1F 0102030405060708090A0B0C0D0E0F EE")
        << QStringList { "B 1F0102030405060708090A0B0C0D0E0FEE" } << H("");
    QTest::newRow("check byte unverified without an inner frame start")
        << H("FF FD 61 02 00") << QStringList { "B 610200" } << H("");
    QTest::newRow("broadcast followed by an answer")
        << H("FF FD 61 02 63 FF FE 42 01 02 41") << QStringList { "B 610263", "A 42010241" }
        << H("");
    QTest::newRow("answers and broadcasts in the order they came")
        << H("FF FE 42 01 02 41 FF FD 61 02 63 FF FD 00 AB FF FE 01 04 05")
        << QStringList { "A 42010241", "B 610263", "B 00AB", "A 010405" } << H("");
    QTest::newRow("noise before and between frames")
        << H("01 02 FF FD 61 02 63 03 FE FD 04 FF FE 42 01 02 41 07")
        << QStringList { "B 610263", "A 42010241" } << H("");
    QTest::newRow("no frame start: all noise")
        << H("01 02 9F FE FF DE 03") << QStringList {} << H("");
    QTest::newRow("a last FF waits: it may begin a frame")
        << H("01 02 FF") << QStringList {} << H("FF");
    QTest::newRow("FF FF FE: the frame starts at the second FF")
        << H("FF FF FE 61 02 63") << QStringList { "A 610263" } << H("");
    QTest::newRow("frame start alone waits") << H("FF FD") << QStringList {} << H("FF FD");
    QTest::newRow("header alone waits") << H("FF FE 61") << QStringList {} << H("FF FE 61");
    QTest::newRow("incomplete frame at the end waits")
        << H("FF FD 61 02 63 FF FE 42 01") << QStringList { "B 610263" } << H("FF FE 42 01");
    QTest::newRow("an incomplete frame hides what follows until it completes")
        << H("FF FD 0F 01 FF FD 61 02 63") << QStringList {} << H("FF FD 0F 01 FF FD 61 02 63");
    QTest::newRow("FF FE in a broadcast's data: the broadcast stays whole")
        << H("FF FD 43 FF FE 5A 18") << QStringList { "B 43FFFE5A18" } << H("");
    QTest::newRow("FF FD in an answer's data: the answer stays whole")
        << H("FF FE 43 FF FD 5A 1B") << QStringList { "A 43FFFD5A1B" } << H("");
    QTest::newRow("piece of an answer before a broadcast is noise")
        << H("FF FE 61 FF FD 42 01 02 41") << QStringList { "B 42010241" } << H("");
    QTest::newRow("fake frame start in noise around a broadcast")
        << H("FF FE 05 FF FD 61 02 63 00 00") << QStringList { "B 610263" } << H("");
    QTest::newRow("answer, then a piece before a broadcast")
        << H("FF FE 42 01 02 41 FF FE 61 FF FD 42 01 02 41")
        << QStringList { "A 42010241", "B 42010241" } << H("");
    QTest::newRow("FF FE in broadcast data with a wrong check byte: a piece")
        << H("FF FD 43 FF FE 5A 00") << QStringList {} << H("FF FE 5A 00");
    QTest::newRow("check byte FF that agrees: a frame")
        << H("FF FD 01 FE FF") << QStringList { "B 01FEFF" } << H("");
    QTest::newRow("check byte FF that disagrees waits for the next byte")
        << H("FF FD 01 02 FF") << QStringList {} << H("FF FD 01 02 FF");
    QTest::newRow("... which starts no frame: a frame")
        << H("FF FD 01 02 FF 07") << QStringList { "B 0102FF" } << H("");
    QTest::newRow("... which starts an answer: a piece")
        << H("FF FD 01 02 FF FE 61 02 63") << QStringList { "A 610263" } << H("");
    QTest::newRow("9F FD and FF DD are no frame starts")
        << H("9F FD 61 02 63 FF DD 61 02 63") << QStringList {} << H("");
    QTest::newRow("empty") << H("") << QStringList {} << H("");
}

void TestReceiveBuffer::readsFrames()
{
    QFETCH(QByteArray, buffer);
    QFETCH(QStringList, frames);
    QFETCH(QByteArray, rest);

    const Reading reading = ReadFrames(buffer);
    QStringList read;
    for (const Frame &frame : reading.frames)
        read << (frame.kind == Frame::Kind::Answer ? "A " : "B ") + frame.message.toHex().toUpper();
    QCOMPARE(read, frames);
    QCOMPARE(Hex(buffer.mid(reading.consumed)), Hex(rest));
}

// A burst in any chunking gives the same frames: the reading never depends on how the
// bytes arrived.
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
            for (const Frame &frame : reading.frames)
                frames << frame.message.toHex();
            buffer.remove(0, reading.consumed);
        }
        QStringList expected;
        for (const Frame &frame : whole.frames)
            expected << frame.message.toHex();
        QCOMPARE(frames, expected);
        QCOMPARE(buffer, stream.mid(whole.consumed));
    }
}

void TestReceiveBuffer::checkByte_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<bool>("agrees");

    QTest::newRow("probe") << H("F2 02 03 F3") << true;
    QTest::newRow("probe answer") << H("61 82 E3") << true;
    QTest::newRow("header alone with its check") << H("00 00") << true;
    QTest::newRow("wrong check byte") << H("42 01 02 00") << false;
    QTest::newRow("empty") << H("") << false;
}

void TestReceiveBuffer::checkByte()
{
    QFETCH(QByteArray, message);
    QFETCH(bool, agrees);
    QCOMPARE(CheckByteAgrees(message), agrees);
}

void TestReceiveBuffer::dropsStaleAnswers_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<QByteArray>("rest");

    QTest::newRow("late answer goes") << H("FF FE 42 01 02 41") << H("");
    QTest::newRow("late answer goes, broadcast behind it stays")
        << H("FF FE 42 01 02 41 FF FD 61 02 63") << H("FF FD 61 02 63");
    QTest::newRow("broadcast in front stays")
        << H("FF FD 61 02 63 FF FE 42 01 02 41") << H("FF FD 61 02 63");
    QTest::newRow("piece of an answer stops at a broadcast start")
        << H("FF FE 0F 01 FF FD 61 02 63") << H("FF FD 61 02 63");
    QTest::newRow("piece of an answer stops at the next answer start")
        << H("FF FE 0F 01 FF FE 42 01 02 41 07") << H("07");
    QTest::newRow("piece at the end goes") << H("FF FE 05 01") << H("");
    QTest::newRow("frame start at the end goes") << H("01 FF FE") << H("01");
    QTest::newRow("answer ends by its length") << H("FF FE 61 02 63 01 02") << H("01 02");
    QTest::newRow("bytes around an answer stay") << H("01 FF FE 61 02 63 07") << H("01 07");
    QTest::newRow("two answers in a row both go") << H("FF FE 61 02 63 FF FE 42 01 02 41") << H("");
    QTest::newRow("answers between broadcasts go, broadcasts stay")
        << H("FF FE 00 00 FF FD 61 02 63 FF FE 61 FF FD 00 AB FF FE 01")
        << H("FF FD 61 02 63 FF FD 00 AB");
    QTest::newRow("broadcasts only: unchanged")
        << H("FF FD 61 02 63 FF FD 00 AB") << H("FF FD 61 02 63 FF FD 00 AB");
    QTest::newRow("incomplete broadcast stays") << H("FF FE 61 02 63 FF FD 61") << H("FF FD 61");
    QTest::newRow("9F FE is no answer start") << H("9F FE 42 01 02 41") << H("9F FE 42 01 02 41");
    QTest::newRow("FF DE is no answer start") << H("FF DE 42 01 02 41") << H("FF DE 42 01 02 41");
    QTest::newRow("FF DD is no broadcast start") << H("FF FE 0F 01 FF DD 61 02 63") << H("");
    QTest::newRow("FF and FE joined by a removal are an answer start too")
        << H("FF FF FE 61 02 63 FE 01 04 05") << H("");
    QTest::newRow("empty") << H("") << H("");
}

void TestReceiveBuffer::dropsStaleAnswers()
{
    QFETCH(QByteArray, buffer);
    QFETCH(QByteArray, rest);

    DropStaleAnswers(buffer);
    QCOMPARE(Hex(buffer), Hex(rest));
    QVERIFY(!buffer.contains(H("FF FE")));
}

void TestReceiveBuffer::appliesCap_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<QByteArray>("rest");

    const QByteArray junk10(10, '\x01');
    const QByteArray junk20(20, '\x01');
    QTest::newRow("at the cap: unchanged") << QByteArray(16, '\x01') << QByteArray(16, '\x01');
    QTest::newRow("past the cap without a frame start: emptied") << QByteArray(17, '\x01') << H("");
    QTest::newRow("past the cap: the bytes before the frame start go")
        << junk20 + H("FF FD 61 02 63") << H("FF FD 61 02 63");
    QTest::newRow("an answer frame start counts too")
        << junk20 + H("FF FE 42 01 02 41") << H("FF FE 42 01 02 41");
    QTest::newRow("the newest broadcast is kept")
        << H("FF FD 61 02 63") + junk10 + H("FF FD 42 01 02 41") << H("FF FD 42 01 02 41");
    QTest::newRow("a newer broadcast after an answer is kept")
        << H("FF FE 61 02 63") + junk10 + H("FF FD 42 01 02 41") << H("FF FD 42 01 02 41");
    QTest::newRow("a newer answer after a broadcast is kept")
        << H("FF FD 61 02 63") + junk10 + H("FF FE 42 01 02 41") << H("FF FE 42 01 02 41");
    QTest::newRow("frame start at the very end is kept") << junk20 + H("FF FD") << H("FF FD");
    QTest::newRow("still over the cap from the frame start: emptied")
        << junk10 + H("FF FD") + junk20 << H("");
    QTest::newRow("frame start at the front and over the cap: emptied")
        << H("FF FD") + junk20 << H("");
    QTest::newRow("9F DD is no frame start: emptied") << junk20 + H("9F DD 61 02 63") << H("");
}

void TestReceiveBuffer::appliesCap()
{
    QFETCH(QByteArray, buffer);
    QFETCH(QByteArray, rest);

    ApplyCap(buffer, 16);
    QCOMPARE(Hex(buffer), Hex(rest));
}

void TestReceiveBuffer::defaultCapIs64KiB()
{
    QByteArray full(64 * 1024, '\x01');
    ApplyCap(full);
    QCOMPARE(full.size(), 64 * 1024);

    QByteArray over = QByteArray(64 * 1024 - 3, '\x01') + H("FF FD 61 02");
    ApplyCap(over);
    QCOMPARE(Hex(over), Hex(H("FF FD 61 02")));

    QByteArray tooLong = H("FF FD 61") + QByteArray(64 * 1024, '\x01');
    ApplyCap(tooLong);
    QVERIFY(tooLong.isEmpty());
}

// Found by the fuzzer. Removing a stale answer can put an FF that stood before it next to an FE
// that stood after it. That pair is an answer start that no request is open for; if it stayed, the
// next request's answer would be read from it and come out wrong (or never complete).
void TestReceiveBuffer::dropsAnswerStartJoinedByARemoval_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<QByteArray>("rest");
    QTest::addColumn<QByteArray>("answer"); // taken once the request's answer has arrived

    const QByteArray answer = H("42 01 02 41");
    QTest::newRow("FF before and FE after a stale answer")
        << H("FF FF FE 00 61 FE") << H("") << answer;
    QTest::newRow("joined start cut short by a broadcast")
        << H("FF FF FE 00 61 FE 42 FF FD 61 02 63") << H("FF FD 61 02 63") << answer;
    QTest::newRow("joined start with a whole frame after it")
        << H("FF FF FE 00 61 FE 00 11 07") << H("07") << answer;
    QTest::newRow("first input the fuzzer reported") << H("FF FF FE 00 FE FE") << H("") << answer;
    QTest::newRow("joins one after another")
        << H("FF FF FF FE 00 61 FE 00 62 FE") << H("") << answer;
}

void TestReceiveBuffer::dropsAnswerStartJoinedByARemoval()
{
    QFETCH(QByteArray, buffer);
    QFETCH(QByteArray, rest);
    QFETCH(QByteArray, answer);

    DropStaleAnswers(buffer);
    QCOMPARE(Hex(buffer), Hex(rest));

    buffer.append(H("FF FE") + answer);
    const Reading reading = ReadFrames(buffer);
    QCOMPARE(reading.frames.back().kind, Frame::Kind::Answer);
    QCOMPARE(Hex(reading.frames.back().message), Hex(answer));
    for (const Frame &frame : reading.frames)
        QVERIFY(frame.kind == Frame::Kind::Broadcast || &frame == &reading.frames.back());
}

QTEST_GUILESS_MAIN(TestReceiveBuffer)
#include "test_receive_buffer.moc"
