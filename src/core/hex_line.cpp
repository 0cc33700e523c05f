#include "hex_line.h"

QByteArray HexText(const QByteArray &bytes)
{
    return bytes.toHex().toUpper();
}

QByteArray HexLine(const QByteArray &message)
{
    return HexText(message) + "\r\n";
}
