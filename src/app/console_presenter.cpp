#include "console_presenter.h"

#include "core/logging.h"

void ConsolePresenter::showStatus(const StatusLook &look)
{
    if (look.caption == m_lastStatus)
        return;
    m_lastStatus = look.caption;
    qCInfo(lcServer).noquote() << look.caption;
}

void ConsolePresenter::showStatusCaption(const QString &caption)
{
    qCDebug(lcLink).noquote() << caption;
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

void ConsolePresenter::showMessage(
    const QString &title, const QString &text, std::function<void()> closed)
{
    qCWarning(lcServer).noquote() << title + QStringLiteral(": ") + text;
    if (closed)
        closed();
}
