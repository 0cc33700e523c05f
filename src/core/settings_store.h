#pragma once

#include <QString>
#include <QVariant>

// A value read from the store: text, a 32-bit number or nothing.
struct SettingValue
{
    enum class Kind
    {
        Nothing,
        Text,
        Number
    };

    Kind kind = Kind::Nothing;
    QString text;
    qint32 number = 0;

    static SettingValue fromText(const QString &text) { return { Kind::Text, text, 0 }; }
    static SettingValue fromNumber(qint32 number) { return { Kind::Number, QString(), number }; }

    // What callers work with: the text, or the number's decimal digits.
    QString toText() const;
};

// The two value types of the store.
constexpr int ValueTypeString = 1;
constexpr int ValueTypeNumber = 4;

// Where the settings live, as paths below the machine's settings root.
constexpr const char *VendorKey = "SOFTWARE\\Tervan Divoreraro";
constexpr const char *SettingsKey = "SOFTWARE\\Tervan Divoreraro\\QX-SERVER\\Settings";

// Result codes of the store, in the registry's numbering.
constexpr int StoreSuccess = 0;
constexpr int StoreNotFound = 2;
constexpr int StoreAccessDenied = 5;

// The settings store of the machine: an INI file in which a key path
// ("A\B\C") is the group "A/B/C". A string value is stored as its text; a
// number value as "dword:" and eight hex digits, as a registry export writes it.
// Every call opens the file afresh, so a failed write leaves nothing behind.
class SettingsStore
{
public:
    explicit SettingsStore(QString iniPath);

    const QString &path() const { return m_path; }

    // The stored value, or the default text when the file, key or value is
    // missing or unreadable. Never fails.
    SettingValue ReadKeyValue(
        const QString &key, const QString &valueName, const QString &defaultText) const;
    // Writes one value of type 1 (string) or 4 (number), creating its key.
    // 0 on success, a non-zero code when nothing could be stored.
    int WriteKeyValue(
        const QString &key, const QString &valueName, const SettingValue &value, int type) const;

    // The default file: user scope, organisation "Tervan Divoreraro",
    // application "QX-SERVER".
    static QString defaultPath();

private:
    QString m_path;
};

class QSettings;

// Reads one value of an open key; the registry's result code, -1 for a value of
// another type. `value` is left unchanged when nothing could be read.
int FetchValue(QSettings &key, const QString &valueName, SettingValue &value);
// Writes one value into an open key; 0 without writing for an unknown type.
int PutValue(QSettings &key, const QString &valueName, int type, const SettingValue &value);
