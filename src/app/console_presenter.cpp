#include "console_presenter.h"

#include "core/logging.h"

void ConsolePresenter::showStatus(const StatusLook &look)
{
    if (look.caption == m_lastStatus)
        return;
    m_lastStatus = look.caption;
    qCInfo(lcServer).noquote() << look.caption;
}

void ConsolePresenter::showStatusCaption(const QString &)
{
    // The search's port-by-port progress: a server that keeps searching would
    // repeat it every second; the search logs what matters itself.
}

void ConsolePresenter::showCounts(int commandConnections, int broadcastConnections)
{
    if (commandConnections == m_commandConnections
        && broadcastConnections == m_broadcastConnections)
        return;
    m_commandConnections = commandConnections;
    m_broadcastConnections = broadcastConnections;
    qCDebug(lcConnections).noquote()
        << QStringLiteral("Connections in use: %1 command, %2 broadcast")
               .arg(commandConnections)
               .arg(broadcastConnections);
}

void ConsolePresenter::showMessage(const QString &, const QString &, std::function<void()> closed)
{
    // Whoever shows a message has logged it with its severity already.
    if (closed)
        closed();
}
