#pragma once

#include "core/presentation.h"

#include <QObject>
#include <QString>
#include <chrono>

class QTimer;
class Server;

// What the headless server tells systemd about itself, as a value.
struct ServiceStatus
{
    enum class Phase
    {
        Searching, // no device yet, or the device was lost: the server searches for it
        Running, // the device answers and the services listen
    };

    Phase phase = Phase::Searching;
    QString devicePath; // the device's port while running
    int commandClients = 0;
    int broadcastClients = 0;
    bool programmingMode = false;

    bool operator==(const ServiceStatus &other) const;
    bool operator!=(const ServiceStatus &other) const { return !(*this == other); }
};

// The line that "systemctl status" shows, e.g. "running: device on /dev/ttyUSB0,
// 3 command and 2 broadcast clients".
QString ServiceStatusText(const ServiceStatus &status);

// The headless presentation as a systemd service (Type=notify): it passes
// everything on to the console presenter and tells the service manager
//   READY=1     with the first status, once the server runs its search (a
//               server that waits for its device is up, not failed);
//   STATUS=...  whenever ServiceStatusText changes;
//   WATCHDOG=1  from the event loop at half of the watchdog interval, so that
//               a server whose loop hangs is restarted.
// Without NOTIFY_SOCKET (not started by systemd), or when built without
// libsystemd, it only passes things on: nothing is sent, no timer runs. A
// service manager that does not answer is logged once, and once more when it
// answers again.
class ServiceNotifier : public QObject, public Presentation
{
    Q_OBJECT

public:
    // Whether the program was built with libsystemd.
    static bool isSupported();

    explicit ServiceNotifier(Presentation &console, QObject *parent = nullptr);

    // The server whose device path and programming mode the status shows; the
    // server is made with this presentation, so it comes afterwards.
    void observe(Server &server);

    // Whether the service manager is listening (NOTIFY_SOCKET was set).
    bool isActive() const { return m_active; }
    // Zero when the service manager watches nothing.
    std::chrono::milliseconds watchdogPingInterval() const;

    void showStatus(const StatusLook &look) override;
    void showStatusCaption(const QString &caption) override;
    void showCounts(int commandConnections, int broadcastConnections) override;
    void showButtons(bool startEnabled, bool stopEnabled) override;
    void showMessage(
        const QString &title, const QString &text, std::function<void()> closed) override;

private:
    void report();
    void notify(const QByteArray &assignments);
    void startWatchdog();

    Presentation &m_console;
    Server *m_server = nullptr; // observed once it is made
    QTimer *m_watchdog = nullptr; // null unless systemd watches the server
    bool m_active = false;
    bool m_readySent = false;
    bool m_notifyFailing = false; // the last notification failed, and that was said
    ServiceStatus m_status; // what the server shows now
    ServiceStatus m_lastStatus; // when the status text was last made
    QString m_reportedText; // the status last sent
};
