#pragma once

#include <QByteArray>

// One message as a text line of both services: every byte as two upper-case
// hex digits, no separators, ended by CR LF. An empty message gives "\r\n".
QByteArray HexLine(const QByteArray &message);

// The same digits without the line end, for log lines.
QByteArray HexText(const QByteArray &bytes);
