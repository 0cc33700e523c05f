// The rules that cut the receive buffer InpStr: answers, the clean-up after an
// answer, broadcasts, stale answers before a request, the empty rule and the cap.

#include "link/receive_buffer.h"

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
    void takesAnswer_data();
    void takesAnswer();
    void cleansUpAnswerPieces_data();
    void cleansUpAnswerPieces();
    void answerLeftBehindIsTheNextAnswer();
    void takesBroadcast_data();
    void takesBroadcast();
    void broadcastsLeaveOnePerCut();
    void emptiesWithoutFrameByte_data();
    void emptiesWithoutFrameByte();
    void dropsStaleAnswers_data();
    void dropsStaleAnswers();
    void appliesCap_data();
    void appliesCap();
    void defaultCapIs64KiB();
};

void TestReceiveBuffer::takesAnswer_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("rest");

    QTest::newRow("answer waiting when the wait begins")
        << H("FF FE 42 01 02 41") << true << H("42 01 02 41") << H("");
    QTest::newRow("header 00: header and check byte only")
        << H("FF FE 00 AB") << true << H("00 AB") << H("");
    QTest::newRow("probe answer") << H("FF FE 61 82 E3") << true << H("61 82 E3") << H("");
    QTest::newRow("high bits of the header do not count")
        << H("FF FE F2 02 03 F3") << true << H("F2 02 03 F3") << H("");
    QTest::newRow("fifteen data bytes, nineteen in all")
        << H("FF FE 0F 0102030405060708090A0B0C0D0E0F EE") << true
        << H("0F 0102030405060708090A0B0C0D0E0F EE") << H("");
    QTest::newRow("bytes in front of the frame stay")
        << H("01 02 FF FE 61 02 63") << true << H("61 02 63") << H("01 02");
    QTest::newRow("bytes behind the frame stay")
        << H("FF FE 61 02 63 07 08") << true << H("61 02 63") << H("07 08");
    QTest::newRow("broadcast in front stays")
        << H("FF FD 61 02 63 FF FE 42 01 02 41") << true << H("42 01 02 41") << H("FF FD 61 02 63");
    QTest::newRow("frame start alone") << H("FF FE") << false << H("") << H("FF FE");
    QTest::newRow("header byte only") << H("FF FE 61") << false << H("") << H("FF FE 61");
    QTest::newRow("one byte short") << H("FF FE 61 02") << false << H("") << H("FF FE 61 02");
    QTest::newRow("one byte short of nineteen")
        << H("FF FE 0F 0102030405060708090A0B0C0D0E0F") << false << H("")
        << H("FF FE 0F 0102030405060708090A0B0C0D0E0F");
    QTest::newRow("an incomplete first answer hides a later one")
        << H("FF FE 0F 01 FF FE 61 02 63") << false << H("") << H("FF FE 0F 01 FF FE 61 02 63");
    QTest::newRow("broadcast frame is no answer")
        << H("FF FD 61 02 63") << false << H("") << H("FF FD 61 02 63");
    QTest::newRow("9F FE is no frame start")
        << H("9F FE 61 02 63") << false << H("") << H("9F FE 61 02 63");
    QTest::newRow("FF DE is no frame start")
        << H("FF DE 61 02 63") << false << H("") << H("FF DE 61 02 63");
    QTest::newRow("9F DE is no frame start")
        << H("9F DE 61 02 63") << false << H("") << H("9F DE 61 02 63");
    QTest::newRow("FF FF FE: the frame starts at the second FF")
        << H("FF FF FE 61 02 63") << true << H("61 02 63") << H("FF");
    QTest::newRow("empty buffer") << H("") << false << H("") << H("");
    QTest::newRow("clean-up: a piece before a broadcast goes")
        << H("FF FE 42 01 02 41 FF FE 61 FF FD 42 01 02 41") << true << H("42 01 02 41")
        << H("FF FD 42 01 02 41");
    QTest::newRow("clean-up: a complete answer with nothing after stays")
        << H("FF FE 42 01 02 41 FF FE 01 04 05") << true << H("42 01 02 41") << H("FF FE 01 04 05");
}

void TestReceiveBuffer::takesAnswer()
{
    QFETCH(QByteArray, buffer);
    QFETCH(bool, found);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, rest);

    const std::optional<QByteArray> taken = TakeAnswer(buffer);
    QCOMPARE(taken.has_value(), found);
    if (found)
        QCOMPARE(Hex(*taken), Hex(answer));
    QCOMPARE(Hex(buffer), Hex(rest));
}

void TestReceiveBuffer::cleansUpAnswerPieces_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<QByteArray>("rest");

    QTest::newRow("piece before a broadcast goes")
        << H("FF FE 61 FF FD 42 01 02 41") << H("FF FD 42 01 02 41");
    QTest::newRow("complete answer alone stays") << H("FF FE 01 04 05") << H("FF FE 01 04 05");
    QTest::newRow("piece at the end stays") << H("01 FF FE 61") << H("01 FF FE 61");
    QTest::newRow("bytes before the piece stay")
        << H("01 02 FF FE 61 FF FD 00 00") << H("01 02 FF FD 00 00");
    QTest::newRow("piece before another answer goes")
        << H("FF FE 61 FF FE 01 04 05") << H("FF FE 01 04 05");
    QTest::newRow("moved header is not examined again")
        << H("FF FE AA FF FE BB FF FD CC") << H("FF FE BB FF FD CC");
    QTest::newRow("nearer broadcast start wins over a later answer start")
        << H("FF FE 01 FF FD 61 02 63 FF FE 42") << H("FF FD 61 02 63 FF FE 42");
    QTest::newRow("nearer answer start wins over a later broadcast start")
        << H("FF FE 01 FF FE 02 03 FF FD 61 02 63") << H("FF FE 02 03 FF FD 61 02 63");
    QTest::newRow("each piece up to its next frame start")
        << H("FF FE 01 FF FD 61 02 63 FF FE 02 FF FD 00 00") << H("FF FD 61 02 63 FF FD 00 00");
    QTest::newRow("DD is no broadcast start")
        << H("FF FE 61 FF DD 42 01 02 41") << H("FF FE 61 FF DD 42 01 02 41");
    QTest::newRow("9F FD is no broadcast start")
        << H("FF FE 61 9F FD 42 01 02 41") << H("FF FE 61 9F FD 42 01 02 41");
    QTest::newRow("9F DE is no answer start")
        << H("FF FE 61 9F DE 42 01 02 41") << H("FF FE 61 9F DE 42 01 02 41");
    QTest::newRow("broadcasts only")
        << H("FF FD 61 02 63 FF FD 00 00") << H("FF FD 61 02 63 FF FD 00 00");
    QTest::newRow("empty") << H("") << H("");
}

void TestReceiveBuffer::cleansUpAnswerPieces()
{
    QFETCH(QByteArray, buffer);
    QFETCH(QByteArray, rest);

    CleanUpAnswerPieces(buffer);
    QCOMPARE(Hex(buffer), Hex(rest));
}

void TestReceiveBuffer::answerLeftBehindIsTheNextAnswer()
{
    QByteArray buffer = H("FF FE 42 01 02 41 FF FE 01 04 05");
    QCOMPARE(Hex(TakeAnswer(buffer).value_or(QByteArray())), Hex(H("42 01 02 41")));
    QCOMPARE(Hex(TakeAnswer(buffer).value_or(QByteArray())), Hex(H("01 04 05")));
    QVERIFY(buffer.isEmpty());
}

void TestReceiveBuffer::takesBroadcast_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("rest");

    QTest::newRow("whole frame") << H("FF FD 61 02 63") << true << H("61 02 63") << H("");
    QTest::newRow("bytes around the frame stay")
        << H("01 FF FD 61 02 63 07") << true << H("61 02 63") << H("01 07");
    QTest::newRow("header 00") << H("FF FD 00 AB") << true << H("00 AB") << H("");
    QTest::newRow("fifteen data bytes")
        << H("FF FD 1F 0102030405060708090A0B0C0D0E0F EE 07") << true
        << H("1F 0102030405060708090A0B0C0D0E0F EE") << H("07");
    QTest::newRow("answer frame in front stays")
        << H("FF FE 01 04 05 FF FD 61 02 63") << true << H("61 02 63") << H("FF FE 01 04 05");
    QTest::newRow("incomplete frame stays")
        << H("FF FD 61 02") << false << H("") << H("FF FD 61 02");
    QTest::newRow("frame start alone stays") << H("FF FD") << false << H("") << H("FF FD");
    QTest::newRow("header only stays") << H("FF FD 61") << false << H("") << H("FF FD 61");
    QTest::newRow("one byte short of nineteen stays")
        << H("FF FD 0F 0102030405060708090A0B0C0D0E0F") << false << H("")
        << H("FF FD 0F 0102030405060708090A0B0C0D0E0F");
    QTest::newRow("an incomplete first broadcast is not skipped")
        << H("FF FD 0F 01 FF FD 61 02 63") << false << H("") << H("FF FD 0F 01 FF FD 61 02 63");
    QTest::newRow("answer frame is no broadcast")
        << H("FF FE 61 02 63") << false << H("") << H("FF FE 61 02 63");
    QTest::newRow("9F FD is no frame start")
        << H("9F FD 61 02 63") << false << H("") << H("9F FD 61 02 63");
    QTest::newRow("FF DD is no frame start")
        << H("FF DD 61 02 63") << false << H("") << H("FF DD 61 02 63");
    QTest::newRow("9F DD is no frame start")
        << H("9F DD 61 02 63") << false << H("") << H("9F DD 61 02 63");
    QTest::newRow("empty buffer") << H("") << false << H("") << H("");
}

void TestReceiveBuffer::takesBroadcast()
{
    QFETCH(QByteArray, buffer);
    QFETCH(bool, found);
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, rest);

    const std::optional<QByteArray> taken = TakeBroadcast(buffer);
    QCOMPARE(taken.has_value(), found);
    if (found)
        QCOMPARE(Hex(*taken), Hex(message));
    QCOMPARE(Hex(buffer), Hex(rest));
}

void TestReceiveBuffer::broadcastsLeaveOnePerCut()
{
    QByteArray buffer = H("FF FD 61 02 63 FF FD 42 01 02 41");
    QCOMPARE(Hex(TakeBroadcast(buffer).value_or(QByteArray())), Hex(H("61 02 63")));
    QCOMPARE(Hex(buffer), Hex(H("FF FD 42 01 02 41")));
    QCOMPARE(Hex(TakeBroadcast(buffer).value_or(QByteArray())), Hex(H("42 01 02 41")));
    QVERIFY(buffer.isEmpty());
    QVERIFY(!TakeBroadcast(buffer).has_value());
}

void TestReceiveBuffer::emptiesWithoutFrameByte_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<QByteArray>("rest");

    QTest::newRow("no FF: emptied") << H("01 02 03") << H("");
    QTest::newRow("left over after a cut: emptied") << H("01 07") << H("");
    QTest::newRow("9F is not FF: emptied") << H("9F FD 61") << H("");
    QTest::newRow("FE and FD without FF: emptied") << H("FE FD 42") << H("");
    QTest::newRow("answer frame stays") << H("FF FE 61 02 63") << H("FF FE 61 02 63");
    QTest::newRow("lone FF at the end stays") << H("01 02 FF") << H("01 02 FF");
    QTest::newRow("lone FF in the middle stays") << H("01 FF 02") << H("01 FF 02");
    QTest::newRow("FF alone stays") << H("FF") << H("FF");
    QTest::newRow("empty stays empty") << H("") << H("");
}

void TestReceiveBuffer::emptiesWithoutFrameByte()
{
    QFETCH(QByteArray, buffer);
    QFETCH(QByteArray, rest);

    EmptyWithoutFrameByte(buffer);
    QCOMPARE(Hex(buffer), Hex(rest));
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
    const std::optional<QByteArray> taken = TakeAnswer(buffer);
    QVERIFY(taken.has_value());
    QCOMPARE(Hex(*taken), Hex(answer));
}

QTEST_GUILESS_MAIN(TestReceiveBuffer)
#include "test_receive_buffer.moc"
