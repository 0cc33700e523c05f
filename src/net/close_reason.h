#pragma once

#include <QString>

// Why the server closed a connection (or saw it closed), for the log.
enum class CloseReason
{
    PeerClosed, // the client closed it
    Idle, // no activity for more than 60 seconds
    ProgMode, // another client put the device into programming mode
    SlowReader, // its unsent output passed the cap
    Stopped, // the server was stopped
};

inline QString CloseReasonText(CloseReason reason)
{
    switch (reason) {
    case CloseReason::PeerClosed:
        return QStringLiteral("closed by the client");
    case CloseReason::Idle:
        return QStringLiteral("idle for more than 60 s");
    case CloseReason::ProgMode:
        return QStringLiteral("programming mode");
    case CloseReason::SlowReader:
        return QStringLiteral("slow reader");
    case CloseReason::Stopped:
        return QStringLiteral("server stopped");
    }
    return QString();
}
