#pragma once

#include <QString>

// The number at the start of a stored text, as the settings are read: leading
// blanks skipped, an optional sign, digits, an optional fraction and exponent.
// Text without a number at its start gives 0.
double LeadingNumber(const QString &text);

// Rounds to the nearest whole number, halves to the even neighbour.
qint64 RoundHalfEven(double value);
