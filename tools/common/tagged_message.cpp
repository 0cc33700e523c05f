#include "tagged_message.h"

namespace TaggedMessage {

namespace {

constexpr char Header = 0x44;
constexpr int DataBytes = 4;
constexpr int BitsPerByte = 7;
constexpr int CounterBits = 21;

} // namespace

QByteArray message(quint32 number)
{
    QByteArray bytes(1, Header);
    char check = Header;
    for (int i = DataBytes - 1; i >= 0; --i) {
        const char byte = char((number >> (BitsPerByte * i)) & 0x7F);
        bytes.append(byte);
        check ^= byte;
    }
    return bytes.append(check);
}

QByteArray line(quint32 number)
{
    return message(number).toHex().toUpper();
}

std::optional<quint32> numberOf(const QByteArray &bytes)
{
    if (bytes.size() != DataBytes + 2 || bytes.at(0) != Header)
        return std::nullopt;
    quint32 number = 0;
    for (int i = 1; i <= DataBytes; ++i)
        number = (number << BitsPerByte) | (quint8(bytes.at(i)) & 0x7F);
    if (message(number) != bytes)
        return std::nullopt;
    return number;
}

std::optional<quint32> numberOfLine(const QByteArray &text)
{
    const std::optional<quint32> number = numberOf(QByteArray::fromHex(text));
    if (!number || line(*number) != text)
        return std::nullopt;
    return number;
}

quint32 commandNumber(int client, quint32 counter)
{
    return (quint32(client & MaxClient) << CounterBits) | (counter & ((1u << CounterBits) - 1));
}

} // namespace TaggedMessage
