#pragma once

#include "core/presentation.h"

// The presentation of the headless mode: every change of the status becomes one
// log line on standard error. Messages are logged by the code that shows them,
// with their severity; the device search's per-port captions are not logged,
// since a server that keeps searching would repeat them every second.
class ConsolePresenter : public Presentation
{
public:
    void showStatus(const StatusLook &look) override;
    void showStatusCaption(const QString &caption) override;
    void showCounts(int commandConnections, int broadcastConnections) override;
    void showButtons(bool, bool) override { }
    // Counts the message as closed at once.
    void showMessage(
        const QString &title, const QString &text, std::function<void()> closed) override;

private:
    QString m_lastStatus;
    int m_commandConnections = 0;
    int m_broadcastConnections = 0;
};
