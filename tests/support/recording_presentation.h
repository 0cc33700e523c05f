#pragma once

#include "core/presentation.h"

#include <QList>
#include <QString>
#include <functional>

// A presentation for tests: records everything the server shows. Messages stay
// "open" until the test closes them with closeMessage().
class RecordingPresentation : public Presentation
{
public:
    void showStatus(const StatusLook &look) override
    {
        looks.append(look);
        captions.append(look.caption);
    }
    void showStatusCaption(const QString &caption) override { captions.append(caption); }
    void showCounts(int commandConnections, int) override
    {
        commandCount = commandConnections;
        ++countUpdates; // once per housekeeping tick
    }
    void showButtons(bool, bool) override { }
    void showMessage(const QString &, const QString &text, std::function<void()> closed) override
    {
        messages.append(text);
        m_pendingClose = std::move(closed);
    }

    bool messageOpen() const { return static_cast<bool>(m_pendingClose); }
    // The user closes the open message.
    void closeMessage()
    {
        auto closed = std::move(m_pendingClose);
        m_pendingClose = nullptr;
        if (closed)
            closed();
    }
    QList<StatusLook> looks;
    QStringList captions; // every caption shown, whole looks and search progress alike
    QStringList messages; // their texts
    int commandCount = 0;
    int countUpdates = 0;

private:
    std::function<void()> m_pendingClose;
};
