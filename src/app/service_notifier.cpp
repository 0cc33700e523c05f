#include "service_notifier.h"

#include "core/logging.h"
#include "core/server_state.h"
#include "link/serial_link.h"
#include "server/server.h"

#include <QTimer>
#include <algorithm>
#include <cstring>

#ifdef QX_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

bool ServiceStatus::operator==(const ServiceStatus &other) const
{
    return phase == other.phase && devicePath == other.devicePath
        && commandClients == other.commandClients && broadcastClients == other.broadcastClients
        && programmingMode == other.programmingMode;
}

QString ServiceStatusText(const ServiceStatus &status)
{
    if (status.phase == ServiceStatus::Phase::Searching)
        return QStringLiteral("searching the device");
    if (status.programmingMode)
        return QStringLiteral("programming mode");
    // "3 command and 1 broadcast client": the noun follows the last count.
    return QStringLiteral("running: device on %1, %2 command and %3 broadcast %4")
        .arg(status.devicePath)
        .arg(status.commandClients)
        .arg(status.broadcastClients)
        .arg(status.broadcastClients == 1 ? QStringLiteral("client") : QStringLiteral("clients"));
}

bool ServiceNotifier::isSupported()
{
#ifdef QX_HAVE_SYSTEMD
    return true;
#else
    return false;
#endif
}

ServiceNotifier::ServiceNotifier(Presentation &console, QObject *parent)
    : QObject(parent)
    , m_console(console)
    , m_active(isSupported() && !qEnvironmentVariableIsEmpty("NOTIFY_SOCKET"))
{
    if (m_active)
        startWatchdog();
}

void ServiceNotifier::observe(Server &server)
{
    m_server = &server;
}

std::chrono::milliseconds ServiceNotifier::watchdogPingInterval() const
{
    return m_watchdog ? m_watchdog->intervalAsDuration() : std::chrono::milliseconds::zero();
}

void ServiceNotifier::showStatus(const StatusLook &look)
{
    m_console.showStatus(look);
    report();
}

void ServiceNotifier::showStatusCaption(const QString &caption)
{
    m_console.showStatusCaption(caption);
}

void ServiceNotifier::showCounts(int commandConnections, int broadcastConnections)
{
    m_console.showCounts(commandConnections, broadcastConnections);
    m_status.commandClients = commandConnections;
    m_status.broadcastClients = broadcastConnections;
    report();
}

void ServiceNotifier::showButtons(bool startEnabled, bool stopEnabled)
{
    m_console.showButtons(startEnabled, stopEnabled);
}

void ServiceNotifier::showMessage(
    const QString &title, const QString &text, std::function<void()> closed)
{
    m_console.showMessage(title, text, std::move(closed));
}

void ServiceNotifier::report()
{
    if (!m_active)
        return;
    // The phase, programming mode and the port change on the server's own
    // ticks; the counts arrive on every housekeeping tick, so all are read then.
    // Headless, a stop is only the moment between a failed search and the next
    // one: the server is searching.
    const bool running = m_server && m_server->phase() == ServerPhase::Running;
    m_status.phase = running ? ServiceStatus::Phase::Running : ServiceStatus::Phase::Searching;
    m_status.programmingMode = m_server && m_server->state().ProgMode;
    m_status.devicePath = running ? m_server->serialLink().portPath() : QString();
    // Counts arrive 40 times a second: the text is made only when a value
    // changed, and sent only when the text did (programming mode hides counts).
    if (m_readySent && m_status == m_lastStatus)
        return;
    m_lastStatus = m_status;
    const QString text = ServiceStatusText(m_status);
    if (m_readySent && text == m_reportedText)
        return;
    QByteArray assignments;
    if (!m_readySent)
        assignments = "READY=1\n";
    assignments += "STATUS=" + text.toUtf8();
    notify(assignments);
    m_readySent = true;
    m_reportedText = text;
}

void ServiceNotifier::notify(const QByteArray &assignments)
{
#ifdef QX_HAVE_SYSTEMD
    // Said when it starts failing and when it works again, not for each of the
    // notifications in between (the watchdog alone sends several a minute).
    const int result = sd_notify(0, assignments.constData());
    const bool failing = result < 0;
    if (failing && !m_notifyFailing)
        qCWarning(lcServer).noquote() << QStringLiteral("cannot notify the service manager: %1")
                                             .arg(QString::fromLocal8Bit(std::strerror(-result)));
    else if (!failing && m_notifyFailing)
        qCInfo(lcServer).noquote() << QStringLiteral("the service manager is notified again");
    m_notifyFailing = failing;
#else
    Q_UNUSED(assignments);
#endif
}

void ServiceNotifier::startWatchdog()
{
#ifdef QX_HAVE_SYSTEMD
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) <= 0 || usec == 0)
        return;
    // Half the interval leaves a whole half for a late tick before systemd acts.
    const auto interval = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::microseconds(usec) / 2);
    m_watchdog = new QTimer(this);
    m_watchdog->setInterval(std::max(interval, std::chrono::milliseconds(1)));
    connect(m_watchdog, &QTimer::timeout, this, [this] { notify("WATCHDOG=1"); });
    m_watchdog->start();
#endif
}
