#pragma once

#include <QString>

class LogBook;

// Log lines on standard error. On a terminal or in a file: a time stamp, then
// "warning: " or "error: " where it applies, then the text. When standard
// error is the journal (JOURNAL_STREAM names it), each line starts with its
// syslog priority (<3> error, <4> warning, <6> info, <7> debug), so that
// `journalctl -p` filters them, and the journal stamps the time itself.
// `verbose` adds every frame in hex.
//
// With a `book`, every line also goes to it, as formatted for standard error
// but for the priority; such lines keep their time stamp also for the
// journal, since the book's reader shows no other. The book must live as long
// as the process (see DesktopLogBook()).
void SetUpLogging(bool verbose, LogBook *book = nullptr);

// Switches the logging of every frame in hex (qx.frames at debug level) on or off.
void LogFrames(bool on);

// The log book of the desktop program. Never destroyed: any thread may log up
// to the process's last moment, and the log must never meet a book that is gone.
LogBook &DesktopLogBook();

// Whether `journalStream` ("DEVICE:INODE", the value of JOURNAL_STREAM) names
// the file that standard error is open on.
bool StandardErrorIsJournal(const QString &journalStream);
