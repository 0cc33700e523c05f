#pragma once

#include <QLockFile>
#include <QString>

// One running instance per settings store. The lock is a file beside the
// settings file, "FILE.instance.lock", so only those who may write the
// settings can hold it, and instances with different stores run side by side.
// (Not "FILE.lock": QSettings takes that one itself for every write.) A lock
// left behind by a process that has died is taken over.
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

    // Locked: this process holds the lock until destruction. HeldByAnother: a
    // running instance has it. Failed: the lock file cannot be made (see error()).
    Outcome tryLock();
    QString error() const;

    QString lockFilePath() const { return m_path; }
    static QString lockFilePathFor(const QString &settingsPath);

private:
    QString m_path;
    QLockFile m_lock;
};
