#include "hex_line.h"

#include <algorithm>

namespace {

void AppendHexDigits(QByteArray &text, QByteArrayView bytes)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    const qsizetype start = text.size();
    text.resize(start + 2 * bytes.size());
    char *out = text.data() + start;
    for (char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        *out++ = Digits[value >> 4];
        *out++ = Digits[value & 15];
    }
}

} // namespace

QByteArray HexText(QByteArrayView bytes)
{
    QByteArray text;
    AppendHexDigits(text, bytes);
    return text;
}

void AppendHexLine(QByteArray &lines, QByteArrayView message)
{
    AppendHexDigits(lines, message);
    lines.append("\r\n", 2);
}

QByteArray HexLine(QByteArrayView message)
{
    QByteArray line;
    line.reserve(HexLineLength(message));
    AppendHexLine(line, message);
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
