// The rules that read the receive buffer InpStr: frames by their own lengths, noise and pieces,
// the frame gap, and answers that began before their request.

#include "core/frame_reader.h"
#include "core/receive_buffer.h"

#include <QtTest>

using namespace ReceiveBuffer;

namespace {

// Bytes written as hex; spaces only for reading.
QByteArray H(const char *hex)
{
    return QByteArray::fromHex(hex);
}

QString Hex(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.toByteArray().toHex().toUpper());
}

// Spans as "A <message>" (answer), "B <message>" (broadcast) and "N <bytes>" (noise), in the
// order read.
QStringList Described(QByteArrayView buffer, const Reading &reading)
{
    QStringList spans;
    for (const Span &span : reading.spans) {
        switch (span.kind) {
        case Span::Kind::Answer:
            spans << "A " + Hex(span.message(buffer));
            break;
        case Span::Kind::Broadcast:
            spans << "B " + Hex(span.message(buffer));
            break;
        case Span::Kind::Noise:
            spans << "N " + Hex(span.bytes(buffer));
            break;
        }
    }
    return spans;
}

} // namespace

class TestReceiveBuffer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsFrames_data();
    void readsFrames();
    void readsTheLineOverTime_data();
    void readsTheLineOverTime();
};

void TestReceiveBuffer::readsFrames_data()
{
    QTest::addColumn<bool>("quiet"); // the line has been quiet for the frame gap
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<QStringList>("spans");
    QTest::addColumn<QByteArray>("rest"); // what waits for more bytes

    QTest::newRow("answer") << false << H("FF FE 42 01 02 41") << QStringList { "A 42010241" }
                            << H("");
    QTest::newRow("header 00: header and check byte only")
        << false << H("FF FE 00 AB") << QStringList { "A 00AB" } << H("");
    QTest::newRow("fifteen data bytes, nineteen in all")
        << false << H("FF FD 1F 0102030405060708090A0B0C0D0E0F EE")
        << QStringList { "B 1F0102030405060708090A0B0C0D0E0FEE" } << H("");
    QTest::newRow("check byte unverified without an inner frame start")
        << false << H("FF FD 61 02 00") << QStringList { "B 610200" } << H("");
    QTest::newRow("answers and broadcasts in the order they came")
        << false << H("FF FE 42 01 02 41 FF FD 61 02 63 FF FD 00 AB FF FE 01 04 05")
        << QStringList { "A 42010241", "B 610263", "B 00AB", "A 010405" } << H("");
    QTest::newRow("noise before, between and after frames")
        << false << H("01 02 FF FD 61 02 63 03 FE FD 9F FE FF DE 04 FF FE 42 01 02 41 07")
        << QStringList { "N 0102", "B 610263", "N 03FEFD9FFEFFDE04", "A 42010241", "N 07" }
        << H("");
    QTest::newRow("a last FF waits: it may begin a frame")
        << false << H("01 02 FF") << QStringList { "N 0102" } << H("FF");
    QTest::newRow("FF FF FE: the frame starts at the second FF")
        << false << H("FF FF FE 61 02 63") << QStringList { "N FF", "A 610263" } << H("");
    QTest::newRow("frame start alone waits") << false << H("FF FD") << QStringList {} << H("FF FD");
    QTest::newRow("incomplete frame at the end waits")
        << false << H("FF FD 61 02 63 FF FE 42 01") << QStringList { "B 610263" }
        << H("FF FE 42 01");
    QTest::newRow("an incomplete frame hides what follows until it completes")
        << false << H("FF FD 0F 01 FF FD 61 02 63") << QStringList {}
        << H("FF FD 0F 01 FF FD 61 02 63");
    QTest::newRow("FF FE in a broadcast's data: the broadcast stays whole")
        << false << H("FF FD 43 FF FE 5A 18") << QStringList { "B 43FFFE5A18" } << H("");
    QTest::newRow("piece of an answer before a broadcast is noise")
        << false << H("FF FE 61 FF FD 42 01 02 41") << QStringList { "N FFFE61", "B 42010241" }
        << H("");
    QTest::newRow("fake frame start in noise around a broadcast")
        << false << H("FF FE 05 FF FD 61 02 63 00 00")
        << QStringList { "N FFFE05", "B 610263", "N 0000" } << H("");
    QTest::newRow("FF FE in broadcast data with a wrong check byte: a piece")
        << false << H("FF FD 43 FF FE 5A 00") << QStringList { "N FFFD43" } << H("FF FE 5A 00");
    QTest::newRow("check byte FF that agrees: a frame")
        << false << H("FF FD 01 FE FF") << QStringList { "B 01FEFF" } << H("");
    QTest::newRow("check byte FF that disagrees waits for the next byte")
        << false << H("FF FD 01 02 FF") << QStringList {} << H("FF FD 01 02 FF");
    QTest::newRow("... which starts an answer: a piece")
        << false << H("FF FD 01 02 FF FE 61 02 63") << QStringList { "N FFFD0102", "A 610263" }
        << H("");

    QTest::newRow("quiet: an incomplete frame is a piece up to the next frame start")
        << true << H("FF FD 0F 01 FF FD 61 02 63") << QStringList { "N FFFD0F01", "B 610263" }
        << H("");
    QTest::newRow("quiet: a piece with no frame start after it is noise to its end")
        << true << H("01 FF FD 6F") << QStringList { "N 01FFFD6F" } << H("");
    QTest::newRow("quiet: pieces one after another")
        << true << H("FF FD 6F FF FE 02 FF FE 61 02") << QStringList { "N FFFD6FFFFE02FFFE6102" }
        << H("");
    QTest::newRow("quiet: frame start alone is noise")
        << true << H("FF FD") << QStringList { "N FFFD" } << H("");
    QTest::newRow("quiet: a last FF is noise")
        << true << H("01 02 FF") << QStringList { "N 0102FF" } << H("");
    QTest::newRow("quiet: a frame whose check byte FF disagrees is a frame")
        << true << H("FF FD 01 02 FF") << QStringList { "B 0102FF" } << H("");
}

void TestReceiveBuffer::readsFrames()
{
    QFETCH(bool, quiet);
    QFETCH(QByteArray, buffer);
    QFETCH(QByteArray, rest);
    const Reading reading = ReadFrames(buffer, quiet ? Line::Quiet : Line::Active);
    QTEST(Described(buffer, reading), "spans");
    QCOMPARE(buffer.mid(reading.consumed).toHex(' '), rest.toHex(' '));
}

// The reading over time, as the serial link drives it. A row's steps: "<< HEX" bytes arrive and
// are read; "+MS" time passes and the buffer is read again (as the gap's timer does); ">>" a
// request is written; "open" the port is opened. The events: "MS kind HEX" as read, "answer"
// for an answer to the request, "stale" for one that began before it.
void TestReceiveBuffer::readsTheLineOverTime_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("events");

    QTest::newRow("a piece, quiet, then the answer to a request") << QStringList { "<< FFFD6F",
        "+100", ">>", "<< FFFE6182E3" } << QStringList { "100 noise FFFD6F", "100 answer 6182E3" };
    QTest::newRow("a piece just before the answer: the answer once the line is quiet")
        << QStringList { ">>", "<< FFFD6F", "+50", "<< FFFE6182E3", "+99", "+1" }
        << QStringList { "150 noise FFFD6F", "150 answer 6182E3" };
    QTest::newRow("bytes that keep coming keep an incomplete frame waiting")
        << QStringList { "<< FFFD0611", "+90", "<< FFFE22", "+90", "<< 3344", "+90", "<< 43" }
        << QStringList { "270 broadcast 0611FFFE22334443" };
    QTest::newRow("a broadcast half received when the request is written arrives whole")
        << QStringList { "<< FFFD0611FFFE22", ">>", "<< 334443", "<< FFFE6182E3" }
        << QStringList { "0 broadcast 0611FFFE22334443", "0 answer 6182E3" };
    QTest::newRow("... a piece of one: the answer start in its data began before the request")
        << QStringList { "<< FFFD0611FFFE22", ">>", "<< 334400", "<< FFFE6182E3" }
        << QStringList { "0 noise FFFD0611", "0 stale 22334400", "0 answer 6182E3" };
    QTest::newRow("an answer that began before its request answers nothing")
        << QStringList { "<< FFFE61", ">>", "<< 82E3FFFE010706" }
        << QStringList { "0 stale 6182E3", "0 answer 010706" };
    QTest::newRow("the probe after another port's piece: the port starts clean")
        << QStringList { "<< FFFD0F01", "open", ">>", "<< FFFE6182E3" }
        << QStringList { "0 answer 6182E3" };
    QTest::newRow("the probe after a replug: what the device sent before is gone")
        << QStringList { "<< FFFD6F0102", "+40", "open", ">>", "<< FFFE61", "+10", "<< 82E3" }
        << QStringList { "50 answer 6182E3" };
}

void TestReceiveBuffer::readsTheLineOverTime()
{
    QFETCH(QStringList, steps);
    QByteArray buffer;
    FrameReader reader(buffer);
    qint64 now = 0;
    QStringList events;
    const auto read = [&] {
        const FrameReader::Batch batch = reader.read(now);
        for (const Span &span : batch.spans) {
            QString event = QString::number(now);
            if (span.kind == Span::Kind::Noise)
                event += " noise " + Hex(span.bytes(batch.bytes));
            else if (span.kind == Span::Kind::Broadcast)
                event += " broadcast " + Hex(span.message(batch.bytes));
            else if (reader.predatesRequest(batch, span))
                event += " stale " + Hex(span.message(batch.bytes));
            else
                event += " answer " + Hex(span.message(batch.bytes));
            events << event;
        }
    };
    for (const QString &step : steps) {
        if (step == ">>") {
            reader.markRequest();
        } else if (step == "open") {
            reader.clear();
        } else if (step.startsWith("<< ")) {
            reader.append(QByteArray::fromHex(step.mid(3).toLatin1()), now);
            read();
        } else {
            now += step.mid(1).toInt();
            read();
        }
        QCOMPARE(reader.gapEndsAt().has_value(), !buffer.isEmpty());
    }
    QTEST(events, "events");
}

QTEST_GUILESS_MAIN(TestReceiveBuffer)
#include "test_receive_buffer.moc"
