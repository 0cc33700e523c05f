#include "single_instance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

namespace {

// The same store must give the same name however it was named on the command
// line; the file itself may not exist yet, its folder usually does.
QString NormalisedPath(const QString &settingsPath)
{
    const QFileInfo file(settingsPath);
    const QString folder = QFileInfo(file.absolutePath()).canonicalFilePath();
    if (folder.isEmpty())
        return file.absoluteFilePath();
    return folder + QLatin1Char('/') + file.fileName();
}

} // namespace

SingleInstance::SingleInstance(const QString &settingsPath)
    : m_path(lockFilePathFor(settingsPath))
    , m_lock(m_path)
{
    // Never by age: a server runs for months, and only a lock whose process
    // has died may be taken over. (A file lock of the system guards a live
    // holder too, but not on every file system.)
    m_lock.setStaleLockTime(0);
}

bool SingleInstance::tryLock()
{
    return m_lock.isLocked() || m_lock.tryLock(0);
}

QString SingleInstance::lockFilePathFor(const QString &settingsPath)
{
    const QByteArray hash
        = QCryptographicHash::hash(NormalisedPath(settingsPath).toUtf8(), QCryptographicHash::Sha1)
              .toHex()
              .left(16);
    return QDir::temp().filePath(
        QStringLiteral("qx-server-%1.lock").arg(QString::fromLatin1(hash)));
}
