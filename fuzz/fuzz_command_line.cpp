// Command line translation fed arbitrary text: no crash, and the bytes that come
// out are exactly the line's hex digit pairs, recomputed here on their own, as
// many as the first pair (the header) announces.

#include "core/command_line.h"
#include "fuzz_check.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

constexpr int MinDigits = 4;
constexpr int MaxDigits = 16;

// Every hex digit of the line, in order, as its value 0..15.
std::string DigitValues(const QByteArray &line)
{
    static constexpr std::string_view lower = "0123456789abcdef";
    static constexpr std::string_view upper = "0123456789ABCDEF";
    std::string values;
    for (char c : line) {
        std::size_t value = lower.find(c);
        if (value == std::string_view::npos)
            value = upper.find(c);
        if (value != std::string_view::npos)
            values.push_back(static_cast<char>(value));
    }
    return values;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray line(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const std::optional<QByteArray> command = TranslateCommandLine(line);
    const std::string digits = DigitValues(line);
    const auto count = static_cast<int>(digits.size());
    // The header's low four bits announce the data bytes that follow it, before the check byte.
    const bool agrees = count >= 2 && count / 2 == (digits[1] & 15) + 2;
    const bool valid = count >= MinDigits && count <= MaxDigits && count % 2 == 0 && agrees;

    QX_FUZZ_CHECK(command.has_value() == valid);
    if (!command)
        return 0;
    QX_FUZZ_CHECK(command->size() >= 2 && command->size() <= 8);
    QX_FUZZ_CHECK(command->size() * 2 == count);
    for (int i = 0; i < command->size(); ++i) {
        const int expected = digits[2 * i] * 16 + digits[2 * i + 1];
        QX_FUZZ_CHECK(static_cast<quint8>(command->at(i)) == expected);
    }
    return 0;
}
