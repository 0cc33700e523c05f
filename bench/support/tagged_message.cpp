#include "tagged_message.h"

#include <algorithm>
#include <cctype>

namespace TaggedMessage {

namespace {

constexpr quint8 CommandHeader = 0x44;
constexpr quint8 BroadcastHeaderBase = 0x40;
constexpr int SequenceBytes = 4;
constexpr int MinBroadcastData = 4;
constexpr int BroadcastLengths = 12; // data counts 4..15

QByteArray withCheckByte(QByteArray message)
{
    char check = 0;
    for (const char byte : message)
        check ^= byte;
    message.append(check);
    return message;
}

bool hasValidCheckByte(const QByteArray &message)
{
    char check = 0;
    for (const char byte : message)
        check ^= byte;
    return message.size() >= 2 && check == 0;
}

void appendSevenBitGroups(QByteArray &message, quint32 value, int groups)
{
    for (int group = groups - 1; group >= 0; --group)
        message.append(char((value >> (7 * group)) & 0x7F));
}

quint32 readSevenBitGroups(const QByteArray &message, int from, int groups)
{
    quint32 value = 0;
    for (int i = 0; i < groups; ++i)
        value = (value << 7) | quint8(message.at(from + i));
    return value;
}

char fillerByte(quint32 sequence, int index)
{
    return char((sequence * 7 + quint32(index) * 13) & 0x7F);
}

bool allSevenBit(const QByteArray &bytes)
{
    return std::all_of(bytes.cbegin(), bytes.cend(), [](char c) { return quint8(c) < 0x80; });
}

} // namespace

QByteArray command(const Tag &tag)
{
    QByteArray message(1, char(CommandHeader));
    message.append(char(tag.client & 0x7F));
    appendSevenBitGroups(message, tag.counter % CounterModulo, 3);
    return withCheckByte(message);
}

std::optional<Tag> parseCommand(const QByteArray &message)
{
    if (message.size() != 6 || quint8(message.at(0)) != CommandHeader
        || !allSevenBit(message.mid(1)) || !hasValidCheckByte(message))
        return std::nullopt;
    return Tag { quint8(message.at(1)), readSevenBitGroups(message, 2, 3) };
}

QByteArray broadcast(quint32 sequence)
{
    sequence %= SequenceModulo;
    const int count = MinBroadcastData + int(sequence % BroadcastLengths);
    QByteArray message(1, char(BroadcastHeaderBase | count));
    appendSevenBitGroups(message, sequence, SequenceBytes);
    for (int i = SequenceBytes; i < count; ++i)
        message.append(fillerByte(sequence, i));
    return withCheckByte(message);
}

std::optional<quint32> parseBroadcast(const QByteArray &message)
{
    if (message.size() < 2 + SequenceBytes || !allSevenBit(message.mid(1)))
        return std::nullopt;
    const quint32 sequence = readSevenBitGroups(message, 1, SequenceBytes);
    // The whole message must be the one that this number makes: length, filler, check byte.
    if (message != broadcast(sequence))
        return std::nullopt;
    return sequence;
}

QByteArray hexLine(const QByteArray &message)
{
    return message.toHex().toUpper() + "\r\n";
}

std::optional<QByteArray> parseHexLine(const QByteArray &line)
{
    const bool upperHex = std::all_of(line.cbegin(), line.cend(),
        [](char c) { return std::isdigit(uchar(c)) || (c >= 'A' && c <= 'F'); });
    if (line.isEmpty() || line.size() % 2 != 0 || !upperHex)
        return std::nullopt;
    return QByteArray::fromHex(line);
}

} // namespace TaggedMessage
