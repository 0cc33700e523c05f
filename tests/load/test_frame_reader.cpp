// Cutting the device's raw byte stream into frames, and a service's text into lines.

#include "frame_reader.h"

#include <QtTest>

class TestFrameReader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cutsFrames_data();
    void cutsFrames();
    void cutsLines_data();
    void cutsLines();
};

void TestFrameReader::cutsFrames_data()
{
    QTest::addColumn<QByteArrayList>("pieces"); // hex, as they arrive
    QTest::addColumn<QByteArrayList>("frames"); // "A:" answer or "B:" broadcast, then the message

    QTest::newRow("one answer") << QByteArrayList { "FFFE6182E3" } << QByteArrayList { "A:6182E3" };
    QTest::newRow("one broadcast")
        << QByteArrayList { "FFFD610263" } << QByteArrayList { "B:610263" };
    QTest::newRow("a frame in three pieces")
        << QByteArrayList { "FF", "FE61", "82E3" } << QByteArrayList { "A:6182E3" };
    QTest::newRow("two frames in one piece")
        << QByteArrayList { "FFFD610263FFFE6182E3" } << QByteArrayList { "B:610263", "A:6182E3" };
    QTest::newRow("garbage before a frame is skipped")
        << QByteArrayList { "0102FF00FFFFFE6182E3" } << QByteArrayList { "A:6182E3" };
    QTest::newRow("a header without data bytes: two-byte message")
        << QByteArrayList { "FFFE0000" } << QByteArrayList { "A:0000" };
    QTest::newRow("the longest message") << QByteArrayList { "FFFD4F000102030405060708090A0B0C0D0E",
        "44" } << QByteArrayList { "B:4F000102030405060708090A0B0C0D0E44" };
    QTest::newRow("an incomplete frame waits")
        << QByteArrayList { "FFFE6182" } << QByteArrayList {};
}

void TestFrameReader::cutsFrames()
{
    QFETCH(QByteArrayList, pieces);
    QFETCH(QByteArrayList, frames);

    FrameReader reader;
    QByteArrayList cut;
    for (const QByteArray &piece : pieces) {
        for (const FrameReader::Frame &frame : reader.take(QByteArray::fromHex(piece)))
            cut.append((frame.broadcast ? "B:" : "A:") + frame.message.toHex().toUpper());
    }
    QCOMPARE(cut, frames);
}

void TestFrameReader::cutsLines_data()
{
    QTest::addColumn<QByteArrayList>("pieces");
    QTest::addColumn<QByteArrayList>("lines");
    QTest::addColumn<QByteArray>("rest");

    QTest::newRow("one line") << QByteArrayList { "6182E3\r\n" } << QByteArrayList { "6182E3" }
                              << QByteArray();
    QTest::newRow("a line end split between pieces")
        << QByteArrayList { "6182E3\r", "\n010100\r\n" } << QByteArrayList { "6182E3", "010100" }
        << QByteArray();
    QTest::newRow("a carriage return alone ends no line")
        << QByteArrayList { "61\r82\r\n" } << QByteArrayList { "61\r82" } << QByteArray();
    QTest::newRow("a refusal has no line end")
        << QByteArrayList { "Sorry, I could not", " accept your connection request" }
        << QByteArrayList {} << QByteArray("Sorry, I could not accept your connection request");
    QTest::newRow("an empty line")
        << QByteArrayList { "\r\n" } << QByteArrayList { "" } << QByteArray();
}

void TestFrameReader::cutsLines()
{
    QFETCH(QByteArrayList, pieces);
    QFETCH(QByteArrayList, lines);
    QFETCH(QByteArray, rest);

    LineReader reader;
    QByteArrayList cut;
    for (const QByteArray &piece : pieces)
        cut += reader.take(piece);
    QCOMPARE(cut, lines);
    QCOMPARE(reader.rest(), rest);
}

QTEST_APPLESS_MAIN(TestFrameReader)
#include "test_frame_reader.moc"
