#pragma once

#include <QString>

// Log lines on standard error. On a terminal or in a file: a time stamp, then
// "warning: " or "error: " where it applies, then the text. When standard
// error is the journal (JOURNAL_STREAM names it), the journal stamps the time
// itself and each line starts with its syslog priority instead (<3> error,
// <4> warning, <6> info, <7> debug), so that `journalctl -p` filters them.
// `verbose` adds every frame in hex.
void SetUpLogging(bool verbose);

// Whether `journalStream` ("DEVICE:INODE", the value of JOURNAL_STREAM) names
// the file that standard error is open on.
bool StandardErrorIsJournal(const QString &journalStream);
