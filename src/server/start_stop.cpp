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

namespace {

// Answers every caller in `callers`, which it empties first: an answer may
// begin the next search.
void Answer(std::vector<std::function<void()>> &callers)
{
    for (const auto &done : std::exchange(callers, {}))
        done();
}

} // namespace

void StartStop::MSStartServer_Click(std::function<void()> done)
{
    m_parts.state.Phase = ServerPhase::Searching;
    m_startsWaiting.push_back(done ? std::move(done) : [] {});
    searchDevice();
}

void StartStop::RestartServer(std::function<void()> done)
{
    if (!done)
        done = [] {};
    const qint64 now = m_parts.clock.milliseconds();
    if (m_lastSearchMs >= 0 && now - m_lastSearchMs < SearchInterval.count()) {
        done();
        return;
    }
    m_parts.state.Phase = ServerPhase::Searching;
    m_restartsWaiting.push_back(std::move(done));
    searchDevice();
}

void StartStop::searchDevice()
{
    m_parts.presentation.showStatus(SearchingLook());
    if (m_parts.search.isSearching()) {
        // The running search decides; a cancelled one begins a new search as it ends.
        qCInfo(lcServer) << "Waiting for the device search that runs already";
        return;
    }
    m_lastSearchMs = m_parts.clock.milliseconds();
    // The search takes the port over; a transaction still waiting ends with the time-out answer.
    m_parts.search.InitInterface([this](int result) { searchEnded(result); });
}

void StartStop::searchEnded(int result)
{
    if (std::exchange(m_searchCancelled, false)) {
        // The stop has answered that search's callers, and the search has closed
        // its port; a start chosen since then gets a search of its own.
        if (!m_startsWaiting.empty() || !m_restartsWaiting.empty())
            searchDevice();
        return;
    }
    Callers restarts = std::exchange(m_restartsWaiting, {});
    if (!m_startsWaiting.empty()) {
        Callers starts = std::exchange(m_startsWaiting, {});
        reportStart(result, [starts]() mutable { Answer(starts); });
        Answer(restarts);
        return;
    }
    const std::function<void()> done = [restarts]() mutable { Answer(restarts); };
    if (result != InterfaceSearch::Found || openServices(done))
        done();
}

void StartStop::reportStart(int result, const std::function<void()> &done)
{
    if (result != InterfaceSearch::Found)
        failStart(done);
    else if (openServices(done))
        done();
}

void StartStop::failStart(const std::function<void()> &done)
{
    // The log is English whatever the window's language; the message follows the window.
    qCWarning(lcServer).noquote()
        << LoadResString(TextId::NoInterface + Common::English).value_or(QString());
    // A server that ran before (the start was chosen again), or one that is to search until its
    // device answers, searches on as after a lost device; any other stops searching now.
    if (m_searchUntilFound)
        qCInfo(lcServer) << "Searching again until the device answers";
    else if (!m_parts.state.GlobalIFFound)
        m_parts.state.Phase = ServerPhase::Stopped;
    const QString text = LocalText(TextId::NoInterface).value_or(QString());
    m_parts.presentation.showMessage(QString::fromLatin1(MessageTitle), text, [this, done] {
        // A device found again while the message waited keeps its running look.
        if (!m_searchUntilFound && m_parts.state.Phase != ServerPhase::Running)
            showStopped();
        done();
    });
}

void StartStop::MSStopServer_Click()
{
    m_parts.state.Phase = ServerPhase::Stopped;
    // A search still running ends at its next step and shows nothing more.
    if (m_parts.search.isSearching()) {
        m_searchCancelled = true;
        m_parts.search.cancel();
    }
    showStopped();
    closeEverything();
    qCInfo(lcServer) << "Server stopped";
    // A person who chose Stop has been answered: the starts get no message.
    Answer(m_startsWaiting);
    Answer(m_restartsWaiting);
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
