#pragma once

#include <QString>
#include <functional>

// Colours as the status label takes them: 0x00BBGGRR, or 0x80000000 + n for
// the window system's colour number n.
constexpr quint32 ColorYellow = 0x00FFFF;
constexpr quint32 ColorGreen = 0x00C000;
constexpr quint32 ColorRed = 0x0000FF;
constexpr quint32 ColorBlack = 0x000000;
constexpr quint32 ColorButtonHighlight = 0x80000014; // system colour 20, white on the usual scheme

// The heading of every message the server shows its user.
constexpr const char *MessageTitle = "QX-Server";

// One look of the status label: caption and colours.
struct StatusLook
{
    QString caption;
    quint32 backColor = ColorRed;
    quint32 foreColor = ColorButtonHighlight;
};

// What the server shows to its user. The desktop window and the console
// presenter of the headless mode implement it; the server never knows which.
class Presentation
{
public:
    virtual ~Presentation() = default;

    // The status label gets a whole new look.
    virtual void showStatus(const StatusLook &look) = 0;
    // The status label's caption alone (the device search shows its progress).
    virtual void showStatusCaption(const QString &caption) = 0;
    // Connections in use on the command and the broadcast service; called on
    // every housekeeping tick, changed or not.
    virtual void showCounts(int commandConnections, int broadcastConnections) = 0;
    // Enabled states of the start and the stop button.
    virtual void showButtons(bool startEnabled, bool stopEnabled) = 0;
    // A message for the user; `closed` runs once the user has dismissed it.
    // Must not block: the server goes on serving while it is shown.
    virtual void showMessage(
        const QString &title, const QString &text, std::function<void()> closed)
        = 0;
};
