#include "start_stop.h"

#include "broadcast/broadcast_service.h"
#include "command/command_service.h"
#include "control/status_looks.h"
#include "core/close_reason.h"
#include "core/logging.h"
#include "core/presentation.h"
#include "core/server_state.h"
#include "core/string_table.h"
#include "link/interface_search.h"
#include "link/serial_link.h"

namespace {

const QString MessageTitle = QStringLiteral("QX-Server");

} // namespace

StartStop::StartStop(const Parts &parts, const ListenConfig &listen, QObject *parent)
    : QObject(parent)
    , m_parts(parts)
    , m_listen(listen)
{ }

void StartStop::MSStartServer_Click(std::function<void()> done)
{
    m_runWanted = true;
    searchDevice(std::move(done), [this](int result, const std::function<void()> &done) {
        if (result == 1) {
            openServices();
            done();
            return;
        }
        const QString text = LocalText(TextId::NoInterface).value_or(QString());
        m_parts.presentation.showMessage(MessageTitle, text, [this, done] {
            showStopped();
            done();
        });
    });
}

void StartStop::RestartServer(std::function<void()> done)
{
    searchDevice(std::move(done), [this](int result, const std::function<void()> &done) {
        if (result == 1)
            openServices();
        done();
    });
}

void StartStop::searchDevice(std::function<void()> done, SearchOutcome outcome)
{
    if (!done)
        done = [] {};
    if (m_parts.search.isSearching()) {
        // The running search's outcome decides the state.
        qCInfo(lcServer) << "A device search is running already";
        done();
        return;
    }
    m_parts.presentation.showStatus(SearchingLook());
    // The search takes the port over; a transaction still waiting ends with the time-out answer.
    m_parts.search.InitInterface([this, done, outcome](int result) {
        if (!m_runWanted) {
            dropFoundPort();
            done();
            return;
        }
        outcome(result, done);
    });
}

void StartStop::MSStopServer_Click()
{
    m_runWanted = false;
    m_parts.commands.closeListener();
    m_parts.broadcasts.closeListener();
    showStopped();
    m_parts.commands.closeAll(CloseReason::Stopped);
    m_parts.broadcasts.closeAll(CloseReason::Stopped);
    m_parts.link.close();
    m_parts.state.GlobalIFFound = false;
    qCInfo(lcServer) << "Server stopped";
}

void StartStop::openServices()
{
    // A service that listens already (a restart) is left undisturbed; one
    // that cannot listen is logged, and the server runs without it.
    QString error;
    if (!m_parts.commands.listen(m_listen.address, m_listen.commandPort, &error))
        qCWarning(lcServer).noquote()
            << QStringLiteral("Command service cannot listen on port %1: %2")
                   .arg(m_listen.commandPort)
                   .arg(error);
    if (!m_parts.broadcasts.listen(m_listen.address, m_listen.broadcastPort, &error))
        qCWarning(lcServer).noquote()
            << QStringLiteral("Broadcast service cannot listen on port %1: %2")
                   .arg(m_listen.broadcastPort)
                   .arg(error);
    showRunning();
    m_parts.state.GlobalIFFound = true;
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
