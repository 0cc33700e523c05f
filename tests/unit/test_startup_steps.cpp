#include "app/single_instance.h"
#include "core/settings_store.h"
#include "core/stored_settings.h"
#include "core/string_table.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>

class TestStartupSteps : public QObject
{
    Q_OBJECT

private:
    QString settingsPath() const { return m_dir.filePath(QStringLiteral("settings.ini")); }
    void store(const QString &valueName, const SettingValue &value, int type)
    {
        SettingsStore(settingsPath())
            .WriteKeyValue(QString::fromLatin1(SettingsKey), valueName, value, type);
    }

    QTemporaryDir m_dir;

private Q_SLOTS:
    void init() { QFile::remove(settingsPath()); }

    void programFolder_data()
    {
        QTest::addColumn<QString>("applicationDir");
        QTest::addColumn<QString>("stored");
        QTest::newRow("separator appended") << "/opt/qx-server/bin"
                                            << "/opt/qx-server/bin/";
        QTest::newRow("root kept as it is") << "/"
                                            << "/";
        QTest::newRow("folder with its separator kept") << "/usr/bin/"
                                                        << "/usr/bin/";
        QTest::newRow("blanks in the name kept") << "/home/a b/qx"
                                                 << "/home/a b/qx/";
    }
    void programFolder()
    {
        QFETCH(QString, applicationDir);
        QFETCH(QString, stored);
        const SettingsStore settings(settingsPath());
        WriteProgramFolder(settings, applicationDir);
        QCOMPARE(settings.ReadKeyValue(QString::fromLatin1(VendorKey), QStringLiteral("SP"), {})
                     .toText(),
            stored);
    }

    void storedChoices_data()
    {
        QTest::addColumn<QString>("valueName");
        QTest::addColumn<bool>("present");
        QTest::addColumn<SettingValue>("value");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("langOffset");
        QTest::addColumn<bool>("autoStart");

        const auto text
            = [](const char *t) { return SettingValue::fromText(QString::fromUtf8(t)); };
        QTest::newRow("no Lang: German") << "Lang" << false << SettingValue() << 0 << 0 << false;
        QTest::newRow("Lang 100: English")
            << "Lang" << true << text("100") << ValueTypeString << 100 << false;
        QTest::newRow("Lang 0: German")
            << "Lang" << true << text("0") << ValueTypeString << 0 << false;
        QTest::newRow("Lang another number: German")
            << "Lang" << true << text("101") << ValueTypeString << 0 << false;
        QTest::newRow("Lang 100.0 is the number 100")
            << "Lang" << true << text("100.0") << ValueTypeString << 100 << false;
        QTest::newRow("Lang with leading blanks")
            << "Lang" << true << text("  100") << ValueTypeString << 100 << false;
        QTest::newRow("Lang empty text: German")
            << "Lang" << true << text("") << ValueTypeString << 0 << false;
        QTest::newRow("Lang not a number: German")
            << "Lang" << true << text("English") << ValueTypeString << 0 << false;
        QTest::newRow("Lang stored as a 32-bit number")
            << "Lang" << true << SettingValue::fromNumber(100) << ValueTypeNumber << 100 << false;
        QTest::newRow("no AutoStart: off")
            << "AutoStart" << false << SettingValue() << 0 << 0 << false;
        QTest::newRow("AutoStart 1: on")
            << "AutoStart" << true << text("1") << ValueTypeString << 0 << true;
        QTest::newRow("AutoStart 0: off")
            << "AutoStart" << true << text("0") << ValueTypeString << 0 << false;
        QTest::newRow("AutoStart another number: off")
            << "AutoStart" << true << text("-1") << ValueTypeString << 0 << false;
        QTest::newRow("AutoStart 1 followed by text")
            << "AutoStart" << true << text("1 yes") << ValueTypeString << 0 << true;
        QTest::newRow("AutoStart stored as a 32-bit number")
            << "AutoStart" << true << SettingValue::fromNumber(1) << ValueTypeNumber << 0 << true;
    }
    void storedChoices()
    {
        QFETCH(QString, valueName);
        QFETCH(bool, present);
        QFETCH(SettingValue, value);
        QFETCH(int, type);
        QFETCH(int, langOffset);
        QFETCH(bool, autoStart);
        if (present)
            store(valueName, value, type);
        const SettingsStore settings(settingsPath());
        QCOMPARE(StoredLanguageOffset(settings), langOffset);
        QCOMPARE(StoredAutoStart(settings), autoStart);
    }

    void secondInstanceOfTheSameStoreIsRefused_data()
    {
        QTest::addColumn<QString>("secondPath");
        QTest::addColumn<bool>("secondLocks");
        QTest::newRow("same path") << "settings.ini" << false;
        QTest::newRow("same file through another path") << "./sub/../settings.ini" << false;
        QTest::newRow("another store") << "other.ini" << true;
    }
    void secondInstanceOfTheSameStoreIsRefused()
    {
        QFETCH(QString, secondPath);
        QFETCH(bool, secondLocks);
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("sub")));
        SingleInstance first(settingsPath());
        QCOMPARE(first.tryLock(), SingleInstance::Outcome::Locked);
        SingleInstance second(m_dir.filePath(secondPath));
        QCOMPARE(second.tryLock() == SingleInstance::Outcome::Locked, secondLocks);
    }

    // Beside the settings, so only who may write them can hold it; not FILE.lock, which the
    // settings store takes itself for every write and which would then hang the first write.
    void lockLiesBesideTheSettings()
    {
        SingleInstance instance(settingsPath());
        QCOMPARE(instance.tryLock(), SingleInstance::Outcome::Locked);
        QCOMPARE(instance.lockFilePath(), settingsPath() + QStringLiteral(".instance.lock"));
        QVERIFY(QFileInfo::exists(instance.lockFilePath()));
        const SettingsStore settings(settingsPath());
        QCOMPARE(settings.WriteKeyValue(QString::fromLatin1(SettingsKey), QStringLiteral("Lang"),
                     SettingValue::fromText(QStringLiteral("100")), ValueTypeString),
            StoreSuccess);
    }

    void lockIsFreedWhenTheInstanceEnds()
    {
        {
            SingleInstance first(settingsPath());
            QCOMPARE(first.tryLock(), SingleInstance::Outcome::Locked);
        }
        SingleInstance next(settingsPath());
        QCOMPARE(next.tryLock(), SingleInstance::Outcome::Locked);
    }

    void oldLockOfARunningInstanceIsKept()
    {
        SingleInstance first(settingsPath());
        QCOMPARE(first.tryLock(), SingleInstance::Outcome::Locked);
        // A server that has run for a day still holds its store.
        QFile lock(first.lockFilePath());
        QVERIFY(lock.open(QIODevice::ReadWrite));
        QVERIFY(lock.setFileTime(
            QDateTime::currentDateTime().addDays(-1), QFileDevice::FileModificationTime));
        lock.close();
        SingleInstance second(settingsPath());
        QCOMPARE(second.tryLock(), SingleInstance::Outcome::HeldByAnother);
    }

    void lockOfADeadProcessIsTakenOver()
    {
        // A lock file as an instance leaves it behind when it is killed.
        QProcess finished;
        finished.start(QStringLiteral("true"), {});
        QVERIFY(finished.waitForStarted());
        const qint64 deadPid = finished.processId();
        QVERIFY(finished.waitForFinished());

        SingleInstance probe(settingsPath());
        {
            SingleInstance writer(settingsPath());
            QCOMPARE(writer.tryLock(), SingleInstance::Outcome::Locked);
        }
        QFile lock(probe.lockFilePath());
        QVERIFY(lock.open(QIODevice::WriteOnly | QIODevice::Truncate));
        lock.write(QByteArray::number(deadPid) + '\n' + QCoreApplication::applicationName().toUtf8()
            + '\n' + QSysInfo::machineHostName().toUtf8() + '\n');
        lock.close();

        QCOMPARE(probe.tryLock(), SingleInstance::Outcome::Locked);
    }
};

QTEST_GUILESS_MAIN(TestStartupSteps)
#include "test_startup_steps.moc"
