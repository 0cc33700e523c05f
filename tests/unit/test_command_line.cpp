// The text side of the command service: request lines into device bytes, and
// device bytes into answer lines.

#include "core/command_line.h"
#include "core/hex_line.h"
#include "core/prog_mode.h"
#include "core/protocol.h"
#include "core/receive_buffer.h"

#include <QtTest>

class TestCommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void translatesValidLines_data();
    void translatesValidLines();
    void refusesMalformedLines_data();
    void refusesMalformedLines();
    void formatsHexLines_data();
    void formatsHexLines();
    void hexLineOfACommandTranslatesBack();
};

void TestCommandLine::translatesValidLines_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("command");

    const QByteArray leave = QByteArray::fromHex("2181A0");
    QTest::newRow("upper case with carriage return") << QByteArray("2181A0\r") << leave;
    QTest::newRow("lower case, spaced pairs, CR LF") << QByteArray("21 81 a0\r\n") << leave;
    QTest::newRow("mixed case digits") << QByteArray("2181a0\r") << leave;
    QTest::newRow("commas and tabs between digits") << QByteArray("2,1\t8,1 A 0\r") << leave;
    QTest::newRow("letters beyond F are ignored") << QByteArray("G21Z81xA0\r") << leave;
    QTest::newRow("letters beyond F do not cause the error") << QByteArray("2181A0 GHZ\r") << leave;
    QTest::newRow("bytes above 127 are ignored") << QByteArray("\xC3\xA4"
                                                               "21\xFF"
                                                               "81\xE1"
                                                               "A0\r")
                                                 << leave;
    QTest::newRow("four digits are the shortest command")
        << QByteArray("0000\r") << QByteArray::fromHex("0000");
    QTest::newRow("sixteen digits make eight bytes")
        << QByteArray("0623456789abcdef\r") << QByteArray::fromHex("0623456789ABCDEF");
    QTest::newRow("sixteen digits with separators")
        << QByteArray("06,23,45,67,89,AB,CD,EF\r") << QByteArray::fromHex("0623456789ABCDEF");
    QTest::newRow("0x prefixes: the 0 counts, twelve digits")
        << QByteArray("0x40 0x12 0x34 0x56\r") << QByteArray::fromHex("040012034056");
    QTest::newRow("header with two data bytes: the probe")
        << QByteArray("F20203F3\r") << QByteArray::fromHex("F20203F3");
    QTest::newRow("header with one data byte")
        << QByteArray("42010241\r") << QByteArray::fromHex("42010241");
    QTest::newRow("check byte is the device's to judge")
        << QByteArray("42010200\r") << QByteArray::fromHex("42010200");
    QTest::newRow("high bits of the header do not count")
        << QByteArray("F6 01 02 03 04 05 06 07\r") << QByteArray::fromHex("F601020304050607");
    QTest::newRow("high digit first") << QByteArray("F00F\r") << QByteArray::fromHex("F00F");
    QTest::newRow("long line of separators around a short command")
        << QByteArray(40000, ' ') + "2181A0" + QByteArray(40000, '-') + "\r" << leave;
}

void TestCommandLine::translatesValidLines()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, command);

    const std::optional<QByteArray> translated = TranslateCommandLine(line);
    QVERIFY(translated.has_value());
    QCOMPARE(*translated, command);
}

void TestCommandLine::refusesMalformedLines_data()
{
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("carriage return alone") << QByteArray("\r");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("two digits") << QByteArray("21\r");
    QTest::newRow("three digits") << QByteArray("218\r");
    QTest::newRow("odd count of five") << QByteArray("2181A\r");
    QTest::newRow("odd count of fifteen") << QByteArray("0123456789ABCDE\r");
    QTest::newRow("seventeen digits") << QByteArray("0123456789ABCDEF0\r");
    QTest::newRow("eighteen digits") << QByteArray("0123456789ABCDEF01\r");
    QTest::newRow("far too many digits") << QByteArray(1000, 'A') + "\r";
    QTest::newRow("three 0x pairs make nine digits") << QByteArray("0x21 0x81 0xA0\r");
    QTest::newRow("letters beyond F do not count") << QByteArray("GHIJKLMN\r");
    QTest::newRow("two digits among ignored letters") << QByteArray("xx21yyzz\r");
    QTest::newRow("header announces a data byte that is missing") << QByteArray("0101\r");
    QTest::newRow("header announces two data bytes, one follows") << QByteArray("420102\r");
    QTest::newRow("one byte more than the header announces") << QByteArray("2181A000\r");
    QTest::newRow("eight bytes under a header of none") << QByteArray("0023456789ABCDEF\r");
}

void TestCommandLine::refusesMalformedLines()
{
    QFETCH(QByteArray, line);
    QVERIFY(!TranslateCommandLine(line).has_value());
}

void TestCommandLine::formatsHexLines_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("programming-mode notice")
        << Protocol::ProgModeNotice() << QByteArray("610263\r\n");
    QTest::newRow("leading zeros and FF")
        << QByteArray("\x00\x0F\xFF", 3) << QByteArray("000FFF\r\n");
    QTest::newRow("upper-case letters")
        << QByteArray::fromHex("abcdef") << QByteArray("ABCDEF\r\n");
    QTest::newRow("time-out answer") << Protocol::TimeoutAnswer() << QByteArray("010100\r\n");
    QTest::newRow("empty message is the line end alone") << QByteArray() << QByteArray("\r\n");
    QTest::newRow("longest message, seventeen bytes")
        << QByteArray::fromHex("0F0102030405060708090A0B0C0D0E0F0F")
        << QByteArray("0F0102030405060708090A0B0C0D0E0F0F\r\n");
}

void TestCommandLine::formatsHexLines()
{
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, line);

    QCOMPARE(HexLine(message), line);
    QCOMPARE(HexText(message) + "\r\n", line);
}

void TestCommandLine::hexLineOfACommandTranslatesBack()
{
    // What the server logs or answers in hex must read back as the same bytes
    // when a client sends it as a command, for every length a command may have.
    for (int length = 1; length <= 8; ++length) {
        QByteArray command;
        for (int i = 0; i < length; ++i)
            command.append(static_cast<char>(0xF7 - 0x23 * i));
        command[0] = static_cast<char>(0xF0 | (length - 2)); // the header announces the rest
        const std::optional<QByteArray> translated = TranslateCommandLine(HexLine(command));
        if (length < 2) {
            QVERIFY(!translated.has_value());
            continue;
        }
        QVERIFY2(translated.has_value(), HexText(command).constData());
        QCOMPARE(*translated, command);
    }
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_command_line.moc"
