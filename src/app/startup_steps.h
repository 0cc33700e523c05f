#pragma once

#include <QString>

class SettingsStore;

// The settings steps of the program's start, shared by the window start-up and
// the headless start-up.

// The program's folder as it is stored in "SP": with a trailing separator. On
// Linux "/" is the separator ("\" on Windows), so "/opt/qx" becomes "/opt/qx/"
// and the root "/" stays as it is.
QString ProgramFolderForSettings(const QString &applicationDirPath);

// Writes the program's folder as string value "SP" under the vendor key. A
// failed write changes nothing else and is not reported.
void WriteProgramFolder(const SettingsStore &settings, const QString &applicationDirPath);

// The stored language: Common::English (100) when "Lang" reads as the number
// 100, else Common::German (0), also when the value is missing.
int StoredLanguageOffset(const SettingsStore &settings);

// Whether "AutoStart" reads as the number 1; a missing value means off.
bool StoredAutoStart(const SettingsStore &settings);
