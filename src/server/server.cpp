#include "server.h"

#include "core/logging.h"

#include <QNetworkInterface>

Server::Server(const ServerConfig &config, const SettingsStore &settings, const Clock &clock,
    Presentation &presentation, QObject *parent)
    : QObject(parent)
    , m_config(config)
    , m_link(m_state, m_config.ports, clock)
    , m_transaction(m_state, m_link, clock)
    , m_search(m_state, m_link, m_transaction, settings, presentation)
    , m_commands(m_state, clock)
    , m_broadcasts(m_state, clock)
    , m_startStop({ m_state, clock, m_link, m_search, m_commands, m_broadcasts, presentation },
          m_config.listen)
    , m_worker({ m_state, m_link, m_transaction, m_commands, m_broadcasts },
          [this](std::function<void()> done) { RestartServer(std::move(done)); })
    , m_housekeeping({ m_state, clock, m_link, m_commands, m_broadcasts, presentation })
{
    connect(&m_commands, &CommandService::commandQueued, &m_worker, &QueueWorker::stepNow);
    connect(&m_link, &SerialLink::broadcastsReceived, &m_broadcasts,
        [this](const QByteArray &messages) { m_broadcasts.SubmitBurst(messages); });
    connect(&m_startStop, &StartStop::cannotServe, this, &Server::cannotServe);

    m_timer1.setInterval(TickInterval);
    m_timer2.setInterval(TickInterval);
    connect(&m_timer1, &QTimer::timeout, &m_housekeeping, &Housekeeping::Timer1_Timer);
    connect(&m_timer2, &QTimer::timeout, &m_worker, &QueueWorker::Timer2_Timer);
    m_timer1.start();
    m_timer2.start();
}

Server::~Server() = default;

void Server::MSStartServer_Click(std::function<void()> done)
{
    m_startStop.MSStartServer_Click(std::move(done));
}

void Server::MSStopServer_Click()
{
    m_startStop.MSStopServer_Click();
}

void Server::RestartServer(std::function<void()> done)
{
    m_startStop.RestartServer(std::move(done));
}

QHostAddress Server::ownAddress() const
{
    // The address the command service listens on when it is bound to one;
    // otherwise the machine's first IPv4 address on an interface that is up
    // and not the loopback; on a machine without one, the loopback address.
    const QHostAddress bound = m_commands.connections().serverAddress();
    if (!bound.isNull() && bound != QHostAddress::Any && bound != QHostAddress::AnyIPv4
        && bound != QHostAddress::AnyIPv6)
        return bound;
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        const auto flags = interface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp)
            || flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry &entry : interface.addressEntries()) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                return entry.ip();
        }
    }
    return QHostAddress(QHostAddress::LocalHost);
}
