// The settings on disk: the store (an INI file whose groups are the key paths), the values the
// program keeps in it, the lock beside it that keeps one instance per store, and what the
// program does with the path it is given, whatever lies there.

#include "app/settings_access.h"
#include "app/single_instance.h"
#include "core/settings_store.h"
#include "core/stored_settings.h"
#include "core/string_table.h"

#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }
    void readsBackWhatWasWritten_data();
    void readsBackWhatWasWritten();
    void readsDefaultWhenNothingFits_data();
    void readsDefaultWhenNothingFits();
    void failedWriteLeavesTheOldValues();
    void readsStoredChoices_data();
    void readsStoredChoices();
    void knowsSettingsText_data();
    void knowsSettingsText();
    void oneInstancePerStore_data();
    void oneInstancePerStore();
    void neverLosesTheFileItIsGiven_data();
    void neverLosesTheFileItIsGiven();

private:
    QString path() const { return m_dir->filePath(QStringLiteral("settings.ini")); }
    QString made(const QString &setup);
    std::unique_ptr<QTemporaryDir> m_dir;
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

void TestSettings::knowsSettingsText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("settings");
    QTest::newRow("as the store writes it")
        << QByteArray("[SOFTWARE]\nTervan%20Divoreraro\\SP=/opt/qx/\n\n[x]\na=\"a;b\"\n") << true;
    QTest::newRow("nothing") << QByteArray() << true;
    QTest::newRow("comments, blank lines, CR LF, spaces, UTF-8")
        << QByteArray(";note\r\n\r\n  [Ger\xC3\xA4t]  \r\n\tLang = 100") << true;
    QTest::newRow("a line of text") << QByteArray("Lang=100\nDear user,\n") << false;
    QTest::newRow("a # comment, which the INI reader does not know")
        << QByteArray("# note\nLang=100\n") << false;
    QTest::newRow("a group without its ]") << QByteArray("[SOFTWARE\nLang=100\n") << false;
    QTest::newRow("a NUL byte") << QByteArray("Lang=1\0000\n", 9) << false;
    QTest::newRow("not UTF-8") << QByteArray("Lang=\xFF\n") << false;
}

void TestSettings::knowsSettingsText()
{
    QFETCH(QByteArray, text);
    QTEST(SettingsStore::isSettingsText(text), "settings");
}

void TestSettings::oneInstancePerStore_data()
{
    QTest::addColumn<QString>("second"); // the name a second start gives
    QTest::addColumn<bool>("held");
    QTest::newRow("the same path, spelled otherwise") << "sub/../settings.ini" << true;
    QTest::newRow("a symbolic link to it") << "link.ini" << true;
    QTest::newRow("a hard link to it, made before the first start") << "hard.ini" << true;
    QTest::newRow("another store") << "other.ini" << false;
}

void TestSettings::oneInstancePerStore()
{
    QFETCH(QString, second);
    const QDir dir(m_dir->path());
    QVERIFY(dir.mkpath(QStringLiteral("sub")));
    StoreLanguageOffset(SettingsStore(path()), Common::English);
    QVERIFY(QFile::link(path(), dir.filePath(QStringLiteral("link.ini"))));
    QCOMPARE(::link(QFile::encodeName(path()).constData(),
                 QFile::encodeName(dir.filePath(QStringLiteral("hard.ini"))).constData()),
        0);

    SingleInstance first(FindSettingsFile(path()).path);
    QCOMPARE(first.tryLock(), SingleInstance::Outcome::Locked);
    // Beside the settings, so only who may write them can hold it; not FILE.lock, which the
    // store takes itself for every write and which would then hang the first write.
    QCOMPARE(first.lockFilePath(), path() + QStringLiteral(".instance.lock"));
    StoreAutoStart(SettingsStore(path()), true); // as every start writes
    QVERIFY(StoredAutoStart(SettingsStore(path())));
    SingleInstance other(FindSettingsFile(dir.filePath(second)).path);
    QFETCH(bool, held);
    QCOMPARE(other.tryLock(),
        held ? SingleInstance::Outcome::HeldByAnother : SingleInstance::Outcome::Locked);
}

// What lies at the settings path, made as the row's setup says; the file that the path names.
QString TestSettings::made(const QString &setup)
{
    const QByteArray settings = "[SOFTWARE]\nTervan%20Divoreraro\\QX-SERVER\\Settings\\Lang=100\n";
    const QString target = m_dir->filePath(QStringLiteral("target.ini"));
    const auto write = [](const QString &file, const QByteArray &bytes) {
        QFile out(file);
        return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size();
    };
    const auto padded = [&settings](int size) {
        return settings + ';' + QByteArray(size - settings.size() - 2, 'x') + '\n';
    };
    if (setup == "settings")
        write(path(), settings);
    else if (setup == "text" || setup == "text, its set-aside name taken")
        write(path(), "Dear user,\nthese are no settings.\n")
            && (setup == "text"
                || write(path() + QStringLiteral(".unreadable-20261207-142305"), "earlier\n"));
    else if (setup == "1 MiB")
        write(path(), padded(1048576));
    else if (setup == "1 MiB and a byte")
        write(path(), padded(1048577));
    else if (setup == "read-only" || setup == "read-only, 1 MiB and a byte")
        write(path(), setup == "read-only" ? settings : padded(1048577))
            && QFile::setPermissions(
                path(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    else if (setup == "link")
        write(target, settings) && QFile::link(target, path());
    else if (setup == "link to a new file")
        QFile::link(target, path());
    else if (setup == "loop")
        QFile::link(path(), target) && QFile::link(target, path());
    else if (setup == "link into nowhere")
        QFile::link(m_dir->filePath(QStringLiteral("gone/settings.ini")), path());
    else if (setup == "FIFO")
        ::mkfifo(QFile::encodeName(path()).constData(), 0600);
    else if (setup == "folder")
        QDir().mkpath(path());
    return setup.startsWith(QLatin1String("link")) ? target : path();
}

// After the start-up's checks, a language read and a value written: the refusal or the one
// warning, and what became of the file.
void TestSettings::neverLosesTheFileItIsGiven_data()
{
    QTest::addColumn<QString>("setup"); // what lies at the path: see made()
    QTest::addColumn<QString>("said"); // in the refusal or the one warning; empty: silence
    QTest::addColumn<int>("lang"); // read from it
    QTest::addColumn<bool>("written"); // the value is stored
    QTest::addColumn<bool>("aside"); // FILE.unreadable-20261207-142305 holds what the file held
    QTest::addColumn<bool>("untouched"); // the file keeps its bytes and its mode
    const auto row = [](const char *name, const char *setup, const QString &said, int lang,
                         bool written, bool aside, bool untouched) {
        QTest::newRow(name) << setup << said << lang << written << aside << untouched;
    };
    const QString moved
        = QStringLiteral("moved aside to %1.unreadable-20261207-142305; using the defaults");
    const QString unused = QStringLiteral("using the defaults, changes will not be kept");
    row("no file yet: made when written", "none", "", 0, true, false, false);
    row("settings: read and written", "settings", "", 100, true, false, false);
    row("text that is no INI file: moved aside", "text",
        "cannot be read as settings (not an INI file): " + moved, 0, true, true, false);
    row("no INI file, and its set-aside name taken: left as it is",
        "text, its set-aside name taken", "(not an INI file) and cannot be moved aside to ", 0,
        false, false, true);
    row("settings of exactly 1 MiB: read", "1 MiB", "", 100, true, false, false);
    row("settings of 1 MiB and a byte: moved aside unread", "1 MiB and a byte",
        "cannot be read as settings (larger than 1024 KiB): " + moved, 0, true, true, false);
    row("read-only, also to root: read, never written", "read-only",
        ": it is read-only; changes will not be kept", 100, false, false, true);
    row("read-only and over 1 MiB: left as it is, unread", "read-only, 1 MiB and a byte",
        "(larger than 1024 KiB) and may not be written (it is read-only): left as it is; " + unused,
        0, false, false, true);
    row("a symbolic link: written through, the link stays", "link", "", 100, true, false, false);
    row("a symbolic link to a file not made yet: made through it", "link to a new file", "", 0,
        true, false, false);
    row("a loop of symbolic links: refused", "loop",
        "is not a regular file: its symbolic links form a loop", 0, false, false, false);
    row("a symbolic link into a folder that does not exist: refused", "link into nowhere",
        "is not a regular file: it is a symbolic link to ", 0, false, false, false);
    row("a FIFO: refused", "FIFO", "is not a regular file", 0, false, false, false);
    row("a folder: refused", "folder", "is not a regular file", 0, false, false, false);
}

void TestSettings::neverLosesTheFileItIsGiven()
{
    QFETCH(QString, setup);
    QFETCH(QString, said);
    const QString file = made(setup);
    QFile original(file);
    const QByteArray before
        = QFileInfo(file).isFile() && original.open(QIODevice::ReadOnly) ? original.readAll() : "";
    const QFile::Permissions mode = original.permissions();
    original.close();

    SettingsAccess access = FindSettingsFile(path());
    if (!access.error.isEmpty()) {
        QVERIFY2(!said.isEmpty() && access.error.contains(said), qPrintable(access.error));
        return;
    }
    PrepareSettingsFile(access, QDateTime(QDate(2026, 12, 7), QTime(14, 23, 5)));
    const SettingsStore store(access.path, access.use);
    QTEST(StoredLanguageOffset(store), "lang");
    StoreAutoStart(store, true);

    if (said.contains(QStringLiteral("%1")))
        said = said.arg(file);
    QVERIFY2(access.warnings.join(QLatin1Char('\n')).contains(said),
        qPrintable(access.warnings.join(QLatin1Char('\n'))));
    QCOMPARE(access.warnings.size(), said.isEmpty() ? 0 : 1);
    QTEST(StoredAutoStart(SettingsStore(path())), "written");
    QCOMPARE(QFileInfo(path()).isSymLink(), setup.startsWith(QLatin1String("link")));
    QFile setAside(file + QStringLiteral(".unreadable-20261207-142305"));
    QTEST(setAside.open(QIODevice::ReadOnly) && setAside.readAll() == before, "aside");
    QFETCH(bool, untouched);
    if (untouched) {
        QVERIFY(original.open(QIODevice::ReadOnly));
        QCOMPARE(original.readAll(), before);
        QCOMPARE(original.permissions(), mode);
    }
}

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
