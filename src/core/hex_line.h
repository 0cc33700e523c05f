#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <array>

// One message as a text line of both services: every byte as two upper-case
// hex digits, no separators, ended by CR LF. An empty message gives "\r\n".
QByteArray HexLine(QByteArrayView message);
// The length of a message's line.
inline qsizetype HexLineLength(QByteArrayView message)
{
    return 2 * message.size() + 2;
}

namespace HexDigits {
// The two digits of every byte value, side by side.
inline constexpr auto Pairs = [] {
    constexpr char Digits[] = "0123456789ABCDEF";
    std::array<std::array<char, 2>, 256> pairs {};
    for (int value = 0; value < 256; ++value)
        pairs[value] = { Digits[value >> 4], Digits[value & 15] };
    return pairs;
}();
} // namespace HexDigits

// The digits of `bytes` written at `out`; where they end.
inline char *WriteHexDigits(char *out, QByteArrayView bytes)
{
    for (char byte : bytes) {
        const auto &pair = HexDigits::Pairs[static_cast<unsigned char>(byte)];
        *out++ = pair[0];
        *out++ = pair[1];
    }
    return out;
}

// The same line written at `out`, which has room for HexLineLength(message) characters; where
// the line ends. Inline: a burst of broadcasts becomes one text with no call and no allocation
// per line.
inline char *WriteHexLine(char *out, QByteArrayView message)
{
    out = WriteHexDigits(out, message);
    *out++ = '\r';
    *out++ = '\n';
    return out;
}

// The same digits without the line end, for log lines.
QByteArray HexText(QByteArrayView bytes);
// The bytes of a frame as the frame log shows them: upper-case pairs with a space between.
QByteArray SpacedHex(QByteArrayView bytes);
// Whether a line is such digits for one or more bytes (in either case): what
// every line of both services is, without its line end.
bool IsHexText(QByteArrayView text);
