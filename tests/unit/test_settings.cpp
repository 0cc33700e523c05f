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

// What a regular file holds; nothing for anything else (a FIFO would block the reading).
QByteArray Contents(const QString &path)
{
    QFile file(path);
    return QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly) ? file.readAll() : "";
}

bool Write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void readsBackWhatWasWritten_data()
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
        QTest::newRow("unknown type: nothing written")
            << SettingValue::fromText("1") << 3 << "none";
    }
    void readsBackWhatWasWritten()
    {
        QFETCH(SettingValue, value);
        QFETCH(int, type);
        const SettingsStore store(path());
        QCOMPARE(store.WriteKeyValue(Settings, "Lang", value, type), StoreSuccess);
        QTEST(store.ReadKeyValue(Settings, "Lang", "none").toText(), "text");
        if (type == 4) // as a registry export writes a number
            QVERIFY(QSettings(path(), QSettings::IniFormat)
                        .value("SOFTWARE/Tervan Divoreraro/QX-SERVER/Settings/Lang")
                        .toString()
                        .startsWith("dword:"));
    }

    void failedWriteLeavesTheOldValues()
    {
        const SettingsStore store(path());
        StoreLanguageOffset(store, Common::English);
        const QByteArray before = Contents(path());
        {
            // Every write of a file fails as on a full disk, also for root, whom a read-only
            // folder would not stop; without the signal, which would end the test.
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit {};
            QCOMPARE(getrlimit(RLIMIT_FSIZE, &limit), 0);
            const auto restore = qScopeGuard([old = limit] { setrlimit(RLIMIT_FSIZE, &old); });
            limit.rlim_cur = 0;
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
            QVERIFY(store.WriteKeyValue(Settings, "Lang", SettingValue::fromText("0"), 1)
                != StoreSuccess);
            QVERIFY(store.WriteKeyValue(Settings, "AutoStart", SettingValue::fromText("1"), 1)
                != StoreSuccess);
            QCOMPARE(StoredLanguageOffset(store), Common::English); // no cached change either
        }
        QCOMPARE(Contents(path()), before);
        QVERIFY(!StoredAutoStart(store));
    }

    // What a file gives: the text the store reads ("none": the default), and what the program
    // makes of it: the language offset, autostart 0/1 or the port.
    void readsStoredValues_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("file"); // null: none
        QTest::addColumn<int>("read");
        QTest::addColumn<QString>("text");
        const QByteArray ours = "[SOFTWARE]\nTervan%20Divoreraro\\QX-SERVER\\Settings\\";
        QTest::newRow("Lang 100: English") << "Lang" << ours + "Lang=100" << 100 << "100";
        QTest::newRow("Lang as a number, as a registry export writes it: English")
            << "Lang" << ours + "Lang=dword:00000064" << 100 << "100";
        QTest::newRow("Lang 99: German") << "Lang" << ours + "Lang=99" << 0 << "99";
        QTest::newRow("no file: German") << "Lang" << QByteArray() << 0 << "none";
        QTest::newRow("Lang under another key: German")
            << "Lang" << QByteArray("[SOFTWARE]\nTervan%20Divoreraro\\Lang=100") << 0 << "none";
        QTest::newRow("a list, no value of ours: German")
            << "Lang" << ours + "Lang=100, 100" << 0 << "none";
        QTest::newRow("AutoStart 1") << "AutoStart" << ours + "AutoStart=1" << 1 << "1";
        QTest::newRow("AutoStart 2: off") << "AutoStart" << ours + "AutoStart=2" << 0 << "2";
        QTest::newRow("LCP 7: port 7") << "LCP" << ours + "LCP=7" << 7 << "7";
        QTest::newRow("no LCP: none") << "LCP" << QByteArray() << 0 << "none";
    }
    void readsStoredValues()
    {
        QFETCH(QString, value);
        QFETCH(QByteArray, file);
        QVERIFY(file.isNull() || Write(path(), file));
        const SettingsStore store(path());
        QTEST(store.ReadKeyValue(Settings, value, "none").toText(), "text");
        const int read = value == "Lang" ? StoredLanguageOffset(store)
            : value == "AutoStart"       ? int(StoredAutoStart(store))
                                         : StoredPort(store);
        QTEST(read, "read");
    }

    void knowsSettingsText_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("settings");
        QTest::newRow("as the store writes it")
            << QByteArray("[SOFTWARE]\nTervan%20Divoreraro\\SP=/opt/qx/\n\n[x]\na=\"a;b\"\n")
            << true;
        QTest::newRow("nothing") << QByteArray() << true;
        QTest::newRow("comments, blank lines, CR LF, spaces, UTF-8")
            << QByteArray(";note\r\n\r\n  [Ger\xC3\xA4t]  \r\n\tLang = 100") << true;
        QTest::newRow("a # comment, which the INI reader does not know")
            << QByteArray("# note\nLang=100\n") << false;
        QTest::newRow("a group without its ]") << QByteArray("[SOFTWARE\nLang=100\n") << false;
        QTest::newRow("a NUL byte") << QByteArray("Lang=1\0000\n", 9) << false;
        QTest::newRow("not UTF-8") << QByteArray("Lang=\xFF\n") << false;
    }
    void knowsSettingsText()
    {
        QFETCH(QByteArray, text);
        QTEST(SettingsStore::isSettingsText(text), "settings");
    }

    void oneInstancePerStore_data()
    {
        QTest::addColumn<QString>("second"); // the name a second start gives
        QTest::addColumn<bool>("held");
        QTest::newRow("the same path, spelled otherwise") << "sub/../settings.ini" << true;
        QTest::newRow("a symbolic link to it") << "link.ini" << true;
        QTest::newRow("a hard link to it, made before the first start") << "hard.ini" << true;
        QTest::newRow("another store") << "other.ini" << false;
    }
    void oneInstancePerStore()
    {
        QFETCH(QString, second);
        const QDir dir(m_dir->path());
        QVERIFY(dir.mkpath("sub"));
        StoreLanguageOffset(SettingsStore(path()), Common::English);
        QVERIFY(QFile::link(path(), dir.filePath("link.ini")));
        QCOMPARE(::link(QFile::encodeName(path()).constData(),
                     QFile::encodeName(dir.filePath("hard.ini")).constData()),
            0);

        SingleInstance first(FindSettingsFile(path()).path);
        QCOMPARE(first.tryLock(), SingleInstance::Outcome::Locked);
        // Beside the settings, so only who may write them can hold it; not FILE.lock, which the
        // store takes itself for every write and which would then hang the first write.
        QCOMPARE(first.lockFilePath(), path() + ".instance.lock");
        StoreAutoStart(SettingsStore(path()), true); // as every start writes
        QVERIFY(StoredAutoStart(SettingsStore(path())));
        SingleInstance other(FindSettingsFile(dir.filePath(second)).path);
        QFETCH(bool, held);
        QCOMPARE(other.tryLock(),
            held ? SingleInstance::Outcome::HeldByAnother : SingleInstance::Outcome::Locked);
    }

    // After the start-up's checks, a language read and a value written: the refusal or the one
    // warning, and what became of the file.
    void neverLosesTheFileItIsGiven_data()
    {
        QTest::addColumn<QString>("setup"); // what lies at the path, holding the bytes: see made()
        QTest::addColumn<QByteArray>("bytes"); // null: no file
        QTest::addColumn<QString>("said"); // in the refusal or the one warning; empty: silence
        QTest::addColumn<int>("lang"); // read from it
        // Of the file: written; moved aside (FILE.unreadable-20261207-142305 holds what it held)
        // and made anew; untouched (its bytes and mode kept, nothing written); refused.
        QTest::addColumn<QString>("fate");
        const QByteArray ours = "[SOFTWARE]\nTervan%20Divoreraro\\QX-SERVER\\Settings\\Lang=100\n";
        const QByteArray mib = ours + ';' + QByteArray(1048576 - ours.size() - 2, 'x') + '\n';
        const auto row = [](const char *name, const char *setup, const QByteArray &bytes,
                             const char *said, int lang, const char *fate) {
            QTest::newRow(name) << setup << bytes << said << lang << fate;
        };
        row("no file yet: made when written", "file", {}, "", 0, "written");
        row("no INI file, and its set-aside name taken: left as it is", "set-aside name taken",
            "Dear user,\n", "(not an INI file) and cannot be moved aside to ", 0, "untouched");
        row("settings of exactly 1 MiB: read", "file", mib, "", 100, "written");
        row("settings of 1 MiB and a byte: moved aside unread", "file", mib + 'x',
            "cannot be read as settings (larger than 1024 KiB): moved aside to "
            "%1.unreadable-20261207-142305; using the defaults",
            0, "moved aside");
        row("read-only, also to root: read, never written", "read-only", ours,
            ": it is read-only; changes will not be kept", 100, "untouched");
        row("read-only and over 1 MiB: left as it is, unread", "read-only", mib + 'x',
            "(larger than 1024 KiB) and may not be written (it is read-only): left as it is; "
            "using the defaults, changes will not be kept",
            0, "untouched");
        row("a symbolic link: written through, the link stays", "link", ours, "", 100, "written");
        row("a symbolic link to a file not made yet: made through it", "link", {}, "", 0,
            "written");
        row("a loop of symbolic links: refused", "loop", {},
            "is not a regular file: its symbolic links form a loop", 0, "refused");
        row("a symbolic link into a folder that does not exist: refused", "link into nowhere", {},
            "is not a regular file: it is a symbolic link to ", 0, "refused");
        row("a FIFO: refused", "FIFO", {}, "is not a regular file", 0, "refused");
        row("a folder: refused", "folder", {}, "is not a regular file", 0, "refused");
    }
    void neverLosesTheFileItIsGiven()
    {
        QFETCH(QString, setup);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, said);
        const QString file = made(setup, bytes);
        const QByteArray before = Contents(file);
        const QFile::Permissions mode = QFile::permissions(file);

        SettingsAccess access = FindSettingsFile(path());
        QFETCH(QString, fate);
        if (!access.error.isEmpty()) {
            QCOMPARE(fate, "refused");
            QVERIFY2(access.error.contains(said), qPrintable(access.error));
            return;
        }
        PrepareSettingsFile(access, QDateTime(QDate(2026, 12, 7), QTime(14, 23, 5)));
        const SettingsStore store(access.path, access.use);
        QTEST(StoredLanguageOffset(store), "lang");
        StoreAutoStart(store, true);

        if (said.contains("%1"))
            said = said.arg(file);
        const QString warnings = access.warnings.join('\n');
        QVERIFY2(warnings.contains(said), qPrintable(warnings));
        QCOMPARE(access.warnings.size(), said.isEmpty() ? 0 : 1);
        QCOMPARE(StoredAutoStart(SettingsStore(path())), fate != "untouched");
        QCOMPARE(QFileInfo(path()).isSymLink(), setup == "link");
        const QString aside = file + ".unreadable-20261207-142305";
        QCOMPARE(QFile::exists(aside) && Contents(aside) == before, fate == "moved aside");
        if (fate == "untouched")
            QVERIFY(Contents(file) == before && QFile::permissions(file) == mode);
    }

private:
    QString path() const { return m_dir->filePath("settings.ini"); }

    // What lies at the settings path, made as the row's setup says; the file that the path names.
    QString made(const QString &setup, const QByteArray &bytes)
    {
        const QString target = m_dir->filePath("target.ini");
        const QString file = setup == "link" ? target : path();
        if (!bytes.isNull())
            Write(file, bytes);
        if (setup == "set-aside name taken")
            Write(file + ".unreadable-20261207-142305", "earlier\n");
        else if (setup == "read-only")
            QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
        else if (setup == "link")
            QFile::link(target, path());
        else if (setup == "loop")
            QFile::link(path(), target) && QFile::link(target, path());
        else if (setup == "link into nowhere")
            QFile::link(m_dir->filePath("gone/settings.ini"), path());
        else if (setup == "FIFO")
            ::mkfifo(QFile::encodeName(path()).constData(), 0600);
        else if (setup == "folder")
            QDir().mkpath(path());
        return file;
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
