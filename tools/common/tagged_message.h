#pragma once

#include <QByteArray>

#include <optional>

// Device messages that carry a number, so that a received copy tells which one it is: the tools
// tag each command with its client and a counter (the device echoes a command, so its answer
// names the very command it belongs to) and number the broadcasts.
//
// 44 n3 n2 n1 n0 check: the header 0x44 announces four data bytes, so the message is a
// well-formed six-byte command. Each data byte holds seven bits of the number, so the check byte
// is seven-bit too: no message holds FF, and no frame start can appear inside one. No command
// that starts with 44 touches programming mode.
namespace TaggedMessage {

constexpr quint32 NumberModulo = 1u << 28;
constexpr int MaxClient = 127;

// The message of `number` (taken modulo NumberModulo), and as the services' text: upper-case
// hex digits without the line end.
QByteArray message(quint32 number);
QByteArray line(quint32 number);
// The number back; nothing when it is not exactly a tagged message.
std::optional<quint32> numberOf(const QByteArray &message);
std::optional<quint32> numberOfLine(const QByteArray &line);

// A command's number: its client (0..MaxClient) above a counter of 21 bits.
quint32 commandNumber(int client, quint32 counter);

} // namespace TaggedMessage
