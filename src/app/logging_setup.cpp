#include "logging_setup.h"

#include "core/log_book.h"

#include <QLoggingCategory>
#include <QStringList>
#include <atomic>
#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Set once by SetUpLogging(), read by the message handler on any thread.
std::atomic<LogBook *> Book { nullptr };
std::atomic<bool> ToJournal { false };

const char *JournalPriority(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "<7>";
    case QtInfoMsg:
        return "<6>";
    case QtWarningMsg:
        return "<4>";
    case QtCriticalMsg:
        return "<3>";
    case QtFatalMsg:
        return "<2>";
    }
    return "";
}

// Every log line of the program, formatted once by the message pattern.
void WriteLogLine(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QString line = qFormatLogMessage(type, context, message);
    if (line.isNull())
        return; // the pattern left nothing to write
    QByteArray bytes = ToJournal ? QByteArray(JournalPriority(type)) : QByteArray();
    bytes += line.toLocal8Bit();
    bytes += '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
    if (LogBook *book = Book.load())
        book->append(line);
}

} // namespace

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

void SetUpLogging(bool verbose, LogBook *book)
{
    ToJournal = StandardErrorIsJournal(qEnvironmentVariable("JOURNAL_STREAM"));
    Book = book;
    if (ToJournal && !book)
        qSetMessagePattern(QStringLiteral("%{message}"));
    else
        qSetMessagePattern(QStringLiteral(
            "%{time yyyy-MM-dd hh:mm:ss.zzz} %{if-warning}warning: %{endif}%{if-critical}error: "
            "%{endif}%{message}"));
    qInstallMessageHandler(WriteLogLine);
    LogFrames(verbose);
}

void LogFrames(bool on)
{
    // Connections, device events and failures are always logged; the frames on demand.
    QLoggingCategory::setFilterRules(
        QStringLiteral("qx.*.debug=false\nqx.frames.debug=%1")
            .arg(on ? QStringLiteral("true") : QStringLiteral("false")));
}

LogBook &DesktopLogBook()
{
    static LogBook *const book = new LogBook;
    return *book;
}
