// The settings store: an INI file whose groups are the store's key paths.

#include "core/settings_store.h"

#include <QtTest>

#include <csignal>
#include <sys/resource.h>

Q_DECLARE_METATYPE(SettingValue)
Q_DECLARE_METATYPE(SettingValue::Kind)

namespace {

const QString Settings = QString::fromLatin1(SettingsKey);
const QString Vendor = QString::fromLatin1(VendorKey);

// The same value as a plain INI reader sees it: group path with '/'.
QVariant RawValue(const QString &path, const QString &key)
{
    QSettings ini(path, QSettings::IniFormat);
    return ini.value(key);
}

QByteArray FileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Makes every file write of this process fail as on a full disk, which holds
// for root as well (a read-only folder does not stop root).
class FullDisk
{
public:
    FullDisk()
    {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_oldLimit);
        rlimit limit = m_oldLimit;
        limit.rlim_cur = 0;
        m_active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FullDisk()
    {
        setrlimit(RLIMIT_FSIZE, &m_oldLimit);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    bool isActive() const { return m_active; }

private:
    rlimit m_oldLimit {};
    void (*m_oldHandler)(int) = nullptr;
    bool m_active = false;
};

} // namespace

class TestSettingsStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void readsDefaultWhenNothingIsStored_data();
    void readsDefaultWhenNothingIsStored();
    void roundTripsText_data();
    void roundTripsText();
    void readsNumberValues_data();
    void readsNumberValues();
    void writesNumberAsTextForTypeString();
    void writesNothingForUnknownType();
    void createsKeyAsIniGroup();
    void keepsKeysApart();
    void overwritesValue();
    void failsOnFileAsParent();
    void failsInReadOnlyFolder();
    void keepsOldValueWhenWriteFails();
    void fetchReportsWhatItFound_data();
    void fetchReportsWhatItFound();
    void defaultFileIsPerUser();

private:
    QString path() const { return m_dir->filePath(QStringLiteral("settings.ini")); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestSettingsStore::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestSettingsStore::readsDefaultWhenNothingIsStored_data()
{
    QTest::addColumn<QString>("rawKey"); // stored with a plain INI writer; empty: none
    QTest::addColumn<QVariant>("rawValue");
    QTest::addColumn<QByteArray>("fileContent"); // written as it stands; empty: none
    QTest::addColumn<QString>("defaultText");

    const QString lang = QStringLiteral("SOFTWARE/Tervan Divoreraro/QX-SERVER/Settings/Lang");
    QTest::newRow("no file") << QString() << QVariant() << QByteArray() << "0";
    QTest::newRow("other default") << QString() << QVariant() << QByteArray() << "abc";
    QTest::newRow("key missing") << "General/Lang" << QVariant("100") << QByteArray() << "0";
    QTest::newRow("value missing in the key")
        << "SOFTWARE/Tervan Divoreraro/QX-SERVER/Settings/AutoStart" << QVariant("1")
        << QByteArray() << "0";
    QTest::newRow("value under the vendor key only")
        << "SOFTWARE/Tervan Divoreraro/Lang" << QVariant("100") << QByteArray() << "0";
    QTest::newRow("list value is of another type")
        << lang << QVariant(QStringList { "1", "0" }) << QByteArray() << "0";
    QTest::newRow("not an INI file")
        << QString() << QVariant() << QByteArray("\x01\x02\x03garbage") << "1";
    QTest::newRow("a folder in place of the file")
        << QString() << QVariant() << QByteArray("folder") << "0";
}

void TestSettingsStore::readsDefaultWhenNothingIsStored()
{
    QFETCH(QString, rawKey);
    QFETCH(QVariant, rawValue);
    QFETCH(QByteArray, fileContent);
    QFETCH(QString, defaultText);

    if (!rawKey.isEmpty()) {
        QSettings ini(path(), QSettings::IniFormat);
        ini.setValue(rawKey, rawValue);
    } else if (fileContent == "folder") {
        QVERIFY(QDir().mkdir(path()));
    } else if (!fileContent.isEmpty()) {
        QFile file(path());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(fileContent);
    }
    const SettingValue value = SettingsStore(path()).ReadKeyValue(Settings, "Lang", defaultText);
    QCOMPARE(value.toText(), defaultText);
}

void TestSettingsStore::roundTripsText_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("German") << "0";
    QTest::newRow("English") << "100";
    QTest::newRow("autostart on") << "1";
    QTest::newRow("empty text") << "";
    QTest::newRow("program folder") << "/opt/qx server/bin/";
    QTest::newRow("Windows folder") << "C:\\Programme\\QX-SERVER\\";
    QTest::newRow("comma") << "1, 0";
    QTest::newRow("semicolon and hash") << "a;b#c";
    QTest::newRow("blanks around") << "  7  ";
    QTest::newRow("at sign first") << "@Variant(x)";
    QTest::newRow("quotes") << "\"7\"";
    QTest::newRow("equals sign") << "a=b";
    QTest::newRow("umlaut") << QString::fromUtf16(u"Ger\u00E4t");
    QTest::newRow("line break") << "a\nb";
}

void TestSettingsStore::roundTripsText()
{
    QFETCH(QString, text);

    const SettingsStore store(path());
    QCOMPARE(store.WriteKeyValue(Settings, "SP", SettingValue::fromText(text), ValueTypeString),
        StoreSuccess);
    const SettingValue value = store.ReadKeyValue(Settings, "SP", "default");
    QCOMPARE(value.kind, SettingValue::Kind::Text);
    QCOMPARE(value.text, text);
    QCOMPARE(value.toText(), text);
}

void TestSettingsStore::readsNumberValues_data()
{
    QTest::addColumn<SettingValue>("written");
    QTest::addColumn<qint32>("number");
    QTest::addColumn<QString>("text");

    QTest::newRow("Lang as number 100") << SettingValue::fromNumber(100) << 100 << "100";
    QTest::newRow("zero") << SettingValue::fromNumber(0) << 0 << "0";
    QTest::newRow("negative") << SettingValue::fromNumber(-1) << -1 << "-1";
    QTest::newRow("largest") << SettingValue::fromNumber(2147483647) << 2147483647 << "2147483647";
    QTest::newRow("smallest") << SettingValue::fromNumber(-2147483647 - 1) << -2147483647 - 1
                              << "-2147483648";
    QTest::newRow("text turned into a number") << SettingValue::fromText("7") << 7 << "7";
}

void TestSettingsStore::readsNumberValues()
{
    QFETCH(SettingValue, written);
    QFETCH(qint32, number);
    QFETCH(QString, text);

    const SettingsStore store(path());
    QCOMPARE(store.WriteKeyValue(Settings, "Lang", written, ValueTypeNumber), StoreSuccess);
    const SettingValue value = store.ReadKeyValue(Settings, "Lang", "0");
    QCOMPARE(value.kind, SettingValue::Kind::Number);
    QCOMPARE(value.number, number);
    QCOMPARE(value.toText(), text);
}

void TestSettingsStore::writesNumberAsTextForTypeString()
{
    const SettingsStore store(path());
    QCOMPARE(store.WriteKeyValue(Settings, "LCP", SettingValue::fromNumber(7), ValueTypeString),
        StoreSuccess);

    const SettingValue value = store.ReadKeyValue(Settings, "LCP", "0");
    QCOMPARE(value.kind, SettingValue::Kind::Text);
    QCOMPARE(value.text, QStringLiteral("7"));
    const QVariant raw = RawValue(path(), "SOFTWARE/Tervan Divoreraro/QX-SERVER/Settings/LCP");
    QCOMPARE(raw.userType(), QMetaType::QString);
    QCOMPARE(raw.toString(), QStringLiteral("7"));
}

void TestSettingsStore::writesNothingForUnknownType()
{
    const SettingsStore store(path());
    QCOMPARE(store.WriteKeyValue(Settings, "Lang", SettingValue::fromText("100"), 3), StoreSuccess);
    QCOMPARE(store.ReadKeyValue(Settings, "Lang", "0").toText(), QStringLiteral("0"));
}

void TestSettingsStore::createsKeyAsIniGroup()
{
    const QString nested = m_dir->filePath(QStringLiteral("new/folder/settings.ini"));
    const SettingsStore store(nested);
    QCOMPARE(
        store.WriteKeyValue(Settings, "AutoStart", SettingValue::fromText("1"), ValueTypeString),
        StoreSuccess);
    QCOMPARE(store.WriteKeyValue(Vendor, "SP", SettingValue::fromText("/opt/qx/"), ValueTypeString),
        StoreSuccess);

    QVERIFY(QFileInfo::exists(nested));
    QCOMPARE(RawValue(nested, "SOFTWARE/Tervan Divoreraro/QX-SERVER/Settings/AutoStart"),
        QVariant(QStringLiteral("1")));
    QCOMPARE(
        RawValue(nested, "SOFTWARE/Tervan Divoreraro/SP"), QVariant(QStringLiteral("/opt/qx/")));
    QCOMPARE(store.ReadKeyValue(Settings, "AutoStart", "0").toText(), QStringLiteral("1"));
}

void TestSettingsStore::keepsKeysApart()
{
    const SettingsStore store(path());
    store.WriteKeyValue(Vendor, "SP", SettingValue::fromText("/opt/qx/"), ValueTypeString);
    store.WriteKeyValue(Settings, "Lang", SettingValue::fromText("100"), ValueTypeString);

    QCOMPARE(store.ReadKeyValue(Settings, "SP", "none").toText(), QStringLiteral("none"));
    QCOMPARE(store.ReadKeyValue(Vendor, "Lang", "0").toText(), QStringLiteral("0"));
    QCOMPARE(store.ReadKeyValue(Vendor, "SP", "none").toText(), QStringLiteral("/opt/qx/"));
    QCOMPARE(store.ReadKeyValue(Settings, "Lang", "0").toText(), QStringLiteral("100"));
}

void TestSettingsStore::overwritesValue()
{
    const SettingsStore store(path());
    store.WriteKeyValue(Settings, "Lang", SettingValue::fromNumber(100), ValueTypeNumber);
    store.WriteKeyValue(Settings, "Lang", SettingValue::fromText("0"), ValueTypeString);
    const SettingValue value = store.ReadKeyValue(Settings, "Lang", "100");
    QCOMPARE(value.kind, SettingValue::Kind::Text);
    QCOMPARE(value.text, QStringLiteral("0"));
}

void TestSettingsStore::failsOnFileAsParent()
{
    const QString parent = m_dir->filePath(QStringLiteral("plain-file"));
    QFile file(parent);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    const SettingsStore store(parent + QStringLiteral("/settings.ini"));
    QVERIFY(store.WriteKeyValue(Settings, "AutoStart", SettingValue::fromText("1"), ValueTypeString)
        != StoreSuccess);
    QCOMPARE(store.ReadKeyValue(Settings, "AutoStart", "0").toText(), QStringLiteral("0"));
    QCOMPARE(QFileInfo(parent).size(), 0);
}

void TestSettingsStore::failsInReadOnlyFolder()
{
    const QString folder = m_dir->filePath(QStringLiteral("locked"));
    QVERIFY(QDir().mkdir(folder));
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    QFile probe(folder + QStringLiteral("/probe"));
    if (probe.open(QIODevice::WriteOnly)) {
        probe.close();
        probe.remove();
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QSKIP("this user may write into a read-only folder (root)");
    }

    const SettingsStore store(folder + QStringLiteral("/settings.ini"));
    const int result
        = store.WriteKeyValue(Settings, "Lang", SettingValue::fromText("100"), ValueTypeString);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(result != StoreSuccess);
    QCOMPARE(store.ReadKeyValue(Settings, "Lang", "0").toText(), QStringLiteral("0"));
}

void TestSettingsStore::keepsOldValueWhenWriteFails()
{
    const SettingsStore store(path());
    QCOMPARE(store.WriteKeyValue(Settings, "Lang", SettingValue::fromText("100"), ValueTypeString),
        StoreSuccess);
    QCOMPARE(store.WriteKeyValue(Vendor, "SP", SettingValue::fromText("/opt/qx/"), ValueTypeString),
        StoreSuccess);
    const QByteArray before = FileBytes(path());

    int overwrite = StoreSuccess;
    int addition = StoreSuccess;
    QStringList readWhileFull;
    {
        const FullDisk full;
        QVERIFY(full.isActive());
        overwrite
            = store.WriteKeyValue(Settings, "Lang", SettingValue::fromText("0"), ValueTypeString);
        addition = store.WriteKeyValue(
            Settings, "AutoStart", SettingValue::fromText("1"), ValueTypeString);
        readWhileFull << store.ReadKeyValue(Settings, "Lang", "0").toText()
                      << store.ReadKeyValue(Vendor, "SP", "none").toText()
                      << store.ReadKeyValue(Settings, "AutoStart", "0").toText();
    }
    const QByteArray after = FileBytes(path());

    QVERIFY(overwrite != StoreSuccess);
    QVERIFY(addition != StoreSuccess);
    QCOMPARE(after, before);
    const QStringList stored { "100", "/opt/qx/", "0" };
    QCOMPARE(readWhileFull, stored);
    const QStringList readLater { store.ReadKeyValue(Settings, "Lang", "0").toText(),
        store.ReadKeyValue(Vendor, "SP", "none").toText(),
        store.ReadKeyValue(Settings, "AutoStart", "0").toText() };
    QCOMPARE(readLater, stored);
}

void TestSettingsStore::fetchReportsWhatItFound_data()
{
    QTest::addColumn<QVariant>("stored"); // invalid: no value at all
    QTest::addColumn<int>("result");
    QTest::addColumn<SettingValue::Kind>("kind");
    QTest::addColumn<QString>("text");

    QTest::newRow("no value: unchanged")
        << QVariant() << int(StoreNotFound) << SettingValue::Kind::Text << "before";
    QTest::newRow("list: another type, unchanged")
        << QVariant(QStringList { "a", "b" }) << -1 << SettingValue::Kind::Text << "before";
    QTest::newRow("text") << QVariant(QStringLiteral("7")) << int(StoreSuccess)
                          << SettingValue::Kind::Text << "7";
    QTest::newRow("number") << QVariant(QStringLiteral("dword:00000064")) << int(StoreSuccess)
                            << SettingValue::Kind::Number << "100";
}

void TestSettingsStore::fetchReportsWhatItFound()
{
    QFETCH(QVariant, stored);
    QFETCH(int, result);
    QFETCH(SettingValue::Kind, kind);
    QFETCH(QString, text);

    QSettings key(path(), QSettings::IniFormat);
    if (stored.isValid())
        key.setValue("Lang", stored);
    SettingValue value = SettingValue::fromText("before");
    QCOMPARE(FetchValue(key, "Lang", value), result);
    QCOMPARE(value.kind, kind);
    QCOMPARE(value.toText(), text);
}

void TestSettingsStore::defaultFileIsPerUser()
{
    const QString path = SettingsStore::defaultPath();
    QVERIFY2(path.endsWith(QStringLiteral("/Tervan Divoreraro/QX-SERVER.ini")), qPrintable(path));
}

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "test_settings_store.moc"
