#include "settings_store.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>

namespace {

const QString NumberPrefix = QStringLiteral("dword:");

QString GroupOf(const QString &key)
{
    QString group = key;
    group.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return group;
}

bool IsNumberText(const QString &text)
{
    static const QRegularExpression dword(QStringLiteral("^dword:[0-9a-fA-F]{8}$"));
    return dword.match(text).hasMatch();
}

} // namespace

QString SettingValue::toText() const
{
    switch (kind) {
    case Kind::Text:
        return text;
    case Kind::Number:
        return QString::number(number);
    case Kind::Nothing:
        break;
    }
    return QString();
}

SettingsStore::SettingsStore(QString iniPath, Use use)
    : m_path(std::move(iniPath))
    , m_use(use)
{ }

SettingsStore::Content SettingsStore::judgeFile(const QString &iniPath)
{
    QFile file(iniPath);
    if (!file.open(QIODevice::ReadOnly))
        return Content::Settings; // no file yet; a file that cannot be read is no verdict
    // Never more than the limit is read, however large the file.
    const QByteArray text = file.read(MaxFileBytes + 1);
    if (text.size() > MaxFileBytes)
        return Content::TooLarge;
    return isSettingsText(text) ? Content::Settings : Content::NotSettings;
}

bool SettingsStore::isSettingsText(QByteArrayView text)
{
    // The INI reader takes any bytes, and what it writes back of them is not what it read.
    if (text.contains('\0') || !text.isValidUtf8())
        return false;
    for (qsizetype start = 0; start < text.size();) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        const QByteArrayView line = text.sliced(start, end - start).trimmed();
        const bool known = line.isEmpty() || line.startsWith(';')
            || (line.startsWith('[') && line.contains(']')) || line.contains('=');
        if (!known)
            return false;
        start = end + 1;
    }
    return true;
}

QString SettingsStore::defaultPath()
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope,
        QStringLiteral("Tervan Divoreraro"), QStringLiteral("QX-SERVER"));
    return settings.fileName();
}

int FetchValue(QSettings &key, const QString &valueName, SettingValue &value)
{
    // An access error only says that the file could not be read (then it holds
    // no values) or that the restore after a failed write could not be flushed
    // yet; what is read is still the stored state, so only a broken file counts.
    if (key.status() == QSettings::FormatError)
        return StoreAccessDenied;
    if (!key.contains(valueName))
        return StoreNotFound;
    const QVariant stored = key.value(valueName);
    if (stored.userType() != QMetaType::QString)
        return -1; // lists and other variants are no value type of ours
    const QString text = stored.toString();
    if (IsNumberText(text)) {
        value = SettingValue::fromNumber(
            static_cast<qint32>(text.mid(NumberPrefix.size()).toUInt(nullptr, 16)));
        return StoreSuccess;
    }
    value = SettingValue::fromText(text);
    return StoreSuccess;
}

int PutValue(QSettings &key, const QString &valueName, int type, const SettingValue &value)
{
    switch (type) {
    case ValueTypeString:
        key.setValue(valueName, value.toText());
        break;
    case ValueTypeNumber: {
        const qint32 number = value.kind == SettingValue::Kind::Number
            ? value.number
            : static_cast<qint32>(value.toText().toLongLong());
        key.setValue(valueName,
            NumberPrefix
                + QStringLiteral("%1").arg(static_cast<quint32>(number), 8, 16, QLatin1Char('0')));
        break;
    }
    default:
        return StoreSuccess;
    }
    key.sync();
    return key.status() == QSettings::NoError ? StoreSuccess : StoreAccessDenied;
}

SettingValue SettingsStore::ReadKeyValue(
    const QString &key, const QString &valueName, const QString &defaultText) const
{
    SettingValue result = SettingValue::fromText(defaultText);
    if (m_use == Use::Nothing || !QFileInfo::exists(m_path))
        return result;
    QSettings settings(m_path, QSettings::IniFormat);
    settings.beginGroup(GroupOf(key));
    FetchValue(settings, valueName, result);
    return result;
}

int SettingsStore::WriteKeyValue(
    const QString &key, const QString &valueName, const SettingValue &value, int type) const
{
    if (m_use != Use::ReadAndWrite)
        return StoreAccessDenied;
    QSettings settings(m_path, QSettings::IniFormat);
    settings.beginGroup(GroupOf(key));
    const bool existed = settings.contains(valueName);
    const QVariant previous = settings.value(valueName);
    const int result = PutValue(settings, valueName, type, value);
    if (result != StoreSuccess) {
        // QSettings keeps an unsaved change in a cache that the next reader of
        // the same file would see; put the old state back so that a failed
        // write leaves nothing behind.
        if (existed)
            settings.setValue(valueName, previous);
        else
            settings.remove(valueName);
    }
    return result;
}
