// The pure rules of the server, each once: command lines, the line intake, programming mode,
// hex lines, the idle rule, slots, the command ring, stored values and the service status.

#include "app/service_notifier.h"
#include "core/command_line.h"
#include "core/command_ring.h"
#include "core/hex_line.h"
#include "core/idle.h"
#include "core/line_intake.h"
#include "core/prog_mode.h"
#include "core/protocol.h"
#include "core/slot_search.h"
#include "core/stored_settings.h"

#include <QtTest>

Q_DECLARE_METATYPE(ProgModeEffect)
Q_DECLARE_METATYPE(ServiceStatus)

class TestRules : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void translatesCommandLines_data();
    void translatesCommandLines();
    void takesLineText_data();
    void takesLineText();
    void classifiesProgMode_data();
    void classifiesProgMode();
    void formatsHexLines_data();
    void formatsHexLines();
    void recognisesAnswerText_data();
    void recognisesAnswerText();
    void testsIdle_data();
    void testsIdle();
    void findsFreeSlot_data();
    void findsFreeSlot();
    void ringKeepsOrderAndNeverOverwrites();
    void parsesStoredPort_data();
    void parsesStoredPort();
    void statesServiceStatus_data();
    void statesServiceStatus();
};

// The command's bytes in hex, "-" for a malformed line (answered 6180E1, not queued).
void TestRules::translatesCommandLines_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("command"); // hex
    const auto row = [](const char *name, const QByteArray &line, const char *command) {
        QTest::newRow(name) << line << QByteArray(command);
    };
    row("upper case, CR", "2181A0\r", "2181A0");
    row("lower case, spaced pairs, CR LF", "21 81 a0\r\n", "2181A0");
    row("letters beyond F and bytes above 127 ignored",
        "G2\xC3\xA4"
        "1Z81xA0\r",
        "2181A0");
    row("long line of separators", QByteArray(40000, ' ') + "2181A0\r", "2181A0");
    row("header 00: four digits", "0000\r", "0000");
    row("sixteen digits, header 06", "0623456789abcdef\r", "0623456789ABCDEF");
    row("0x prefixes: the 0 counts", "0x40 0x12 0x34 0x56\r", "040012034056");
    row("check byte not judged", "42010200\r", "42010200");
    row("high bits of the header do not count", "F20203F3\r", "F20203F3");
    row("CR alone", "\r", "-");
    row("two digits", "21\r", "-");
    row("odd count", "2181A\r", "-");
    row("eighteen digits, though the header agrees", "0723456789ABCDEF01\r", "-");
    row("three 0x pairs: nine digits", "0x21 0x81 0xA0\r", "-");
    row("a data byte announced, none there", "0101\r", "-");
    row("two announced, one there", "420102\r", "-");
    row("one byte more than announced", "2181A000\r", "-");
}

void TestRules::translatesCommandLines()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, command);
    const std::optional<QByteArray> translated = TranslateCommandLine(line);
    QCOMPARE(translated ? HexText(*translated) : QByteArray("-"), command);
}

void TestRules::takesLineText_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<bool>("discarding");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("bufferAfter");
    QTest::addColumn<bool>("discardingAfter");
    QTest::addColumn<int>("overlong");
    QTest::addColumn<bool>("complete");

    const QByteArray full(32766, 'A');
    QTest::newRow("text collects") << QByteArray("21") << false << QByteArray("81")
                                   << QByteArray("2181") << false << 0 << false;
    QTest::newRow("the first CR ends the line, what follows goes")
        << QByteArray("21") << false << QByteArray("81A0\r2000\r") << QByteArray("2181A0\r")
        << false << 0 << true;
    QTest::newRow("a line of the limit is kept")
        << QByteArray() << false << full + "\r" << full + "\r" << false << 0 << true;
    QTest::newRow("one past the limit: one error, then discarding")
        << full << false << QByteArray("A") << QByteArray() << true << 1 << false;
    QTest::newRow("discarding ends with its CR, which is no line")
        << QByteArray() << true << QByteArray("AA\r2181A0\r") << QByteArray("2181A0\r") << false
        << 0 << true;
    QTest::newRow("two overlong lines in one piece")
        << QByteArray() << false << full + "A\r" + full + "A" << QByteArray() << true << 2 << false;
}

void TestRules::takesLineText()
{
    QFETCH(QByteArray, buffer);
    QFETCH(bool, discarding);
    QFETCH(QByteArray, data);
    const LineIntake intake = TakeText(buffer, discarding, data);
    QTEST(buffer, "bufferAfter");
    QTEST(discarding, "discardingAfter");
    QTEST(intake.overlongLines, "overlong");
    QTEST(intake.lineComplete, "complete");
}

void TestRules::classifiesProgMode_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<ProgModeEffect>("effect");
    for (const char *enter : { "2211", "2215AABB", "231200", "2316", "23170134" })
        QTest::newRow(enter) << QByteArray::fromHex(enter) << ProgModeEffect::Enter;
    QTest::newRow("21 81 A0 leaves") << QByteArray::fromHex("2181A000") << ProgModeEffect::Leave;
    for (const char *other : { "2181", "2181A1", "221400", "231500", "22", "002211" })
        QTest::newRow(other) << QByteArray::fromHex(other) << ProgModeEffect::None;
}

void TestRules::classifiesProgMode()
{
    QFETCH(QByteArray, command);
    QTEST(ClassifyProgMode(command), "effect");
}

void TestRules::formatsHexLines_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("notice") << QByteArray::fromHex("610263") << QByteArray("610263\r\n");
    QTest::newRow("leading zeros, upper case")
        << QByteArray("\x00\x0F\xFF", 3) << QByteArray("000FFF\r\n");
    QTest::newRow("empty message: the line end alone") << QByteArray() << QByteArray("\r\n");
}

void TestRules::formatsHexLines()
{
    QFETCH(QByteArray, message);
    QTEST(HexLine(message), "line");
}

// What qx-client takes for an answer line (without its CR LF).
void TestRules::recognisesAnswerText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("answer");
    QTest::newRow("upper case pairs") << QByteArray("2181A0") << true;
    QTest::newRow("lower case pairs") << QByteArray("2181a0") << true;
    QTest::newRow("nothing") << QByteArray() << false;
    QTest::newRow("an odd count") << QByteArray("2181A") << false;
    QTest::newRow("spaces between the pairs") << QByteArray("21 81 A0") << false;
    QTest::newRow("a letter beyond F") << QByteArray("2181G0") << false;
    QTest::newRow("text") << QByteArray("Hello") << false;
}

void TestRules::recognisesAnswerText()
{
    QFETCH(QByteArray, text);
    QTEST(IsHexText(text), "answer");
}

void TestRules::testsIdle_data()
{
    QTest::addColumn<qint64>("elapsed"); // seconds since the last activity
    QTest::addColumn<bool>("idle");
    QTest::newRow("60 s: not yet") << qint64(60) << false;
    QTest::newRow("61 s: idle") << qint64(61) << true;
    QTest::newRow("a time 60 s ahead: not yet") << qint64(-60) << false;
    QTest::newRow("a time 61 s ahead (clock set back): idle") << qint64(-61) << true;
}

void TestRules::testsIdle()
{
    QFETCH(qint64, elapsed);
    QTEST(IsIdle(1000 + elapsed, 1000), "idle");
}

void TestRules::findsFreeSlot_data()
{
    QTest::addColumn<QList<int>>("inUse");
    QTest::addColumn<int>("slot");
    QList<int> all;
    for (int slot = 1; slot <= 100; ++slot)
        all << slot;
    QTest::newRow("none in use: 1") << QList<int> {} << 1;
    QTest::newRow("the lowest free one") << QList<int> { 2, 3 } << 1;
    QTest::newRow("after the ones in use") << QList<int> { 1, 2 } << 3;
    QTest::newRow("all 100 in use: the overflow slot 101") << all << 101;
}

void TestRules::findsFreeSlot()
{
    QFETCH(QList<int>, inUse);
    SlotFlags flags {};
    for (int slot : inUse)
        flags[slot] = 1;
    QTEST(FindFreeSlot(flags, 100), "slot");
}

void TestRules::ringKeepsOrderAndNeverOverwrites()
{
    CommandRing ring;
    for (int lap = 0; lap < 3; ++lap) { // across the wrap from 100 to 0
        for (int i = 0; i < 100; ++i)
            QVERIFY(ring.put({ QByteArray(1, char(i)), i, quint64(i) }));
        QVERIFY(!ring.put({ "lost", 0, 0 })); // full: refused, nothing overwritten
        for (int i = 0; i < 100; ++i)
            QCOMPARE(ring.take()->command, QByteArray(1, char(i)));
        QVERIFY(!ring.take());
    }
    QCOMPARE(ring.queueOut(), 98); // 300 takes around a ring of 101 positions
}

void TestRules::parsesStoredPort_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("port");
    QTest::newRow("a port") << "7" << 7;
    QTest::newRow("halves to even: 2.5") << "2.5" << 2;
    QTest::newRow("halves to even: 3.5") << "3.5" << 4;
    QTest::newRow("the number at the start") << " 12abc" << 12;
    QTest::newRow("an exponent") << "1e1" << 10;
    QTest::newRow("30 is the last") << "30" << 30;
    QTest::newRow("31 is out of range") << "31" << 0;
    QTest::newRow("-1 is out of range") << "-1" << 0;
    QTest::newRow("no number") << "abc" << 0;
}

void TestRules::parsesStoredPort()
{
    QFETCH(QString, text);
    QTEST(ParseStoredPort(text), "port");
}

void TestRules::statesServiceStatus_data()
{
    QTest::addColumn<ServiceStatus>("status");
    QTest::addColumn<QString>("text");
    using Phase = ServiceStatus::Phase;
    QTest::newRow("searching says nothing of clients or a port")
        << ServiceStatus { Phase::Searching, QString(), 3, 2, true } << "searching the device";
    QTest::newRow("running names the port and both counts")
        << ServiceStatus { Phase::Running, "/dev/ttyUSB0", 3, 2, false }
        << "running: device on /dev/ttyUSB0, 3 command and 2 broadcast clients";
    QTest::newRow("one broadcast client is one client")
        << ServiceStatus { Phase::Running, "/dev/ttyUSB0", 0, 1, false }
        << "running: device on /dev/ttyUSB0, 0 command and 1 broadcast client";
    QTest::newRow("programming mode stands alone")
        << ServiceStatus { Phase::Running, "/dev/ttyUSB0", 1, 2, true } << "programming mode";
}

void TestRules::statesServiceStatus()
{
    QFETCH(ServiceStatus, status);
    QTEST(ServiceStatusText(status), "text");
}

QTEST_GUILESS_MAIN(TestRules)
#include "test_rules.moc"
