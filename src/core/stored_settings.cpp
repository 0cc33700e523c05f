#include "stored_settings.h"

#include "core/leading_number.h"
#include "core/protocol.h"
#include "core/settings_store.h"
#include "core/string_table.h"

#include <QDir>

namespace {

const QString ProgramFolderValue = QStringLiteral("SP");
const QString LanguageValue = QStringLiteral("Lang");
const QString AutoStartValue = QStringLiteral("AutoStart");
const QString PortValue = QStringLiteral("LCP");

QString StoredText(const SettingsStore &settings, const QString &valueName)
{
    return settings.ReadKeyValue(QString::fromLatin1(SettingsKey), valueName, QStringLiteral("0"))
        .toText();
}

void StoreText(const SettingsStore &settings, const QString &valueName, const QString &text)
{
    settings.WriteKeyValue(
        QString::fromLatin1(SettingsKey), valueName, SettingValue::fromText(text), ValueTypeString);
}

} // namespace

QString ProgramFolderForSettings(const QString &applicationDirPath)
{
    QString folder = QDir::toNativeSeparators(applicationDirPath);
    if (!folder.endsWith(QDir::separator()))
        folder += QDir::separator();
    return folder;
}

void WriteProgramFolder(const SettingsStore &settings, const QString &applicationDirPath)
{
    settings.WriteKeyValue(QString::fromLatin1(VendorKey), ProgramFolderValue,
        SettingValue::fromText(ProgramFolderForSettings(applicationDirPath)), ValueTypeString);
}

int StoredLanguageOffset(const SettingsStore &settings)
{
    return LeadingNumber(StoredText(settings, LanguageValue)) == Common::English ? Common::English
                                                                                 : Common::German;
}

void StoreLanguageOffset(const SettingsStore &settings, int langOffset)
{
    StoreText(settings, LanguageValue, QString::number(langOffset));
}

bool StoredAutoStart(const SettingsStore &settings)
{
    return LeadingNumber(StoredText(settings, AutoStartValue)) == 1;
}

void StoreAutoStart(const SettingsStore &settings, bool on)
{
    StoreText(settings, AutoStartValue, on ? QStringLiteral("1") : QStringLiteral("0"));
}

int StoredPort(const SettingsStore &settings)
{
    return ParseStoredPort(StoredText(settings, PortValue));
}

void StorePort(const SettingsStore &settings, int number)
{
    StoreText(settings, PortValue, QString::number(number));
}

int ParseStoredPort(const QString &text)
{
    const qint64 port = RoundHalfEven(LeadingNumber(text));
    return port >= Protocol::FirstPortNumber && port <= Protocol::LastPortNumber
        ? static_cast<int>(port)
        : 0;
}
