#pragma once

#include <QRect>
#include <QString>
#include <optional>

class SettingsStore;

// Every value the program keeps in the settings store, each with its read and
// its write, in one place. All live under SettingsKey but "SP", which lives
// under VendorKey. Reads fall back to their default; write results are not
// looked at (a failed write changes nothing else).

// "SP": the program's folder, with a trailing separator. On Linux "/" is the
// separator ("\" on Windows), so "/opt/qx" becomes "/opt/qx/" and the root
// "/" stays as it is. Written at every start, read by nobody.
QString ProgramFolderForSettings(const QString &applicationDirPath);
void WriteProgramFolder(const SettingsStore &settings, const QString &applicationDirPath);

// "Lang": Common::English (100) when it reads as the number 100, else
// Common::German (0), also when the value is missing. Stored as "100" or "0".
int StoredLanguageOffset(const SettingsStore &settings);
void StoreLanguageOffset(const SettingsStore &settings, int langOffset);

// "AutoStart": whether it reads as the number 1; a missing value means off.
// Stored as "1" or "0".
bool StoredAutoStart(const SettingsStore &settings);
void StoreAutoStart(const SettingsStore &settings, bool on);

// "LCP": the serial port on which the device was found last, 0 for none.
// Stored as the number in decimal.
int StoredPort(const SettingsStore &settings);
void StorePort(const SettingsStore &settings, int number);

// "LogLeft", "LogTop", "LogWidth", "LogHeight": where the log window was last,
// the top left corner of its frame and the size inside it, in pixels. Nothing
// when the size is missing or empty. Stored as whole numbers in decimal.
std::optional<QRect> StoredLogWindowPlace(const SettingsStore &settings);
void StoreLogWindowPlace(const SettingsStore &settings, const QRect &place);

// The port number a stored "LCP" text gives: the number at its start, rounded
// half to even; 0 (no stored port) when outside 1..30 or not a number.
int ParseStoredPort(const QString &text);
