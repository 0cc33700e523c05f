#pragma once

#include <QByteArray>
#include <optional>

// Device messages that carry their own identity, so that a received copy proves where it came
// from: a command tagged with its client and that client's counter (the device echoes it, so
// the answer names the command it belongs to), and a broadcast numbered in sequence.
//
// Every byte but the header is 7-bit and the header is 0x4n, so the check byte is 7-bit too:
// no message ever holds FF, and no frame start can appear inside one. The first bytes never
// match a programming-mode command.
namespace TaggedMessage {

constexpr int MaxClient = 127;
constexpr quint32 CounterModulo = 1u << 21; // three 7-bit bytes
constexpr quint32 SequenceModulo = 1u << 28; // four 7-bit bytes

struct Tag
{
    int client = 0; // 0..MaxClient
    quint32 counter = 0; // taken modulo CounterModulo

    bool operator==(const Tag &other) const
    {
        return client == other.client && counter == other.counter;
    }
};

// 44 client c2 c1 c0 check: six bytes, twelve hex digits (a valid command line).
QByteArray command(const Tag &tag);
std::optional<Tag> parseCommand(const QByteArray &message);

// 4n s3 s2 s1 s0 filler... check, n from 4 to 15 by the sequence number, so that frames of
// every length pass; the filler follows from the number too and is checked on the way back.
QByteArray broadcast(quint32 sequence);
std::optional<quint32> parseBroadcast(const QByteArray &message);

// The message as the services write it, "44...\r\n", and back (line without its CR LF).
QByteArray hexLine(const QByteArray &message);
std::optional<QByteArray> parseHexLine(const QByteArray &line);

} // namespace TaggedMessage
