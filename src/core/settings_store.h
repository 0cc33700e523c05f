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
    // What the store may do with its file. A file that is kept from the program
    // (read-only, or one that cannot be read as settings and stays where it is)
    // is never written, so it is never replaced by the few values of this program.
    enum class Use
    {
        ReadAndWrite,
        ReadOnly, // writes fail with StoreAccessDenied and touch nothing
        Nothing, // every read gives the default; writes as ReadOnly
    };

    // A settings file is a few hundred bytes; a larger one is no settings file of
    // ours, and reading it whole on every access would stall the server.
    static constexpr qint64 MaxFileBytes = 1024 * 1024;

    // Whether the file at a path can serve as the store.
    enum class Content
    {
        Settings, // no file yet, or one that reads as settings
        TooLarge, // over MaxFileBytes: never read further
        NotSettings, // see isSettingsText
    };
    static Content judgeFile(const QString &iniPath);
    // Whether a file's bytes read as settings: UTF-8 text without NUL bytes whose
    // every line is blank, a ";" comment, a "[group]" or holds a "key=value". Any
    // other file is not one the store could write back without losing it.
    static bool isSettingsText(QByteArrayView text);

    explicit SettingsStore(QString iniPath, Use use = Use::ReadAndWrite);

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
    Use m_use = Use::ReadAndWrite;
};

class QSettings;

// Reads one value of an open key; the registry's result code, -1 for a value of
// another type. `value` is left unchanged when nothing could be read.
int FetchValue(QSettings &key, const QString &valueName, SettingValue &value);
// Writes one value into an open key; 0 without writing for an unknown type.
int PutValue(QSettings &key, const QString &valueName, int type, const SettingValue &value);
