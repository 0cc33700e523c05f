#pragma once

#include <QByteArray>
#include <QByteArrayView>

// One message as a text line of both services: every byte as two upper-case
// hex digits, no separators, ended by CR LF. An empty message gives "\r\n".
QByteArray HexLine(QByteArrayView message);
// The same line written at `out`, which has room for HexLineLength(message) characters; where
// the line ends (a burst of broadcasts becomes one text with no allocation per line).
char *WriteHexLine(char *out, QByteArrayView message);
// The length of a message's line.
inline qsizetype HexLineLength(QByteArrayView message)
{
    return 2 * message.size() + 2;
}

// The same digits without the line end, for log lines.
QByteArray HexText(QByteArrayView bytes);
// Whether a line is such digits for one or more bytes (in either case): what
// every line of both services is, without its line end.
bool IsHexText(QByteArrayView text);
