#pragma once

#include <QString>

#include <optional>

class QCoreApplication;

// The command line of qx-load.
struct LoadOptions
{
    QString server; // the qx-server program under test
    bool longForm = false;
    int seconds = 0; // of storm
    qint64 memoryLimitBytes = 0; // the server's VmRSS must stay at or below it
};

std::optional<LoadOptions> ParseLoadOptions(const QCoreApplication &app);
