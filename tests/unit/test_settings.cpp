// The settings on disk: the store (an INI file whose groups are the key paths), the values the
// program keeps in it, the lock beside it that keeps one instance per store, and what the
// program can do with the path it is given.

#include "app/settings_access.h"
#include "app/single_instance.h"
#include "core/settings_store.h"
#include "core/stored_settings.h"
#include "core/string_table.h"

#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

Q_DECLARE_METATYPE(SettingValue)

namespace {

const QString Settings = QString::fromLatin1(SettingsKey);

// Makes every file write of this process fail as on a full disk, which holds for root as well
// (a read-only folder does not stop root).
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

class TestSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QFile::remove(path()); }
    void readsBackWhatWasWritten_data();
    void readsBackWhatWasWritten();
    void readsDefaultWhenNothingFits_data();
    void readsDefaultWhenNothingFits();
    void failedWriteLeavesTheOldValues();
    void readsStoredChoices_data();
    void readsStoredChoices();
    void oneInstancePerStore();
    void refusesAPathThatIsNoFile();

private:
    QString path() const { return m_dir.filePath(QStringLiteral("settings.ini")); }
    QTemporaryDir m_dir;
};

void TestSettings::readsBackWhatWasWritten_data()
{
    QTest::addColumn<SettingValue>("value");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("text"); // as read back

    for (const QString &text : { QStringLiteral("100"), QString(), QStringLiteral("a;b#c=d"),
             QStringLiteral("  7  "), QStringLiteral("@Variant(x)"), QStringLiteral("a\nb"),
             QString::fromUtf16(u"Ger\u00E4t"), QStringLiteral("C:\\Programme\\QX\\") })
        QTest::newRow(qPrintable("text: " + text)) << SettingValue::fromText(text) << 1 << text;
    QTest::newRow("number 100") << SettingValue::fromNumber(100) << 4 << "100";
    QTest::newRow("smallest number")
        << SettingValue::fromNumber(-2147483647 - 1) << 4 << "-2147483648";
    QTest::newRow("text as a number") << SettingValue::fromText("7") << 4 << "7";
    QTest::newRow("unknown type: nothing written") << SettingValue::fromText("1") << 3 << "none";
}

void TestSettings::readsBackWhatWasWritten()
{
    QFETCH(SettingValue, value);
    QFETCH(int, type);
    const SettingsStore store(path());
    QCOMPARE(store.WriteKeyValue(Settings, QStringLiteral("Lang"), value, type), StoreSuccess);
    QTEST(store.ReadKeyValue(Settings, QStringLiteral("Lang"), "none").toText(), "text");
    if (type == 4) // as a registry export writes a number
        QVERIFY(QSettings(path(), QSettings::IniFormat)
                    .value(QStringLiteral("SOFTWARE/Tervan Divoreraro/QX-SERVER/Settings/Lang"))
                    .toString()
                    .startsWith(QStringLiteral("dword:")));
}

void TestSettings::readsDefaultWhenNothingFits_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("no file") << "none";
    QTest::newRow("the value under another key") << "other key";
    QTest::newRow("a list is no value of ours") << "list";
    QTest::newRow("not an INI file") << "garbage";
}

void TestSettings::readsDefaultWhenNothingFits()
{
    QFETCH(QString, file);
    const QString lang = QStringLiteral("SOFTWARE/Tervan Divoreraro/QX-SERVER/Settings/Lang");
    if (file == "other key")
        QSettings(path(), QSettings::IniFormat).setValue("SOFTWARE/Tervan Divoreraro/Lang", "100");
    else if (file == "list")
        QSettings(path(), QSettings::IniFormat).setValue(lang, QStringList { "1", "2" });
    else if (QFile out(path()); file == "garbage" && out.open(QIODevice::WriteOnly))
        out.write(QByteArray("\x00\x01\xFF[garbage", 12));
    QCOMPARE(SettingsStore(path()).ReadKeyValue(Settings, "Lang", "0").toText(), "0");
}

void TestSettings::failedWriteLeavesTheOldValues()
{
    const SettingsStore store(path());
    StoreLanguageOffset(store, Common::English);
    QFile file(path());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    int overwrite = StoreSuccess, addition = StoreSuccess;
    {
        const FullDisk full;
        QVERIFY(full.isActive());
        overwrite = store.WriteKeyValue(Settings, "Lang", SettingValue::fromText("0"), 1);
        addition = store.WriteKeyValue(Settings, "AutoStart", SettingValue::fromText("1"), 1);
        QCOMPARE(StoredLanguageOffset(store), Common::English); // no cached change either
    }
    QVERIFY(overwrite != StoreSuccess && addition != StoreSuccess);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), before);
    QVERIFY(!StoredAutoStart(store));
}

void TestSettings::readsStoredChoices_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<SettingValue>("stored"); // nothing: not stored
    QTest::addColumn<int>("read"); // language offset, autostart 0/1 or port

    const SettingValue none;
    QTest::newRow("Lang 100: English") << "Lang" << SettingValue::fromText("100") << 100;
    QTest::newRow("Lang as a number 100") << "Lang" << SettingValue::fromNumber(100) << 100;
    QTest::newRow("Lang 99: German") << "Lang" << SettingValue::fromText("99") << 0;
    QTest::newRow("no Lang: German") << "Lang" << none << 0;
    QTest::newRow("AutoStart 1") << "AutoStart" << SettingValue::fromText("1") << 1;
    QTest::newRow("AutoStart 2: off") << "AutoStart" << SettingValue::fromText("2") << 0;
    QTest::newRow("LCP 2.5: port 2") << "LCP" << SettingValue::fromText("2.5") << 2;
    QTest::newRow("no LCP: none") << "LCP" << none << 0;
}

void TestSettings::readsStoredChoices()
{
    QFETCH(QString, value);
    QFETCH(SettingValue, stored);
    const SettingsStore store(path());
    if (stored.kind != SettingValue::Kind::Nothing)
        store.WriteKeyValue(Settings, value, stored,
            stored.kind == SettingValue::Kind::Number ? ValueTypeNumber : ValueTypeString);
    const int read = value == "Lang" ? StoredLanguageOffset(store)
        : value == "AutoStart"       ? int(StoredAutoStart(store))
                                     : StoredPort(store);
    QTEST(read, "read");
}

void TestSettings::oneInstancePerStore()
{
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("sub")));
    SingleInstance first(path());
    QCOMPARE(first.tryLock(), SingleInstance::Outcome::Locked);
    // Beside the settings, so only who may write them can hold it; not FILE.lock, which the
    // store takes itself for every write and which would then hang the first write.
    QCOMPARE(first.lockFilePath(), path() + QStringLiteral(".instance.lock"));
    StoreAutoStart(SettingsStore(path()), true);
    QVERIFY(StoredAutoStart(SettingsStore(path())));
    SingleInstance samePath(m_dir.filePath(QStringLiteral("sub/../settings.ini")));
    QCOMPARE(samePath.tryLock(), SingleInstance::Outcome::HeldByAnother);
    SingleInstance otherStore(m_dir.filePath(QStringLiteral("other.ini")));
    QCOMPARE(otherStore.tryLock(), SingleInstance::Outcome::Locked);
}

void TestSettings::refusesAPathThatIsNoFile()
{
    QVERIFY(CheckSettingsAccess(path()).error.isEmpty()); // not there yet: made when written
    QCOMPARE(::mkfifo(QFile::encodeName(path()).constData(), 0600), 0);
    QVERIFY(CheckSettingsAccess(path()).error.contains(QStringLiteral("not a regular file")));
    QVERIFY(CheckSettingsAccess(m_dir.path()).error.contains(QStringLiteral("not a regular file")));
}

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
