#pragma once

#include <QLockFile>
#include <QString>

// One running instance per settings store. The lock is a file beside the
// settings file, "FILE.instance.lock", so only those who may write the
// settings can hold it, and instances with different stores run side by side.
// (Not "FILE.lock": QSettings takes that one itself for every write.) A lock
// left behind by a process that has died is taken over.
//
// The path given is the settings file itself (its symbolic links followed), so
// a start through a link meets the same lock file. A hard link is another name
// of the same file in its own right: the holder also write-locks the settings
// file as it was at the start, which only those who may write it can do, and a
// start through any of its names finds that lock. (Every write of the store
// makes a new file under the holder's name, so other names keep the old one.)
class SingleInstance
{
public:
    enum class Outcome
    {
        Locked,
        HeldByAnother,
        Failed
    };

    explicit SingleInstance(const QString &settingsPath);
    ~SingleInstance();
    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    // Locked: this process holds the lock until destruction. HeldByAnother: a
    // running instance has it. Failed: the lock file cannot be made (see error()).
    Outcome tryLock();
    QString error() const;

    QString lockFilePath() const { return m_path; }
    static QString lockFilePathFor(const QString &settingsPath);

private:
    bool lockSettingsFile();

    QString m_settingsPath;
    QString m_path;
    QLockFile m_lock;
    int m_fileLock = -1; // the settings file, write-locked while this instance runs
};
