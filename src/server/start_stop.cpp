#include "start_stop.h"

#include "broadcast/broadcast_service.h"
#include "command/command_service.h"
#include "core/clock.h"
#include "core/logging.h"
#include "core/presentation.h"
#include "core/server_state.h"
#include "core/status_looks.h"
#include "core/string_table.h"
#include "link/interface_search.h"
#include "link/serial_link.h"
#include "net/close_reason.h"

StartStop::StartStop(const Parts &parts, const ListenConfig &listen, QObject *parent)
    : QObject(parent)
    , m_parts(parts)
    , m_listen(listen)
{ }

void StartStop::MSStartServer_Click(std::function<void()> done)
{
    m_parts.state.Phase = ServerPhase::Searching;
    searchDevice(std::move(done), [this](int result, const std::function<void()> &done) {
        if (result != InterfaceSearch::Found)
            failStart(done);
        else if (openServices(done))
            done();
    });
}

void StartStop::failStart(const std::function<void()> &done)
{
    const QString text = LocalText(TextId::NoInterface).value_or(QString());
    qCWarning(lcServer).noquote() << text;
    // A server that ran before (the start was chosen again), or one that is to search until its
    // device answers, searches on as after a lost device; any other stops searching now.
    if (m_searchUntilFound)
        qCInfo(lcServer) << "Searching again until the device answers";
    else if (!m_parts.state.GlobalIFFound)
        m_parts.state.Phase = ServerPhase::Stopped;
    m_parts.presentation.showMessage(QString::fromLatin1(MessageTitle), text, [this, done] {
        if (!m_searchUntilFound)
            showStopped();
        done();
    });
}

void StartStop::RestartServer(std::function<void()> done)
{
    const qint64 now = m_parts.clock.milliseconds();
    if (m_lastSearchMs >= 0 && now - m_lastSearchMs < SearchInterval.count()) {
        if (done)
            done();
        return;
    }
    m_parts.state.Phase = ServerPhase::Searching;
    searchDevice(std::move(done), [this](int result, const std::function<void()> &done) {
        if (result != InterfaceSearch::Found || openServices(done))
            done();
    });
}

void StartStop::searchDevice(std::function<void()> done, SearchOutcome outcome)
{
    if (!done)
        done = [] {};
    if (m_parts.search.isSearching()) {
        // The running search's outcome decides the state.
        qCDebug(lcServer) << "A device search is running already";
        done();
        return;
    }
    m_lastSearchMs = m_parts.clock.milliseconds();
    m_parts.presentation.showStatus(SearchingLook());
    // The search takes the port over; a transaction still waiting ends with the time-out answer.
    m_parts.search.InitInterface([this, done, outcome](int result) {
        if (m_parts.state.Phase == ServerPhase::Stopped) {
            dropFoundPort();
            done();
            return;
        }
        outcome(result, done);
    });
}

void StartStop::MSStopServer_Click()
{
    m_parts.state.Phase = ServerPhase::Stopped;
    // A search still running ends at its next step and shows nothing more.
    m_parts.search.cancel();
    showStopped();
    closeEverything();
    qCInfo(lcServer) << "Server stopped";
}

void StartStop::closeEverything()
{
    m_parts.commands.connections().closeListener();
    m_parts.broadcasts.connections().closeListener();
    m_parts.commands.connections().closeAll(CloseReason::Stopped);
    m_parts.broadcasts.connections().closeAll(CloseReason::Stopped);
    m_parts.link.close();
    m_parts.state.GlobalIFFound = false;
}

bool StartStop::openServices(const std::function<void()> &done)
{
    // A service that listens already (a restart) is left undisturbed.
    QString error;
    QString failure;
    if (!m_parts.commands.connections().listen(m_listen.address, m_listen.commandPort, &error))
        failure = QStringLiteral("Command service cannot listen on port %1: %2")
                      .arg(m_listen.commandPort)
                      .arg(error);
    else if (!m_parts.broadcasts.connections().listen(
                 m_listen.address, m_listen.broadcastPort, &error))
        failure = QStringLiteral("Broadcast service cannot listen on port %1: %2")
                      .arg(m_listen.broadcastPort)
                      .arg(error);
    if (failure.isEmpty()) {
        showRunning();
        m_parts.state.GlobalIFFound = true;
        m_parts.state.Phase = ServerPhase::Running;
        return true;
    }
    // A server that serves nobody must not look as if it ran.
    qCCritical(lcServer).noquote() << failure;
    m_parts.state.Phase = ServerPhase::Stopped;
    closeEverything();
    Q_EMIT cannotServe(failure);
    m_parts.presentation.showMessage(QString::fromLatin1(MessageTitle), failure, [this, done] {
        showStopped();
        done();
    });
    return false;
}

void StartStop::dropFoundPort()
{
    // The stop has shown the stopped state already; the port the search may
    // have left open goes as the stop's own close would have taken it.
    qCInfo(lcServer) << "The server was stopped during the device search: it stays stopped";
    m_parts.link.close();
}

void StartStop::showRunning()
{
    m_parts.presentation.showStatus(RunningLook());
    m_parts.presentation.showButtons(false, true);
}

void StartStop::showStopped()
{
    m_parts.presentation.showStatus(StoppedLook());
    m_parts.presentation.showButtons(true, false);
}
