#include "single_instance.h"

#include <QDir>
#include <QFileInfo>

SingleInstance::SingleInstance(const QString &settingsPath)
    : m_path(lockFilePathFor(settingsPath))
    , m_lock(m_path)
{
    // Never by age: a server runs for months, and only a lock whose process
    // has died may be taken over. (A file lock of the system guards a live
    // holder too, but not on every file system.)
    m_lock.setStaleLockTime(0);
}

SingleInstance::Outcome SingleInstance::tryLock()
{
    if (m_lock.isLocked())
        return Outcome::Locked;
    // The settings' folder is made anyway by the first write of a setting.
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    if (m_lock.tryLock(0))
        return Outcome::Locked;
    return m_lock.error() == QLockFile::LockFailedError ? Outcome::HeldByAnother : Outcome::Failed;
}

QString SingleInstance::error() const
{
    switch (m_lock.error()) {
    case QLockFile::PermissionError:
        return QStringLiteral("cannot create the lock file %1: permission denied").arg(m_path);
    case QLockFile::UnknownError:
        return QStringLiteral("cannot create the lock file %1").arg(m_path);
    case QLockFile::LockFailedError:
        return QStringLiteral("%1 is held by a running instance").arg(m_path);
    case QLockFile::NoError:
        break;
    }
    return QString();
}

QString SingleInstance::lockFilePathFor(const QString &settingsPath)
{
    // The same store gives the same lock however it was named on the command
    // line; the file itself may not exist yet, its folder usually does.
    const QFileInfo file(settingsPath);
    QString folder = QFileInfo(file.absolutePath()).canonicalFilePath();
    if (folder.isEmpty())
        folder = QDir::cleanPath(file.absolutePath());
    return folder + QLatin1Char('/') + file.fileName() + QStringLiteral(".instance.lock");
}
