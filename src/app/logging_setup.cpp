#include "logging_setup.h"

#include <QLoggingCategory>
#include <QStringList>

#include <sys/stat.h>
#include <unistd.h>

bool StandardErrorIsJournal(const QString &journalStream)
{
    const QStringList parts = journalStream.split(QLatin1Char(':'));
    if (parts.size() != 2)
        return false;
    bool deviceOk = false;
    bool inodeOk = false;
    const qulonglong device = parts.at(0).toULongLong(&deviceOk);
    const qulonglong inode = parts.at(1).toULongLong(&inodeOk);
    struct stat standardError
    {
    };
    if (!deviceOk || !inodeOk || ::fstat(STDERR_FILENO, &standardError) != 0)
        return false;
    return device == qulonglong(standardError.st_dev) && inode == qulonglong(standardError.st_ino);
}

void SetUpLogging(bool verbose)
{
    if (StandardErrorIsJournal(qEnvironmentVariable("JOURNAL_STREAM")))
        qSetMessagePattern(QStringLiteral("%{if-debug}<7>%{endif}%{if-info}<6>%{endif}"
                                          "%{if-warning}<4>%{endif}%{if-critical}<3>%{endif}"
                                          "%{if-fatal}<2>%{endif}%{message}"));
    else
        qSetMessagePattern(QStringLiteral(
            "%{time yyyy-MM-dd hh:mm:ss.zzz} %{if-warning}warning: %{endif}%{if-critical}error: "
            "%{endif}%{message}"));
    // Connections, device events and failures are always logged; --verbose adds the frames.
    QLoggingCategory::setFilterRules(
        QStringLiteral("qx.*.debug=false\nqx.frames.debug=%1")
            .arg(verbose ? QStringLiteral("true") : QStringLiteral("false")));
}
