#pragma once

#include <QLoggingCategory>

// Log categories. Headless mode writes them to standard error with a time
// stamp; qx.frames (every frame in hex) is enabled by --verbose only.
Q_DECLARE_LOGGING_CATEGORY(lcServer) // status changes, start, stop, restart
Q_DECLARE_LOGGING_CATEGORY(lcLink) // serial port: opened, closed, lost, search
Q_DECLARE_LOGGING_CATEGORY(lcConnections) // accepted, refused and closed connections
Q_DECLARE_LOGGING_CATEGORY(lcFrames) // every frame to and from the device, in hex
