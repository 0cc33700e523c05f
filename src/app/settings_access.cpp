#include "settings_access.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

// As many as the system itself follows before it calls a path a loop.
constexpr int MaxLinksFollowed = 40;

QString NotRegular(const QString &path)
{
    return QStringLiteral("the settings path %1 is not a regular file").arg(path);
}

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

// Why the existing file at `path` must not be written; empty when it may be. A
// file that nobody may write is never written, also by root, whom the system
// lets write anything; and the store replaces the file by one made beside it.
QString WriteDenied(const QString &path)
{
    if (QString reason = AccessDenied(path, W_OK); !reason.isEmpty())
        return reason;
    constexpr QFile::Permissions anyWrite
        = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    const QFileInfo file(path);
    if (!(file.permissions() & anyWrite))
        return QStringLiteral("it is read-only");
    if (QString reason = AccessDenied(file.absolutePath(), W_OK); !reason.isEmpty())
        return QStringLiteral("its folder: %1").arg(reason);
    return QString();
}

QString CannotWrite(const QString &path, const QString &reason)
{
    return QStringLiteral("cannot write the settings %1: %2; changes will not be kept")
        .arg(path, reason);
}

// A file that cannot be read as settings goes out of the way, so that the
// first write does not replace it; one that may not be written stays, unused.
void SetAside(
    SettingsAccess &access, const QString &why, const QString &writeDenied, const QDateTime &now)
{
    const QString unreadable
        = QStringLiteral("the settings %1 cannot be read as settings (%2)").arg(access.path, why);
    if (!writeDenied.isEmpty()) {
        access.warnings << QStringLiteral("%1 and may not be written (%2): left as it is; using "
                                          "the defaults, changes will not be kept")
                               .arg(unreadable, writeDenied);
        access.use = SettingsStore::Use::Nothing;
        return;
    }
    const QString aside = access.path + QStringLiteral(".unreadable-")
        + now.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QFile file(access.path);
    // Never over another file: two set aside in the same second keep the first.
    if (file.rename(aside)) {
        access.warnings
            << QStringLiteral("%1: moved aside to %2; using the defaults").arg(unreadable, aside);
        return;
    }
    access.warnings << QStringLiteral("%1 and cannot be moved aside to %2 (%3): using the "
                                      "defaults, changes will not be kept")
                           .arg(unreadable, aside, file.errorString());
    access.use = SettingsStore::Use::Nothing;
}

} // namespace

SettingsAccess FindSettingsFile(const QString &path)
{
    SettingsAccess access;
    QFileInfo file(QFileInfo(path).absoluteFilePath());
    int links = 0;
    while (file.isSymLink()) {
        if (++links > MaxLinksFollowed) {
            access.error = NotRegular(path) + QStringLiteral(": its symbolic links form a loop");
            return access;
        }
        file.setFile(file.symLinkTarget());
    }
    if (file.exists() && !file.isFile()) {
        access.error = NotRegular(path);
        return access;
    }
    // A link to a file not made yet is written through; a folder that is not
    // there is made for a path given, but not at the far end of a link.
    if (!file.exists() && links > 0 && !QFileInfo(file.absolutePath()).isDir()) {
        access.error = NotRegular(path)
            + QStringLiteral(": it is a symbolic link to %1, in a folder that does not exist")
                  .arg(file.absoluteFilePath());
        return access;
    }
    access.path = file.absoluteFilePath();
    return access;
}

void PrepareSettingsFile(SettingsAccess &access, const QDateTime &now)
{
    const QString &path = access.path;
    if (!QFileInfo::exists(path)) {
        if (const QString reason = AccessDenied(NearestExisting(path), W_OK); !reason.isEmpty()) {
            access.warnings << CannotWrite(path, reason);
            access.use = SettingsStore::Use::ReadOnly;
        }
        return;
    }
    // What cannot be read cannot be written back either: a write would replace it.
    if (const QString reason = AccessDenied(path, R_OK); !reason.isEmpty()) {
        access.warnings << QStringLiteral(
            "cannot read the settings %1: %2; using the defaults, changes will not be kept")
                               .arg(path, reason);
        access.use = SettingsStore::Use::Nothing;
        return;
    }
    const QString writeDenied = WriteDenied(path);
    switch (SettingsStore::judgeFile(path)) {
    case SettingsStore::Content::Settings:
        if (!writeDenied.isEmpty()) {
            access.warnings << CannotWrite(path, writeDenied);
            access.use = SettingsStore::Use::ReadOnly;
        }
        return;
    case SettingsStore::Content::TooLarge:
        SetAside(access,
            QStringLiteral("larger than %1 KiB").arg(SettingsStore::MaxFileBytes / 1024),
            writeDenied, now);
        return;
    case SettingsStore::Content::NotSettings:
        SetAside(access, QStringLiteral("not an INI file"), writeDenied, now);
        return;
    }
}
