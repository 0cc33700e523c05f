#include "hex_line.h"

#include <algorithm>

namespace {

constexpr char Digits[] = "0123456789ABCDEF";

char *WriteHexDigits(char *out, QByteArrayView bytes)
{
    for (char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        *out++ = Digits[value >> 4];
        *out++ = Digits[value & 15];
    }
    return out;
}

} // namespace

char *WriteHexLine(char *out, QByteArrayView message)
{
    out = WriteHexDigits(out, message);
    *out++ = '\r';
    *out++ = '\n';
    return out;
}

QByteArray HexText(QByteArrayView bytes)
{
    QByteArray text(2 * bytes.size(), Qt::Uninitialized);
    WriteHexDigits(text.data(), bytes);
    return text;
}

QByteArray HexLine(QByteArrayView message)
{
    QByteArray line(HexLineLength(message), Qt::Uninitialized);
    WriteHexLine(line.data(), message);
    return line;
}

bool IsHexText(QByteArrayView text)
{
    const auto isDigit = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    };
    return !text.isEmpty() && text.size() % 2 == 0
        && std::all_of(text.begin(), text.end(), isDigit);
}
