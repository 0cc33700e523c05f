// The simulated device, talked to through a real pty the way the server talks
// to the hardware: QSerialPort on the slave, 57600 8N1, no flow control.

#include "sim/simulated_device.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

namespace {

QByteArray hex(const char *digits)
{
    return QByteArray::fromHex(digits);
}

// A serial port on the device's pty that collects everything it reads.
class Line
{
public:
    explicit Line(const QString &path)
    {
        m_port.setPortName(path);
        m_port.setBaudRate(QSerialPort::Baud57600);
        m_port.setDataBits(QSerialPort::Data8);
        m_port.setParity(QSerialPort::NoParity);
        m_port.setStopBits(QSerialPort::OneStop);
        m_port.setFlowControl(QSerialPort::NoFlowControl);
        QObject::connect(&m_port, &QSerialPort::readyRead, [this] {
            m_received += m_port.readAll();
            m_lastArrivalUs = m_clock.nsecsElapsed() / 1000;
        });
        m_clock.start();
        m_port.open(QIODevice::ReadWrite);
    }
    bool isOpen() const { return m_port.isOpen(); }
    void write(const QByteArray &bytes) { m_port.write(bytes); }
    const QByteArray &received() const { return m_received; }
    // Microseconds from restartClock() to the latest arrival.
    void restartClock() { m_clock.restart(); }
    qint64 lastArrivalUs() const { return m_lastArrivalUs; }
    QSerialPort &port() { return m_port; }

private:
    QSerialPort m_port;
    QByteArray m_received;
    QElapsedTimer m_clock;
    qint64 m_lastArrivalUs = 0;
};

QString simulatorProgram()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../tools/qx-sim/qx-sim");
}

// qx-sim with its link in a temporary folder; it ends with its input.
class Program
{
public:
    explicit Program(const QStringList &options = {})
        : m_link(m_dir.filePath(QStringLiteral("qx-usb")))
    {
        m_process.start(
            simulatorProgram(), QStringList { QStringLiteral("--link"), m_link } + options);
    }
    ~Program()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished();
    }
    // The slave path of the next "pty:" line; empty when none comes.
    QString nextPty()
    {
        while (!m_process.canReadLine()) {
            if (!m_process.waitForReadyRead(5000))
                return {};
        }
        const QByteArray line = m_process.readLine().trimmed();
        return line.startsWith("pty: ") ? QString::fromUtf8(line.mid(5)) : QString();
    }
    void command(const QByteArray &line) { m_process.write(line + '\n'); }
    const QString &link() const { return m_link; }
    QProcess &process() { return m_process; }

private:
    QTemporaryDir m_dir;
    QString m_link;
    QProcess m_process;
};

} // namespace

class TestSimulator : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void answersRequests_data();
    void answersRequests();
    void readsARequestByteByByte();
    void sendsBroadcastsAndRawBytes_data();
    void sendsBroadcastsAndRawBytes();
    void silentDeviceAnswersNothing();
    void noEchoWhileThePortIsClosed();
    void delayedAnswerLetsBroadcastsPass();
    void delayedAnswerDiesWithItsPlug();
    void unplugIsAHangUpForThePort();
    void replugMovesTheLink();
    void refusesToReplaceAFileWithTheLink();
    void outputForNoReaderStaysBounded();
    void requestLogKeepsTheLatest();
    void programRunsItsCommands();
    void programPacesItsLine_data();
    void programPacesItsLine();
    void programRejectsBadCommands_data();
    void programRejectsBadCommands();
    void programEndsCleanly_data();
    void programEndsCleanly();
    void programCommandLine_data();
    void programCommandLine();

private:
    bool haveProgram() const { return QFileInfo(simulatorProgram()).isExecutable(); }
};

void TestSimulator::answersRequests_data()
{
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QByteArrayList>("requests");
    QTest::addColumn<QByteArray>("answers");

    QTest::newRow("probe gets its fixed answer")
        << hex("FFFEF20203F3") << QByteArrayList { hex("F20203F3") } << hex("FFFE6182E3");
    QTest::newRow("two-byte request echoed")
        << hex("FFFE0000") << QByteArrayList { hex("0000") } << hex("FFFE0000");
    QTest::newRow("three-byte request echoed")
        << hex("FFFE010504") << QByteArrayList { hex("010504") } << hex("FFFE010504");
    const QByteArray longest = hex("0F0102030405060708090A0B0C0D0E0F0F");
    QTest::newRow("header with fifteen data bytes echoed whole")
        << "\xFF\xFE" + longest << QByteArrayList { longest } << "\xFF\xFE" + longest;
    QTest::newRow("high bits of the header do not count in the length")
        << hex("FFFEA1427D") << QByteArrayList { hex("A1427D") } << hex("FFFEA1427D");
    QTest::newRow("garbage before a request ignored")
        << hex("0102FF00FEFDFFFFFE010504") << QByteArrayList { hex("010504") } << hex("FFFE010504");
    QTest::newRow("broadcast-looking frame from the server ignored")
        << hex("FFFD010504FFFE0000") << QByteArrayList { hex("0000") } << hex("FFFE0000");
    QTest::newRow("two requests in one write answered in order")
        << hex("FFFE010504FFFEF20203F3") << QByteArrayList { hex("010504"), hex("F20203F3") }
        << hex("FFFE010504FFFE6182E3");
}

void TestSimulator::answersRequests()
{
    QFETCH(QByteArray, written);
    QFETCH(QByteArrayList, requests);
    QFETCH(QByteArray, answers);

    SimulatedDevice device;
    QVERIFY2(device.plug(), qPrintable(device.errorString()));
    Line line(device.devicePath());
    QVERIFY(line.isOpen());
    line.write(written);
    QTRY_COMPARE(line.received(), answers);
    QCOMPARE(device.requests(), requests);
}

void TestSimulator::readsARequestByteByByte()
{
    SimulatedDevice device;
    QVERIFY(device.plug());
    Line line(device.devicePath());
    QSignalSpy requestSpy(&device, &SimulatedDevice::requestReceived);
    const QByteArray frame = hex("FFFE0211223F");
    for (int i = 0; i < frame.size() - 1; ++i) {
        line.write(frame.mid(i, 1));
        QTRY_COMPARE(device.bytesReceived(), qint64(i + 1));
    }
    QCOMPARE(requestSpy.count(), 0);
    line.write(frame.right(1));
    QTRY_COMPARE(line.received(), frame);
    QCOMPARE(requestSpy.count(), 1);
    QCOMPARE(requestSpy.at(0).at(0).toByteArray(), hex("0211223F"));
}

void TestSimulator::sendsBroadcastsAndRawBytes_data()
{
    QTest::addColumn<bool>("broadcast");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("broadcast gets the FF FD prefix")
        << true << hex("F10203F0") << hex("FFFDF10203F0");
    QTest::newRow("raw bytes go as they stand") << false << hex("01FFFE02") << hex("01FFFE02");
    QTest::newRow("raw partial answer frame") << false << hex("FFFE05") << hex("FFFE05");
}

void TestSimulator::sendsBroadcastsAndRawBytes()
{
    QFETCH(bool, broadcast);
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, expected);

    SimulatedDevice device;
    QVERIFY(device.plug());
    Line line(device.devicePath());
    if (broadcast)
        device.sendBroadcast(bytes);
    else
        device.sendRaw(bytes);
    QTRY_COMPARE(line.received(), expected);
    QVERIFY(device.requests().isEmpty());
}

void TestSimulator::silentDeviceAnswersNothing()
{
    SimulatedDevice device;
    QVERIFY(device.plug());
    Line line(device.devicePath());
    QSignalSpy requestSpy(&device, &SimulatedDevice::requestReceived);
    device.setSilent(true);
    line.write(hex("FFFEF20203F3"));
    QVERIFY(requestSpy.wait());
    device.setSilent(false);
    line.write(hex("FFFE010504"));
    // Had the first request been answered, its answer would stand first.
    QTRY_COMPARE(line.received(), hex("FFFE010504"));
    QCOMPARE(device.requests(), (QByteArrayList { hex("F20203F3"), hex("010504") }));
}

void TestSimulator::noEchoWhileThePortIsClosed()
{
    SimulatedDevice device;
    QVERIFY(device.plug());
    // Sent while no port is open: a slave in cooked mode would echo it back to
    // the device as a request, and the device would answer its own answer.
    device.sendRaw(hex("FFFE010504"));
    Line line(device.devicePath());
    line.write(hex("FFFE0000"));
    QTRY_VERIFY(line.received().endsWith(hex("FFFE0000")));
    QCOMPARE(device.requests(), QByteArrayList { hex("0000") });
}

void TestSimulator::delayedAnswerLetsBroadcastsPass()
{
    static constexpr int DelayMs = 300;
    SimulatedDevice device;
    device.setAnswerDelay(DelayMs);
    QVERIFY(device.plug());
    Line line(device.devicePath());
    QElapsedTimer elapsed;
    elapsed.start();
    line.write(hex("FFFE010504"));
    device.sendBroadcast(hex("F10203F0"));
    QTRY_COMPARE(line.received(), hex("FFFDF10203F0FFFE010504"));
    QVERIFY2(elapsed.elapsed() >= DelayMs, qPrintable(QString::number(elapsed.elapsed())));
}

void TestSimulator::delayedAnswerDiesWithItsPlug()
{
    SimulatedDevice device;
    device.setAnswerDelay(200);
    QVERIFY(device.plug());
    QSignalSpy requestSpy(&device, &SimulatedDevice::requestReceived);
    {
        Line old(device.devicePath());
        old.write(hex("FFFE010504"));
        QVERIFY(requestSpy.wait());
    }
    device.unplug();
    QVERIFY(device.plug());
    Line line(device.devicePath());
    line.write(hex("FFFE0000"));
    // The old answer was due first: it would arrive before this one.
    QTRY_COMPARE(line.received(), hex("FFFE0000"));
}

void TestSimulator::unplugIsAHangUpForThePort()
{
    SimulatedDevice device;
    QVERIFY(device.plug());
    Line line(device.devicePath());
    QVERIFY(line.isOpen());
    QList<QSerialPort::SerialPortError> errors;
    QObject::connect(&line.port(), &QSerialPort::errorOccurred,
        [&errors](QSerialPort::SerialPortError error) { errors.append(error); });
    device.unplug();
    QVERIFY(!device.isPlugged());
    QVERIFY(device.slavePath().isEmpty());
    QTRY_VERIFY(
        errors.contains(QSerialPort::ResourceError) || errors.contains(QSerialPort::ReadError));
}

void TestSimulator::replugMovesTheLink()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("qx-usb"));
    {
        SimulatedDevice device;
        device.setLinkPath(link);
        QVERIFY2(device.plug(), qPrintable(device.errorString()));
        QCOMPARE(device.devicePath(), link);
        QCOMPARE(QFileInfo(link).symLinkTarget(), device.slavePath());
        {
            Line held(link); // keeps the first slave's number taken
            QVERIFY(held.isOpen());
            device.unplug();
            QVERIFY(!QFileInfo(link).isSymLink()); // gone with the device
            QVERIFY(device.plug());
        }
        QCOMPARE(QFileInfo(link).symLinkTarget(), device.slavePath());
        Line line(link);
        QVERIFY(line.isOpen());
        line.write(hex("FFFEF20203F3"));
        QTRY_COMPARE(line.received(), hex("FFFE6182E3"));
    }
    QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
}

void TestSimulator::refusesToReplaceAFileWithTheLink()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("precious"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("keep me");
    file.close();

    {
        SimulatedDevice device;
        device.setLinkPath(path);
        QVERIFY(!device.plug());
        QVERIFY(!device.isPlugged());
        QVERIFY(device.errorString().contains(path));
    }
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep me"));
}

void TestSimulator::outputForNoReaderStaysBounded()
{
    SimulatedDevice device;
    QVERIFY(device.plug());
    const QByteArray block(512 * 1024, '\x55');
    for (int i = 0; i < 4; ++i)
        device.sendRaw(block);
    QVERIFY(device.pendingBytes() > 0);
    QVERIFY(device.pendingBytes() <= SimulatedDevice::MaxPendingBytes);
}

void TestSimulator::requestLogKeepsTheLatest()
{
    // Requests 01 nn check, nn counting in seven bits.
    const auto request = [](int i) {
        const char data = char(i % 0x80);
        return QByteArray("\x01", 1) + data + char(0x01 ^ data);
    };
    SimulatedDevice device;
    QVERIFY(device.plug());
    Line line(device.devicePath());
    const int sent = SimulatedDevice::RequestsKept + 5;
    for (int i = 0; i < sent; ++i)
        line.write(hex("FFFE") + request(i));
    QTRY_COMPARE(device.bytesReceived(), qint64(sent) * 5);
    QCOMPARE(device.requests().size(), SimulatedDevice::RequestsKept);
    QCOMPARE(device.requests().constFirst(), request(sent - SimulatedDevice::RequestsKept));
    QCOMPARE(device.requests().constLast(), request(sent - 1));
}

void TestSimulator::programRunsItsCommands()
{
    if (!haveProgram())
        QSKIP("qx-sim is not built beside the tests");
    Program program;
    const QString first = program.nextPty();
    QVERIFY(!first.isEmpty());
    QCOMPARE(QFileInfo(program.link()).symLinkTarget(), first);

    auto line = std::make_unique<Line>(program.link());
    QVERIFY(line->isOpen());
    line->write(hex("FFFEF20203F3"));
    QTRY_COMPARE(line->received(), hex("FFFE6182E3"));
    program.command("broadcast F1 02 03 F0");
    program.command("raw 01 02");
    QTRY_COMPARE(line->received(), hex("FFFE6182E3FFFDF10203F00102"));

    QList<QSerialPort::SerialPortError> errors;
    QObject::connect(&line->port(), &QSerialPort::errorOccurred,
        [&errors](QSerialPort::SerialPortError error) { errors.append(error); });
    program.command("unplug");
    QTRY_VERIFY(
        errors.contains(QSerialPort::ResourceError) || errors.contains(QSerialPort::ReadError));
    line.reset();
    program.command("plug");
    const QString second = program.nextPty();
    QVERIFY(!second.isEmpty());
    QCOMPARE(QFileInfo(program.link()).symLinkTarget(), second);
    Line again(program.link());
    again.write(hex("FFFE010504"));
    QTRY_COMPARE(again.received(), hex("FFFE010504"));
    QVERIFY(program.process().readAllStandardError().isEmpty());
}

void TestSimulator::programPacesItsLine_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("lineBytes"); // bytes on either line before the last arrives

    const QByteArray block(1000, '\x55');
    QTest::newRow("1000 raw bytes take their line time") << QByteArray() << block << block << 1000;
    QTest::newRow("answer waits for the request's and its own line time")
        << hex("FFFEF20203F3") << QByteArray() << hex("FFFE6182E3") << 6 + 5;
}

void TestSimulator::programPacesItsLine()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, raw);
    QFETCH(QByteArray, expected);
    QFETCH(int, lineBytes);
    static constexpr int Baud = 9600;

    if (!haveProgram())
        QSKIP("qx-sim is not built beside the tests");
    Program program({ QStringLiteral("--baud"), QString::number(Baud) });
    QVERIFY(!program.nextPty().isEmpty());
    Line line(program.link());
    QVERIFY(line.isOpen());
    line.restartClock();
    line.write(request);
    if (!raw.isEmpty())
        program.command("raw " + raw.toHex());
    QTRY_COMPARE_WITH_TIMEOUT(line.received(), expected, 10000);
    const qint64 minimumUs = qint64(lineBytes) * 10 * 1000000 / Baud;
    QVERIFY2(line.lastArrivalUs() >= minimumUs,
        qPrintable(QStringLiteral("%1 us < %2 us").arg(line.lastArrivalUs()).arg(minimumUs)));
}

void TestSimulator::programRejectsBadCommands_data()
{
    QTest::addColumn<QByteArray>("command");

    QTest::newRow("unknown command") << QByteArray("frobnicate");
    QTest::newRow("odd number of hex digits") << QByteArray("raw 0 12");
    QTest::newRow("not hex") << QByteArray("broadcast F1 0G");
    QTest::newRow("no bytes") << QByteArray("raw");
    QTest::newRow("silent neither on nor off") << QByteArray("silent maybe");
    QTest::newRow("argument to a command that takes none") << QByteArray("quit now");
}

void TestSimulator::programRejectsBadCommands()
{
    QFETCH(QByteArray, command);
    if (!haveProgram())
        QSKIP("qx-sim is not built beside the tests");
    Program program;
    QVERIFY(!program.nextPty().isEmpty());
    QByteArray errors;
    QObject::connect(&program.process(), &QProcess::readyReadStandardError,
        [&] { errors += program.process().readAllStandardError(); });
    Line line(program.link());
    program.command(command);
    program.command("raw 01 02");
    QTRY_COMPARE(line.received(), hex("0102"));
    QTRY_VERIFY(errors.endsWith('\n'));
    QCOMPARE(errors.count('\n'), 1);
    QVERIFY2(errors.startsWith("qx-sim: "), errors.constData());
}

void TestSimulator::programEndsCleanly_data()
{
    QTest::addColumn<QString>("how");

    QTest::newRow("quit command") << QStringLiteral("quit");
    QTest::newRow("end of input") << QStringLiteral("eof");
    QTest::newRow("SIGTERM") << QStringLiteral("term");
    QTest::newRow("SIGINT") << QStringLiteral("int");
}

void TestSimulator::programEndsCleanly()
{
    QFETCH(QString, how);
    if (!haveProgram())
        QSKIP("qx-sim is not built beside the tests");
    Program program;
    QVERIFY(!program.nextPty().isEmpty());
    QVERIFY(QFileInfo(program.link()).isSymLink());
    QSignalSpy finished(&program.process(), &QProcess::finished);
    if (how == QLatin1String("quit"))
        program.command("quit");
    else if (how == QLatin1String("eof"))
        program.process().closeWriteChannel();
    else
        ::kill(
            pid_t(program.process().processId()), how == QLatin1String("term") ? SIGTERM : SIGINT);
    QVERIFY(finished.wait(5000));
    QCOMPARE(program.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.process().exitCode(), 0);
    QVERIFY(!QFileInfo(program.link()).isSymLink());
}

void TestSimulator::programCommandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("errContains");

    QTest::newRow("--version prints the version")
        << QStringList { "--version" } << 0 << QByteArray("qx-sim " QX_VERSION "\n")
        << QByteArray();
    QTest::newRow("unknown option")
        << QStringList { "--bogus" } << 2 << QByteArray() << QByteArray("Unknown option 'bogus'");
    QTest::newRow("option value missing")
        << QStringList { "--delay" } << 2 << QByteArray() << QByteArray("Missing value");
    QTest::newRow("unexpected argument")
        << QStringList { "extra" } << 2 << QByteArray() << QByteArray("unexpected argument");
    QTest::newRow("negative delay") << QStringList { "--delay", "-1" } << 2 << QByteArray()
                                    << QByteArray("--delay needs a whole number");
    QTest::newRow("baud not a number") << QStringList { "--baud", "fast" } << 2 << QByteArray()
                                       << QByteArray("--baud needs a whole number");
}

void TestSimulator::programCommandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, errContains);
    if (!haveProgram())
        QSKIP("qx-sim is not built beside the tests");
    QProcess program;
    program.start(simulatorProgram(), arguments);
    QVERIFY(program.waitForFinished(5000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), exitCode);
    QCOMPARE(program.readAllStandardOutput(), out);
    const QByteArray err = program.readAllStandardError();
    QVERIFY2(err.contains(errContains), err.constData());
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "test_simulator.moc"
