#pragma once

#include <QString>
#include <QStringList>

// What the program can do with its settings file, checked before anything
// touches it: a path that exists but is not a regular file (a folder, a FIFO
// that would block the first read) is an error the program cannot run with;
// a file it cannot read or write costs the stored settings, which the user
// should hear of once.
struct SettingsAccess
{
    QString error; // empty: the path can serve as the settings file
    QStringList warnings; // each names the file and the system's reason
};

SettingsAccess CheckSettingsAccess(const QString &path);
