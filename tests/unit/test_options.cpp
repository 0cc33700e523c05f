// The command line of qx-server.

#include "app/options.h"

#include <QtTest>

namespace {

ParsedOptions Parse(QStringList arguments)
{
    arguments.prepend(QStringLiteral("qx-server"));
    return ParseOptions(arguments);
}

} // namespace

class TestOptions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsOptions_data();
    void readsOptions();
    void refusesBadOptions_data();
    void refusesBadOptions();
    void pointsAndPinsSerialPorts_data();
    void pointsAndPinsSerialPorts();
    void showsHelpAndVersion();
};

// What the options give, written "headless simulate verbose settings command/broadcast listen".
void TestOptions::readsOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("options");
    QTest::newRow("no options: the desktop program with defaults")
        << QStringList {} << "- - - () 5550/5551 any";
    QTest::newRow("everything at once") << QStringList { "--headless", "--simulate", "--verbose",
        "--settings=/tmp/qx.ini", "--command-port", "6000", "--broadcast-port", "1", "--listen",
        "::1" } << "headless simulate verbose (/tmp/qx.ini) 6000/1 ::1";
    QTest::newRow("swapped TCP ports") << QStringList { "--command-port=5551",
        "--broadcast-port=5550" } << "- - - () 5551/5550 any";
}

void TestOptions::readsOptions()
{
    QFETCH(QStringList, arguments);
    const ParsedOptions parsed = Parse(arguments);
    QVERIFY2(!parsed.exitNow, qPrintable(parsed.output));
    const Options &o = parsed.options;
    const QString listen
        = o.listenAddress == QHostAddress::Any ? "any" : o.listenAddress.toString();
    QTEST(QStringLiteral("%1 %2 %3 (%4) %5/%6 %7")
              .arg(o.headless ? "headless" : "-", o.simulate ? "simulate" : "-",
                  o.verbose ? "verbose" : "-", o.settingsFile)
              .arg(o.commandPort)
              .arg(o.broadcastPort)
              .arg(listen),
        "options");
}

void TestOptions::refusesBadOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("named"); // what the error text names
    QTest::newRow("port number 31") << QStringList { "--port", "31=/dev/x" } << "31=/dev/x";
    QTest::newRow("port without =") << QStringList { "--port", "/dev/ttyUSB0" } << "/dev/ttyUSB0";
    QTest::newRow("port with an empty path") << QStringList { "--port", "1=" } << "1=";
    QTest::newRow("command port 65536")
        << QStringList { "--command-port", "65536" } << "--command-port";
    QTest::newRow("the same TCP port twice")
        << QStringList { "--command-port", "5551" } << "two different";
    QTest::newRow("listen on a name") << QStringList { "--listen", "nowhere" } << "nowhere";
    QTest::newRow("the same port twice")
        << QStringList { "--port", "1=/a", "--port", "1=/b" } << "port 1 more than once";
    QTest::newRow("the simulated device's port given as well")
        << QStringList { "--simulate", "--port", "1=/dev/ttyUSB0" } << "--simulate";
    QTest::newRow("a setting given twice, though alike") << QStringList { "--settings",
        "/tmp/a.ini", "--settings=/tmp/a.ini" } << "--settings given more than once";
    QTest::newRow("unknown option") << QStringList { "--bogus" } << "bogus";
    QTest::newRow("stray argument") << QStringList { "extra" } << "extra";
}

void TestOptions::refusesBadOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, named);
    const ParsedOptions parsed = Parse(arguments);
    QVERIFY(parsed.exitNow);
    QCOMPARE(parsed.exitStatus, 2);
    QVERIFY2(parsed.output.startsWith(QStringLiteral("qx-server: "))
            && parsed.output.contains(named)
            && parsed.output.contains(QStringLiteral("Try 'qx-server --help'")),
        qPrintable(parsed.output));
}

// Port K's path after the options, and the numbers a search tries.
void TestOptions::pointsAndPinsSerialPorts_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QList<int>>("searched");
    QList<int> all;
    for (int number = 1; number <= 30; ++number)
        all << number;
    QTest::newRow("defaults: USB adapters first") << QStringList {} << 1 << "/dev/ttyUSB0" << all;
    QTest::newRow("defaults: ACM devices from 11") << QStringList {} << 20 << "/dev/ttyACM9" << all;
    QTest::newRow("defaults: serial ports from 21") << QStringList {} << 21 << "/dev/ttyS0" << all;
    QTest::newRow("a port given: only it is searched")
        << QStringList { "--port", "7=/dev/serial/by-id/usb-x=y" } << 7
        << "/dev/serial/by-id/usb-x=y" << QList<int> { 7 };
    QTest::newRow("two given, in ascending order; a number not given names nothing")
        << QStringList { "--port", "12=/b", "--port=3=/a" } << 2 << "" << QList<int> { 3, 12 };
}

void TestOptions::pointsAndPinsSerialPorts()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, number);
    const ParsedOptions parsed = Parse(arguments);
    QVERIFY2(!parsed.exitNow, qPrintable(parsed.output));
    QTEST(parsed.options.ports.path(number), "path");
    QTEST(parsed.options.ports.searchNumbers(), "searched");
}

void TestOptions::showsHelpAndVersion()
{
    const ParsedOptions help = Parse({ "--headless", "--help" });
    QVERIFY(help.exitNow);
    QCOMPARE(help.exitStatus, 0);
    for (const char *text : { "Usage: qx-server [options]\n", "--headless", "--settings", "--port",
             "--simulate", "--command-port", "--broadcast-port", "--listen", "--verbose",
             "--version", "Exit status:", "  0  ended", "  1  cannot serve", "  2  bad command" })
        QVERIFY2(help.output.contains(QLatin1String(text)), text);
    QCOMPARE(Parse({ "--version" }).output, QStringLiteral("qx-server " QX_VERSION "\n"));
}

QTEST_GUILESS_MAIN(TestOptions)
#include "test_options.moc"
