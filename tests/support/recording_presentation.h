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
    struct Message
    {
        QString title;
        QString text;
    };

    void showStatus(const StatusLook &look) override
    {
        looks.append(look);
        captions.append(look.caption);
    }
    void showStatusCaption(const QString &caption) override { captions.append(caption); }
    void showCounts(int commandConnections, int broadcastConnections) override
    {
        commandCount = commandConnections;
        broadcastCount = broadcastConnections;
        ++countUpdates;
    }
    void showButtons(bool start, bool stop) override
    {
        startEnabled = start;
        stopEnabled = stop;
    }
    void showMessage(
        const QString &title, const QString &text, std::function<void()> closed) override
    {
        messages.append({ title, text });
        m_pendingClose = std::move(closed);
        if (autoClose)
            closeMessage();
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
    // Close every message as soon as it is shown.
    bool autoClose = false;

    QList<StatusLook> looks;
    QStringList captions; // every caption shown, whole looks and search progress alike
    QList<Message> messages;
    int commandCount = 0;
    int broadcastCount = 0;
    int countUpdates = 0;
    bool startEnabled = true;
    bool stopEnabled = false;

private:
    std::function<void()> m_pendingClose;
};
