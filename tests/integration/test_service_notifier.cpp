// The headless server as a systemd service of Type=notify: what it tells the
// service manager through NOTIFY_SOCKET, received here by the test's own
// datagram socket in place of systemd.

#include "app/service_notifier.h"
#include "core/status_looks.h"
#include "support/recording_presentation.h"
#include "support/tcp_client.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int StartTimeoutMs = 20000;
constexpr int EndTimeoutMs = 10000;

// An AF_UNIX datagram socket as systemd offers it in NOTIFY_SOCKET; it keeps
// every datagram it receives.
class NotifySocket : public QObject
{
public:
    explicit NotifySocket(const QString &path)
        : m_path(path)
    {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        const QByteArray encoded = path.toLocal8Bit();
        if (m_fd < 0 || encoded.size() >= qsizetype(sizeof address.sun_path))
            return;
        std::copy(encoded.cbegin(), encoded.cend(), address.sun_path);
        if (::bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
            return;
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &NotifySocket::receive);
    }
    ~NotifySocket() override
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    bool isBound() const { return m_notifier != nullptr; }
    const QString &path() const { return m_path; }
    const QByteArrayList &datagrams() const { return m_datagrams; }
    int count(const QByteArray &datagram) const { return int(m_datagrams.count(datagram)); }
    // Waits for a datagram that matches; true when one has come.
    bool waitFor(const QRegularExpression &pattern, int timeoutMs = StartTimeoutMs) const
    {
        return QTest::qWaitFor([&] { return find(pattern) >= 0; }, timeoutMs);
    }
    qsizetype find(const QRegularExpression &pattern) const
    {
        for (qsizetype i = 0; i < m_datagrams.size(); ++i) {
            if (pattern.match(QString::fromUtf8(m_datagrams.at(i))).hasMatch())
                return i;
        }
        return -1;
    }

private:
    void receive()
    {
        char buffer[4096];
        ssize_t size;
        while ((size = ::recv(m_fd, buffer, sizeof buffer, 0)) >= 0)
            m_datagrams << QByteArray(buffer, int(size));
    }

    QString m_path;
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QByteArrayList m_datagrams;
};

QRegularExpression Exactly(const QString &text)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(text));
}

QString DumpOf(const QByteArrayList &datagrams)
{
    return QString::fromUtf8(datagrams.join(" | "));
}

} // namespace

class TestServiceNotifier : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void tellsReadinessStatusAndWatchdog();
    void sendsNothingWithoutNotifySocket();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<NotifySocket> m_socket;
};

void TestServiceNotifier::init()
{
    if (!ServiceNotifier::isSupported())
        QSKIP("built without libsystemd: the server sends nothing to systemd");
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_socket = std::make_unique<NotifySocket>(m_dir->filePath(QStringLiteral("notify")));
    QVERIFY(m_socket->isBound());
}

void TestServiceNotifier::tellsReadinessStatusAndWatchdog()
{
    QTcpServer first, second;
    QVERIFY(first.listen(QHostAddress::LocalHost, 0) && second.listen(QHostAddress::LocalHost, 0));
    const quint16 commandPort = first.serverPort();
    const quint16 broadcastPort = second.serverPort();
    first.close();
    second.close();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NOTIFY_SOCKET"), m_socket->path());
    environment.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("400000"));
    environment.remove(QStringLiteral("WATCHDOG_PID"));
    QProcess server;
    server.setProcessEnvironment(environment);
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral(QX_SERVER_PROGRAM),
        { QStringLiteral("--headless"), QStringLiteral("--simulate"), QStringLiteral("--settings"),
            m_dir->filePath(QStringLiteral("settings.ini")), QStringLiteral("--listen"),
            QStringLiteral("127.0.0.1"), QStringLiteral("--command-port"),
            QString::number(commandPort), QStringLiteral("--broadcast-port"),
            QString::number(broadcastPort) });
    const auto running = [](const QString &clients) {
        return QRegularExpression(QRegularExpression::anchoredPattern(
            QStringLiteral("STATUS=running: device on /\\S+, ") + clients));
    };

    // Ready once it searches, before the device has answered.
    QVERIFY2(m_socket->waitFor(running(QStringLiteral("0 command and 0 broadcast clients"))),
        qPrintable(DumpOf(m_socket->datagrams())));
    QCOMPARE(m_socket->datagrams().first(), QByteArray("READY=1\nSTATUS=searching the device"));

    TcpClient commandClient, listener;
    QVERIFY(commandClient.connectTo(commandPort));
    QVERIFY(listener.connectTo(broadcastPort));
    QVERIFY2(m_socket->waitFor(running(QStringLiteral("1 command and 1 broadcast client"))),
        qPrintable(DumpOf(m_socket->datagrams())));
    commandClient.send("22110033\r");
    QVERIFY(commandClient.waitForLine());
    QVERIFY2(m_socket->waitFor(Exactly(QStringLiteral("STATUS=programming mode"))),
        qPrintable(DumpOf(m_socket->datagrams())));
    // The programming client leaves, and with it the programming mode.
    commandClient.close();
    QVERIFY2(m_socket->waitFor(running(QStringLiteral("0 command and 1 broadcast client"))),
        qPrintable(DumpOf(m_socket->datagrams())));
    // Pings every 200 ms; two of them show that they repeat.
    QTRY_VERIFY_WITH_TIMEOUT(m_socket->count("WATCHDOG=1") >= 2, StartTimeoutMs);

    QSignalSpy finished(&server, &QProcess::finished);
    server.terminate();
    QVERIFY(finished.wait(EndTimeoutMs));
    QCOMPARE(server.exitCode(), 0);

    // READY once; a status only when its text changes.
    QByteArrayList statuses;
    for (const QByteArray &datagram : m_socket->datagrams()) {
        if (datagram.contains("STATUS="))
            statuses << datagram.mid(datagram.indexOf("STATUS="));
    }
    QCOMPARE(std::count_if(m_socket->datagrams().cbegin(), m_socket->datagrams().cend(),
                 [](const QByteArray &datagram) { return datagram.contains("READY=1"); }),
        1);
    for (qsizetype i = 1; i < statuses.size(); ++i)
        QVERIFY2(statuses.at(i) != statuses.at(i - 1), qPrintable(DumpOf(statuses)));
}

void TestServiceNotifier::sendsNothingWithoutNotifySocket()
{
    // Not started by systemd, but with a watchdog interval in the environment
    // all the same: the notifier must not be fooled into sending or pinging.
    qunsetenv("NOTIFY_SOCKET");
    qunsetenv("WATCHDOG_PID");
    qputenv("WATCHDOG_USEC", "20000");
    RecordingPresentation console;
    ServiceNotifier unmanaged(console);
    unmanaged.showStatus(RunningLook());
    unmanaged.showCounts(1, 2);
    // The console presenter gets everything as before.
    QCOMPARE(console.looks.size(), 1);
    QCOMPARE(console.looks.first().caption, RunningCaption());
    QCOMPARE(console.commandCount, 1);
    QCOMPARE(console.broadcastCount, 2);

    // From here on the socket is reachable: whatever the unmanaged notifier
    // sends now, or pings every 10 ms, would come before the managed one's
    // first watchdog ping, 30 ms after its readiness.
    qputenv("NOTIFY_SOCKET", m_socket->path().toLocal8Bit());
    qputenv("WATCHDOG_USEC", "60000");
    unmanaged.showCounts(2, 2);
    RecordingPresentation otherConsole;
    ServiceNotifier managed(otherConsole);
    managed.showStatus(SearchingLook());
    QTRY_COMPARE(m_socket->datagrams().size(), 2);
    QCOMPARE(m_socket->datagrams(),
        QList<QByteArray>({ "READY=1\nSTATUS=searching the device", "WATCHDOG=1" }));
    qunsetenv("WATCHDOG_USEC");
    qunsetenv("NOTIFY_SOCKET");
}

QTEST_GUILESS_MAIN(TestServiceNotifier)
#include "test_service_notifier.moc"
