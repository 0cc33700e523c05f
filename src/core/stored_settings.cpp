#include "stored_settings.h"

#include "core/leading_number.h"
#include "core/protocol.h"
#include "core/settings_store.h"
#include "core/string_table.h"

#include <QDir>
#include <limits>

namespace {

const QString ProgramFolderValue = QStringLiteral("SP");
const QString LanguageValue = QStringLiteral("Lang");
const QString AutoStartValue = QStringLiteral("AutoStart");
const QString PortValue = QStringLiteral("LCP");
const QString LogLeftValue = QStringLiteral("LogLeft");
const QString LogTopValue = QStringLiteral("LogTop");
const QString LogWidthValue = QStringLiteral("LogWidth");
const QString LogHeightValue = QStringLiteral("LogHeight");

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

int StoredWholeNumber(const SettingsStore &settings, const QString &valueName)
{
    using Limits = std::numeric_limits<int>;
    const qint64 number = RoundHalfEven(LeadingNumber(StoredText(settings, valueName)));
    return static_cast<int>(qBound(qint64(Limits::min()), number, qint64(Limits::max())));
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

std::optional<QRect> StoredLogWindowPlace(const SettingsStore &settings)
{
    const QRect place(StoredWholeNumber(settings, LogLeftValue),
        StoredWholeNumber(settings, LogTopValue), StoredWholeNumber(settings, LogWidthValue),
        StoredWholeNumber(settings, LogHeightValue));
    if (place.isEmpty())
        return std::nullopt;
    return place;
}

void StoreLogWindowPlace(const SettingsStore &settings, const QRect &place)
{
    StoreText(settings, LogLeftValue, QString::number(place.left()));
    StoreText(settings, LogTopValue, QString::number(place.top()));
    StoreText(settings, LogWidthValue, QString::number(place.width()));
    StoreText(settings, LogHeightValue, QString::number(place.height()));
}

int ParseStoredPort(const QString &text)
{
    const qint64 port = RoundHalfEven(LeadingNumber(text));
    return port >= Protocol::FirstPortNumber && port <= Protocol::LastPortNumber
        ? static_cast<int>(port)
        : 0;
}
