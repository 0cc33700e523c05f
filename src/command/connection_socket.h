#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <chrono>

class QObject;
class QTcpSocket;

// What both services do with one accepted TCP connection: prepare it, write to it without a
// failure ever reaching the caller as more than `false`, refuse it, and let it go without
// deleting it inside one of its own signals.
namespace ConnectionSocket {

// A closing connection may take this long to flush its output before it is aborted.
constexpr std::chrono::milliseconds CloseGrace { 5000 };

// The text a refused client gets, without a line end.
QByteArray RefusalText();

// Takes ownership of the socket and switches Nagle's algorithm off: the lines are short, and
// without TCP_NODELAY a line can wait ~40 ms for the client's delayed acknowledgement.
void prepare(QTcpSocket *socket, QObject *owner);

// The client's address as people write it: an IPv4 client of a dual-stack listener shows as
// 192.0.2.7, not ::ffff:192.0.2.7.
QHostAddress clientAddress(const QTcpSocket *socket);

// Queues the bytes for sending; false when the connection is no longer open or the write fails.
bool write(QTcpSocket *socket, const QByteArray &bytes);

// Cuts every connection between the socket and `owner` and ends the connection: its unsent
// output is flushed first (aborted after CloseGrace), or dropped at once with `abortNow`.
// The socket deletes itself later, never inside the caller's stack.
void close(QTcpSocket *socket, QObject *owner, bool abortNow);

// Sends the refusal text and closes; the flush lets the text reach the client.
void refuse(QTcpSocket *socket, QObject *owner);

} // namespace ConnectionSocket
