#pragma once

#include <QString>

constexpr int FirstPortNumber = 1;
constexpr int LastPortNumber = 30;

// The serial port number stored as "LCP": the number at the start of the text,
// rounded half to even; 0 (no stored port) when outside 1..30 or not a number.
int ParseStoredPort(const QString &text);
