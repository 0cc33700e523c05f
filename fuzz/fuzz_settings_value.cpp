// Stored setting texts as the program reads them: the text goes through
// FetchValue into a setting value, and that value's text through the number
// parsing of "LCP", "Lang" and "AutoStart".
//
// The store is one QSettings for the whole run that is never synced: a value
// set on it is read back from its in-memory cache, so no input touches a file.

#include "core/leading_number.h"
#include "core/protocol.h"
#include "core/settings_store.h"
#include "core/stored_settings.h"
#include "fuzz_check.h"

#include <QDir>
#include <QRegularExpression>
#include <QSettings>
#include <QString>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace {

const QString ValueName = QStringLiteral("LCP");

QSettings &Store()
{
    // Left alive on purpose: destroying it would write the file.
    static QSettings *store
        = new QSettings(QDir::temp().filePath(QStringLiteral("qx-fuzz-settings-never-written.ini")),
            QSettings::IniFormat);
    return *store;
}

void CheckNumberParsing(const QString &text)
{
    const int port = ParseStoredPort(text);
    QX_FUZZ_CHECK(port >= 0 && port <= Protocol::LastPortNumber);
    const double number = LeadingNumber(text);
    QX_FUZZ_CHECK(std::isfinite(number));
    const qint64 rounded = RoundHalfEven(number);
    QX_FUZZ_CHECK(std::fabs(static_cast<double>(rounded) - number) <= 0.5 || rounded == 0);
}

void CheckFetchedValue(const QString &text)
{
    static const QRegularExpression dword(QStringLiteral("^dword:[0-9a-fA-F]{8}$"));
    QSettings &store = Store();
    store.setValue(ValueName, text);
    SettingValue value = SettingValue::fromText(QStringLiteral("default"));
    QX_FUZZ_CHECK(FetchValue(store, ValueName, value) == StoreSuccess);
    if (dword.match(text).hasMatch()) {
        QX_FUZZ_CHECK(value.kind == SettingValue::Kind::Number);
        bool ok = false;
        const quint32 bits = text.mid(6).toUInt(&ok, 16);
        QX_FUZZ_CHECK(ok && value.number == static_cast<qint32>(bits));
    } else {
        QX_FUZZ_CHECK(value.kind == SettingValue::Kind::Text && value.text == text);
    }
    CheckNumberParsing(value.toText());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const auto *text = reinterpret_cast<const char *>(data);
    const auto length = static_cast<qsizetype>(size);
    CheckNumberParsing(QString::fromLatin1(text, length));
    CheckFetchedValue(QString::fromUtf8(text, length));
    return 0;
}
