#include "hex_line.h"

#include <algorithm>

QByteArray HexText(QByteArrayView bytes)
{
    QByteArray text(2 * bytes.size(), Qt::Uninitialized);
    WriteHexDigits(text.data(), bytes);
    return text;
}

QByteArray SpacedHex(QByteArrayView bytes)
{
    return bytes.toByteArray().toHex(' ').toUpper();
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
