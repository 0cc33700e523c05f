#include "startup_steps.h"

#include "core/leading_number.h"
#include "core/settings_store.h"
#include "core/string_table.h"

#include <QDir>

namespace {

// The stored settings are texts; start-up takes the number at their start.
double StoredNumber(const SettingsStore &settings, const QString &valueName)
{
    return LeadingNumber(
        settings.ReadKeyValue(QString::fromLatin1(SettingsKey), valueName, QStringLiteral("0"))
            .toText());
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
    settings.WriteKeyValue(QString::fromLatin1(VendorKey), QStringLiteral("SP"),
        SettingValue::fromText(ProgramFolderForSettings(applicationDirPath)), ValueTypeString);
}

int StoredLanguageOffset(const SettingsStore &settings)
{
    return StoredNumber(settings, QStringLiteral("Lang")) == Common::English ? Common::English
                                                                             : Common::German;
}

bool StoredAutoStart(const SettingsStore &settings)
{
    return StoredNumber(settings, QStringLiteral("AutoStart")) == 1;
}
