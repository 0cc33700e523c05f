#pragma once

#include <QLockFile>
#include <QString>

// One running instance per settings store. The lock is a file in the temporary
// folder whose name derives from the settings file's path, so instances with
// different stores run side by side. A lock left behind by a process that has
// died is taken over.
class SingleInstance
{
public:
    explicit SingleInstance(const QString &settingsPath);

    // True when this process now holds the lock (kept until destruction).
    bool tryLock();

    QString lockFilePath() const { return m_path; }
    static QString lockFilePathFor(const QString &settingsPath);

private:
    QString m_path;
    QLockFile m_lock;
};
