#include "app/service_notifier.h"

#include <QtTest>

// The status line that "systemctl status" shows for the headless server.
class TestServiceStatus : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void text_data()
    {
        QTest::addColumn<bool>("running");
        QTest::addColumn<QString>("devicePath");
        QTest::addColumn<int>("commandClients");
        QTest::addColumn<int>("broadcastClients");
        QTest::addColumn<bool>("programmingMode");
        QTest::addColumn<QString>("text");

        QTest::newRow("searching says nothing of clients or a port")
            << false << "" << 2 << 1 << false << "searching the device";
        QTest::newRow("searching wins over a programming mode that was on when the device went")
            << false << "" << 1 << 0 << true << "searching the device";
        QTest::newRow("running names the port and both counts")
            << true << "/dev/ttyUSB0" << 3 << 2 << false
            << "running: device on /dev/ttyUSB0, 3 command and 2 broadcast clients";
        QTest::newRow("one broadcast client is one client")
            << true << "/dev/ttyACM1" << 3 << 1 << false
            << "running: device on /dev/ttyACM1, 3 command and 1 broadcast client";
        QTest::newRow("no client at all")
            << true << "/dev/serial/by-id/usb-FTDI_A1-if00-port0" << 0 << 0 << false
            << "running: device on /dev/serial/by-id/usb-FTDI_A1-if00-port0, 0 command and 0 "
               "broadcast clients";
        QTest::newRow("programming mode stands alone")
            << true << "/dev/ttyUSB0" << 1 << 4 << true << "programming mode";
    }

    void text()
    {
        QFETCH(bool, running);
        QFETCH(QString, devicePath);
        QFETCH(int, commandClients);
        QFETCH(int, broadcastClients);
        QFETCH(bool, programmingMode);
        QFETCH(QString, text);

        ServiceStatus status;
        status.phase = running ? ServiceStatus::Phase::Running : ServiceStatus::Phase::Searching;
        status.devicePath = devicePath;
        status.commandClients = commandClients;
        status.broadcastClients = broadcastClients;
        status.programmingMode = programmingMode;
        QCOMPARE(ServiceStatusText(status), text);
    }
};

QTEST_APPLESS_MAIN(TestServiceStatus)
#include "test_service_status.moc"
