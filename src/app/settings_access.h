#pragma once

#include "core/settings_store.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

// What the program can do with its settings file, settled before anything
// touches it. The user's file is never lost or replaced:
// - a path that names no file that could hold settings (a folder, a FIFO that
//   would block the first read, a loop of symbolic links, a link into a folder
//   that does not exist) is an error the program cannot run with;
// - a symbolic link is followed, and the file it names is read and written
//   (the link stays);
// - a file that cannot be read as settings is moved aside, beside itself, and
//   the program starts with the defaults;
// - a file the user may not read or write is never written.
// Each of these costs the stored settings, which the user hears of once.
struct SettingsAccess
{
    QString path; // the file itself: the path given, its symbolic links followed
    SettingsStore::Use use = SettingsStore::Use::ReadAndWrite;
    QString error; // empty: the path can serve as the settings file
    QStringList warnings; // each names the file and the reason
};

// Follows the path's symbolic links to the file that serves as the settings.
SettingsAccess FindSettingsFile(const QString &path);

// Decides how the file found may be used, and sets a file that cannot be read
// as settings aside as "FILE.unreadable-YYYYMMDD-HHMMSS" (`now`, local time).
// Called by the instance that holds the settings' lock only, so that a second
// start never moves the file of a running instance.
void PrepareSettingsFile(SettingsAccess &access, const QDateTime &now);
