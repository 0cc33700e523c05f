#include "settings_access.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

// The system's reason why `path` does not grant `mode`; empty when it does.
QString AccessDenied(const QString &path, int mode)
{
    if (::access(QFile::encodeName(path).constData(), mode) == 0)
        return QString();
    return QString::fromLocal8Bit(std::strerror(errno));
}

// A file that does not exist yet is written by creating it in the nearest
// folder that exists.
QString NearestExisting(const QString &path)
{
    QFileInfo info(path);
    while (!info.exists() && !info.isRoot())
        info = QFileInfo(info.absolutePath());
    return info.absoluteFilePath();
}

} // namespace

SettingsAccess CheckSettingsAccess(const QString &path)
{
    SettingsAccess access;
    const QFileInfo file(path);
    if (file.exists() && !file.isFile()) {
        access.error = QStringLiteral("the settings path %1 is not a regular file").arg(path);
        return access;
    }
    if (file.exists()) {
        if (const QString reason = AccessDenied(path, R_OK); !reason.isEmpty())
            access.warnings << QStringLiteral("cannot read the settings %1: %2; using the defaults")
                                   .arg(path, reason);
    }
    const QString written = file.exists() ? path : NearestExisting(path);
    if (const QString reason = AccessDenied(written, W_OK); !reason.isEmpty())
        access.warnings << QStringLiteral(
            "cannot write the settings %1: %2; changes will not be kept")
                               .arg(path, reason);
    return access;
}
