// Inputs that the fuzz targets found to break a rule, kept so the rule stays
// mended.

#include "link/receive_buffer.h"

#include <QtTest>

namespace {

QByteArray H(const char *hex)
{
    return QByteArray::fromHex(hex);
}

QByteArray Hex(const QByteArray &bytes)
{
    return bytes.toHex(' ').toUpper();
}

} // namespace

class TestFuzzFindings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void dropsAnswerStartJoinedByARemoval_data();
    void dropsAnswerStartJoinedByARemoval();
};

// Removing a stale answer can put an FF that stood before it next to an FE that
// stood after it. That pair is an answer start that no request is open for; if
// it stayed, the next request's answer would be read from it and come out wrong
// (or never complete).
void TestFuzzFindings::dropsAnswerStartJoinedByARemoval_data()
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

void TestFuzzFindings::dropsAnswerStartJoinedByARemoval()
{
    QFETCH(QByteArray, buffer);
    QFETCH(QByteArray, rest);
    QFETCH(QByteArray, answer);

    ReceiveBuffer::DropStaleAnswers(buffer);
    QCOMPARE(Hex(buffer), Hex(rest));

    buffer.append(H("FF FE") + answer);
    const std::optional<QByteArray> taken = ReceiveBuffer::TakeAnswer(buffer);
    QVERIFY(taken.has_value());
    QCOMPARE(Hex(*taken), Hex(answer));
}

QTEST_APPLESS_MAIN(TestFuzzFindings)
#include "test_fuzz_findings.moc"
