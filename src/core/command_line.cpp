#include "command_line.h"

#include "core/protocol.h"

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<QByteArray> TranslateCommandLine(const QByteArray &line)
{
    QByteArray digits;
    for (char c : line) {
        const int value = HexValue(c);
        if (value < 0)
            continue;
        if (digits.size() > Protocol::MaxCommandDigits)
            return std::nullopt; // already too long; no need to read on
        digits.append(static_cast<char>(value));
    }
    if (digits.size() < Protocol::MinCommandDigits || digits.size() % 2 != 0
        || digits.size() > Protocol::MaxCommandDigits)
        return std::nullopt;

    QByteArray command;
    for (qsizetype i = 0; i < digits.size(); i += 2)
        command.append(static_cast<char>(digits.at(i) << 4 | digits.at(i + 1)));
    // A command whose header announces more or fewer data bytes than follow would put the
    // device's framing out of step, and the next client's command would be swallowed.
    if (command.size() != (static_cast<quint8>(command.at(0)) & 15) + 2)
        return std::nullopt;
    return command;
}
