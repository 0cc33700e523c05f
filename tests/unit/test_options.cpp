// The qx-server command line and the serial port numbers it can re-point.

#include "app/options.h"

#include <QtTest>

namespace {

ParsedOptions Parse(const QStringList &arguments)
{
    return ParseOptions(QStringList { QStringLiteral("qx-server") } + arguments);
}

} // namespace

class TestOptions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parsesOptions_data();
    void parsesOptions();
    void repointsSerialPorts_data();
    void repointsSerialPorts();
    void refusesBadOptions_data();
    void refusesBadOptions();
    void showsHelpAndVersion_data();
    void showsHelpAndVersion();
    void namesDefaultDevicePaths_data();
    void namesDefaultDevicePaths();
    void pinsTheSearchToTheGivenPorts_data();
    void pinsTheSearchToTheGivenPorts();
};

void TestOptions::parsesOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("headless");
    QTest::addColumn<bool>("simulate");
    QTest::addColumn<bool>("verbose");
    QTest::addColumn<QString>("settingsFile");
    QTest::addColumn<int>("commandPort");
    QTest::addColumn<int>("broadcastPort");
    QTest::addColumn<QString>("listen"); // empty: all addresses

    QTest::newRow("no options: the desktop program with defaults")
        << QStringList() << false << false << false << QString() << 5550 << 5551 << QString();
    QTest::newRow("headless") << QStringList { "--headless" } << true << false << false << QString()
                              << 5550 << 5551 << QString();
    QTest::newRow("simulate") << QStringList { "--simulate" } << false << true << false << QString()
                              << 5550 << 5551 << QString();
    QTest::newRow("verbose") << QStringList { "--verbose" } << false << false << true << QString()
                             << 5550 << 5551 << QString();
    QTest::newRow("settings file") << QStringList { "--settings", "/tmp/qx.ini" } << false << false
                                   << false << "/tmp/qx.ini" << 5550 << 5551 << QString();
    QTest::newRow("settings file with =")
        << QStringList { "--settings=/tmp/qx.ini" } << false << false << false << "/tmp/qx.ini"
        << 5550 << 5551 << QString();
    QTest::newRow("both TCP ports")
        << QStringList { "--command-port", "6000", "--broadcast-port", "6001" } << false << false
        << false << QString() << 6000 << 6001 << QString();
    QTest::newRow("swapped TCP ports")
        << QStringList { "--command-port=5551", "--broadcast-port=5550" } << false << false << false
        << QString() << 5551 << 5550 << QString();
    QTest::newRow("highest TCP port") << QStringList { "--command-port", "65535" } << false << false
                                      << false << QString() << 65535 << 5551 << QString();
    QTest::newRow("lowest TCP port") << QStringList { "--broadcast-port", "1" } << false << false
                                     << false << QString() << 5550 << 1 << QString();
    QTest::newRow("listen on IPv4 loopback")
        << QStringList { "--listen", "127.0.0.1" } << false << false << false << QString() << 5550
        << 5551 << "127.0.0.1";
    QTest::newRow("listen on IPv6 loopback") << QStringList { "--listen", "::1" } << false << false
                                             << false << QString() << 5550 << 5551 << "::1";
    QTest::newRow("everything at once")
        << QStringList { "--headless", "--simulate", "--verbose", "--settings", "s.ini",
               "--command-port", "7000", "--broadcast-port", "7001", "--listen", "127.0.0.1" }
        << true << true << true << "s.ini" << 7000 << 7001 << "127.0.0.1";
}

void TestOptions::parsesOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, headless);
    QFETCH(bool, simulate);
    QFETCH(bool, verbose);
    QFETCH(QString, settingsFile);
    QFETCH(int, commandPort);
    QFETCH(int, broadcastPort);
    QFETCH(QString, listen);

    const ParsedOptions parsed = Parse(arguments);
    QVERIFY2(!parsed.exitNow, qPrintable(parsed.output));
    const Options &options = parsed.options;
    QCOMPARE(options.headless, headless);
    QCOMPARE(options.simulate, simulate);
    QCOMPARE(options.verbose, verbose);
    QCOMPARE(options.settingsFile, settingsFile);
    QCOMPARE(int(options.commandPort), commandPort);
    QCOMPARE(int(options.broadcastPort), broadcastPort);
    const QHostAddress address
        = listen.isEmpty() ? QHostAddress(QHostAddress::Any) : QHostAddress(listen);
    QCOMPARE(options.listenAddress, address);
}

void TestOptions::repointsSerialPorts_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("path");

    QTest::newRow("port 1 re-pointed")
        << QStringList { "--port", "1=/dev/pts/7" } << 1 << "/dev/pts/7";
    QTest::newRow("port 30 re-pointed")
        << QStringList { "--port=30=/tmp/qx-link" } << 30 << "/tmp/qx-link";
    QTest::newRow("other ports keep their default")
        << QStringList { "--port", "1=/dev/pts/7" } << 2 << "/dev/ttyUSB1";
    QTest::newRow("repeated for two ports, first")
        << QStringList { "--port", "3=/a", "--port", "12=/b" } << 3 << "/a";
    QTest::newRow("repeated for two ports, second")
        << QStringList { "--port", "3=/a", "--port", "12=/b" } << 12 << "/b";
    QTest::newRow("same port twice: the last wins")
        << QStringList { "--port", "5=/a", "--port", "5=/b" } << 5 << "/b";
    QTest::newRow("path with an = sign") << QStringList { "--port", "2=/dev/serial/by-id/usb-x=y" }
                                         << 2 << "/dev/serial/by-id/usb-x=y";
}

void TestOptions::repointsSerialPorts()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, number);
    QFETCH(QString, path);

    const ParsedOptions parsed = Parse(arguments);
    QVERIFY2(!parsed.exitNow, qPrintable(parsed.output));
    QCOMPARE(parsed.options.ports.path(number), path);
}

void TestOptions::refusesBadOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("mentions");

    QTest::newRow("port number 0") << QStringList { "--port", "0=/dev/x" } << "0=/dev/x";
    QTest::newRow("port number 31") << QStringList { "--port", "31=/dev/x" } << "31=/dev/x";
    QTest::newRow("port without =") << QStringList { "--port", "/dev/ttyUSB0" } << "/dev/ttyUSB0";
    QTest::newRow("port with empty path") << QStringList { "--port", "1=" } << "1=";
    QTest::newRow("port without number") << QStringList { "--port", "=/dev/x" } << "=/dev/x";
    QTest::newRow("port number not a number")
        << QStringList { "--port", "one=/dev/x" } << "one=/dev/x";
    QTest::newRow("port without value") << QStringList { "--port" } << "port";
    QTest::newRow("command port 0") << QStringList { "--command-port", "0" } << "--command-port";
    QTest::newRow("command port 65536")
        << QStringList { "--command-port", "65536" } << "--command-port";
    QTest::newRow("command port negative")
        << QStringList { "--command-port", "-1" } << "--command-port";
    QTest::newRow("command port not a number")
        << QStringList { "--command-port", "http" } << "--command-port";
    QTest::newRow("broadcast port 0")
        << QStringList { "--broadcast-port", "0" } << "--broadcast-port";
    QTest::newRow("broadcast port empty")
        << QStringList { "--broadcast-port=" } << "--broadcast-port";
    QTest::newRow("same TCP port twice")
        << QStringList { "--command-port", "6000", "--broadcast-port", "6000" } << "different";
    QTest::newRow("command port on the default broadcast port")
        << QStringList { "--command-port", "5551" } << "different";
    QTest::newRow("broadcast port on the default command port")
        << QStringList { "--broadcast-port", "5550" } << "different";
    QTest::newRow("listen on a name") << QStringList { "--listen", "nowhere" } << "nowhere";
    QTest::newRow("listen on a bad address")
        << QStringList { "--listen", "300.1.1.1" } << "300.1.1.1";
    QTest::newRow("listen on nothing") << QStringList { "--listen=" } << "--listen";
    QTest::newRow("unknown option") << QStringList { "--bogus" } << "bogus";
    QTest::newRow("settings without file") << QStringList { "--settings" } << "settings";
    QTest::newRow("stray argument") << QStringList { "extra" } << "extra";
}

void TestOptions::refusesBadOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, mentions);

    const ParsedOptions parsed = Parse(arguments);
    QVERIFY(parsed.exitNow);
    QCOMPARE(parsed.exitStatus, 2);
    QVERIFY2(parsed.output.contains(mentions), qPrintable(parsed.output));
    QVERIFY2(parsed.output.startsWith(QStringLiteral("qx-server: ")), qPrintable(parsed.output));
}

void TestOptions::showsHelpAndVersion_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("mentions");

    const QStringList everyOption { "Usage: qx-server [options]", "--headless", "--settings",
        "--port", "--simulate", "--command-port", "--broadcast-port", "--listen", "--verbose",
        "--help", "--version", "Exit status:", "  0  ended", "  1  cannot serve",
        "  2  bad command line" };
    QTest::newRow("--help") << QStringList { "--help" } << everyOption;
    QTest::newRow("-h") << QStringList { "-h" } << everyOption;
    QTest::newRow("help wins over other options")
        << QStringList { "--headless", "--help" } << everyOption;
    QTest::newRow("--version") << QStringList { "--version" }
                               << QStringList { QStringLiteral("qx-server " QX_VERSION) };
}

void TestOptions::showsHelpAndVersion()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, mentions);

    const ParsedOptions parsed = Parse(arguments);
    QVERIFY(parsed.exitNow);
    QCOMPARE(parsed.exitStatus, 0);
    for (const QString &text : mentions)
        QVERIFY2(parsed.output.contains(text), qPrintable(text));
}

void TestOptions::namesDefaultDevicePaths_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("path");

    QTest::newRow("1 is the first USB adapter") << 1 << "/dev/ttyUSB0";
    QTest::newRow("10 is the last USB adapter") << 10 << "/dev/ttyUSB9";
    QTest::newRow("11 is the first ACM device") << 11 << "/dev/ttyACM0";
    QTest::newRow("20 is the last ACM device") << 20 << "/dev/ttyACM9";
    QTest::newRow("21 is the first serial port") << 21 << "/dev/ttyS0";
    QTest::newRow("30 is the last serial port") << 30 << "/dev/ttyS9";
    QTest::newRow("0 names no device") << 0 << QString();
    QTest::newRow("31 names no device") << 31 << QString();
}

void TestOptions::namesDefaultDevicePaths()
{
    QFETCH(int, number);
    QFETCH(QString, path);

    QCOMPARE(PortMap().path(number), path);
}

void TestOptions::pinsTheSearchToTheGivenPorts_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QList<int>>("searched");

    QList<int> all;
    for (int number = 1; number <= 30; ++number)
        all << number;
    QTest::newRow("no --port: all of 1 to 30") << QStringList {} << all;
    QTest::newRow("one port given: only it")
        << QStringList { "--port", "7=/dev/serial/by-id/usb-x" } << QList<int> { 7 };
    QTest::newRow("two ports given, in ascending order")
        << QStringList { "--port", "12=/b", "--port", "3=/a" } << QList<int> { 3, 12 };
    QTest::newRow("the same port twice counts once")
        << QStringList { "--port", "5=/a", "--port", "5=/b" } << QList<int> { 5 };
}

void TestOptions::pinsTheSearchToTheGivenPorts()
{
    QFETCH(QStringList, arguments);
    QFETCH(QList<int>, searched);

    const ParsedOptions parsed = Parse(arguments);
    QVERIFY2(!parsed.exitNow, qPrintable(parsed.output));
    QCOMPARE(parsed.options.ports.searchNumbers(), searched);
}

QTEST_GUILESS_MAIN(TestOptions)
#include "test_options.moc"
