#include "single_instance.h"

#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

SingleInstance::SingleInstance(const QString &settingsPath)
    : m_settingsPath(settingsPath)
    , m_path(lockFilePathFor(settingsPath))
    , m_lock(m_path)
{
    // Never by age: a server runs for months, and only a lock whose process
    // has died may be taken over. (A file lock of the system guards a live
    // holder too, but not on every file system.)
    m_lock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance()
{
    if (m_fileLock >= 0)
        ::close(m_fileLock);
}

SingleInstance::Outcome SingleInstance::tryLock()
{
    if (m_lock.isLocked())
        return Outcome::Locked;
    // The settings' folder is made anyway by the first write of a setting.
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    if (!m_lock.tryLock(0))
        return m_lock.error() == QLockFile::LockFailedError ? Outcome::HeldByAnother
                                                            : Outcome::Failed;
    if (lockSettingsFile())
        return Outcome::Locked;
    m_lock.unlock();
    return Outcome::HeldByAnother;
}

// False when a running instance holds the settings file under another name.
bool SingleInstance::lockSettingsFile()
{
#ifdef F_OFD_SETLK
    // Only a lock for writing marks an instance, and it needs the file open for
    // writing: only those who may write the settings can hold it, and a reader's
    // lock keeps nobody out. Not there yet, or not ours to write: the lock file
    // alone guards it.
    const int file
        = ::open(QFile::encodeName(m_settingsPath).constData(), O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (file < 0)
        return true;
    // A lock of the open file, not of the process: the store's own opening and
    // closing of the file leaves it be.
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(file, F_OFD_SETLK, &lock) == 0) {
        m_fileLock = file;
        return true;
    }
    struct flock held = {};
    held.l_type = F_WRLCK;
    held.l_whence = SEEK_SET;
    const bool heldByInstance = ::fcntl(file, F_OFD_GETLK, &held) == 0 && held.l_type == F_WRLCK;
    ::close(file);
    return !heldByInstance;
#else
    return true;
#endif
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
