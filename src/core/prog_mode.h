#pragma once

#include <QByteArray>

// What a queued command does to the device's programming mode, by its leading
// bytes: 22 11, 22 15, 23 12, 23 16, 23 17 enter it; 21 81 A0 leaves it. A
// command shorter than a pattern never matches it.
enum class ProgModeEffect
{
    None,
    Enter,
    Leave
};

ProgModeEffect ClassifyProgMode(const QByteArray &command);
