#include "core/clock.h"
#include "core/settings_store.h"
#include "core/string_table.h"
#include "support/fake_server_control.h"
#include "ui/mainform.h"
#include "ui/startform.h"
#include "ui/startup.h"

#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

// One program start: the windows, the server and the start-up, on one store.
struct ProgramStart
{
    explicit ProgramStart(const QString &settingsPath, const ManualClock &clock)
        : settings(settingsPath)
        , mainform(settings)
        , server(mainform)
        , startup(mainform, splash, server, settings, clock, QStringLiteral("/opt/qx-server"))
    {
        mainform.setServerControl(&server);
    }

    QString caption(const char *name) const
    {
        if (auto *menu = mainform.findChild<QMenu *>(QLatin1String(name)))
            return menu->title();
        if (auto *label = mainform.findChild<QLabel *>(QLatin1String(name)))
            return label->text();
        return mainform.findChild<QAction *>(QLatin1String(name))->text();
    }
    bool checked(const char *name) const
    {
        return mainform.findChild<QAction *>(QLatin1String(name))->isChecked();
    }
    QMessageBox *messageBox() const { return mainform.findChild<QMessageBox *>(); }

    SettingsStore settings;
    Mainform mainform;
    Startform splash;
    FakeServerControl server;
    Startup startup;
};

class TestStartup : public QObject
{
    Q_OBJECT

private:
    QString settingsPath() const { return m_dir.filePath(QStringLiteral("settings.ini")); }
    void store(const char *valueName, const char *text)
    {
        SettingsStore(settingsPath())
            .WriteKeyValue(QString::fromLatin1(SettingsKey), QString::fromLatin1(valueName),
                SettingValue::fromText(QString::fromLatin1(text)), ValueTypeString);
    }

    QTemporaryDir m_dir;
    ManualClock m_clock;

private Q_SLOTS:
    void init()
    {
        QFile::remove(settingsPath());
        Common::LangOffset = Common::German;
        m_clock.set(1000);
    }

    void stepsBeforeTheMainWindowShows()
    {
        store("Lang", "100");
        ProgramStart program(settingsPath(), m_clock);
        QSignalSpy finished(&program.startup, &Startup::finished);
        program.startup.run();

        QVERIFY(program.splash.isVisible());
        QVERIFY(!program.mainform.isVisible());
        QCOMPARE(finished.count(), 0);
        QCOMPARE(
            program.settings.ReadKeyValue(QString::fromLatin1(VendorKey), QStringLiteral("SP"), {})
                .toText(),
            QStringLiteral("/opt/qx-server/"));
        QCOMPARE(program.mainform.windowTitle(), QStringLiteral("Tervan QX-USB Server"));
        QVERIFY(program.mainform.findChild<QAction *>(QStringLiteral("MSSep002"))->isVisible());
        QVERIFY(program.mainform.findChild<QAction *>(QStringLiteral("MSShowIP"))->isVisible());
        QCOMPARE(program.caption("MDatei"), QStringLiteral("&File"));
        QCOMPARE(program.caption("Label5"), QStringLiteral("Server is not running"));
        auto *status = program.mainform.findChild<QLabel *>(QStringLiteral("Label5"));
        QCOMPARE(status->palette().color(QPalette::Window), QColor(Qt::red));
        QCOMPARE(status->palette().color(QPalette::WindowText),
            program.mainform.palette().color(QPalette::Light));
        QVERIFY(program.server.calls.isEmpty());
    }

    void splashMinimumTime_data()
    {
        QTest::addColumn<qint64>("firstLook");
        QTest::addColumn<qint64>("secondLook");
        QTest::newRow("2 s is not yet enough, 3 s is") << qint64(1002) << qint64(1003);
        QTest::newRow("clock set back 2 s, then 3 s") << qint64(998) << qint64(997);
    }
    void splashMinimumTime()
    {
        QFETCH(qint64, firstLook);
        QFETCH(qint64, secondLook);
        ProgramStart program(settingsPath(), m_clock);
        QSignalSpy finished(&program.startup, &Startup::finished);
        program.startup.run();

        m_clock.set(firstLook);
        program.startup.checkSplashTime();
        QCOMPARE(finished.count(), 0);
        QVERIFY(program.splash.isVisible());

        m_clock.set(secondLook);
        program.startup.checkSplashTime();
        QCOMPARE(finished.count(), 1);
        QVERIFY(!program.splash.isVisible());
        QVERIFY(program.mainform.isVisible());
    }

    void splashTimeIsWatchedByATimer()
    {
        ProgramStart program(settingsPath(), m_clock);
        QSignalSpy finished(&program.startup, &Startup::finished);
        program.startup.run();
        m_clock.advance(3);
        QVERIFY(finished.wait());
        QVERIFY(!program.splash.isVisible());
        QVERIFY(program.mainform.isVisible());
    }

    void storedLanguage_data()
    {
        QTest::addColumn<QString>("lang"); // empty: no value
        QTest::addColumn<bool>("english");
        QTest::newRow("no value") << QString() << false;
        QTest::newRow("100") << "100" << true;
    }
    void storedLanguage()
    {
        QFETCH(QString, lang);
        QFETCH(bool, english);
        if (!lang.isNull())
            store("Lang", qPrintable(lang));
        ProgramStart program(settingsPath(), m_clock);
        program.startup.run();
        QCOMPARE(Common::LangOffset, english ? Common::English : Common::German);
        QCOMPARE(program.checked("MLEnglish"), english);
        QCOMPARE(program.checked("MLGerman"), !english);
        QCOMPARE(program.caption("MLanguage"),
            english ? QStringLiteral("&Language") : QStringLiteral("S&prache"));
    }

    void languageChosenIsTheNextStartsLanguage()
    {
        {
            ProgramStart first(settingsPath(), m_clock);
            first.startup.run();
            QCOMPARE(first.caption("MDatei"), QStringLiteral("&Datei"));
            first.mainform.MLEnglish_Click();
        }
        ProgramStart second(settingsPath(), m_clock);
        second.startup.run();
        QCOMPARE(second.caption("MDatei"), QStringLiteral("&File"));
        QVERIFY(second.checked("MLEnglish"));
    }

    void autoStart_data()
    {
        QTest::addColumn<QString>("autoStart"); // empty: no value
        QTest::addColumn<bool>("starts");
        QTest::newRow("no value") << QString() << false;
        QTest::newRow("0") << "0" << false;
        QTest::newRow("1") << "1" << true;
    }
    void autoStart()
    {
        QFETCH(QString, autoStart);
        QFETCH(bool, starts);
        if (!autoStart.isNull())
            store("AutoStart", qPrintable(autoStart));
        ProgramStart program(settingsPath(), m_clock);
        program.startup.run();
        QCOMPARE(program.checked("MSAutoStart"), starts);
        QCOMPARE(
            program.server.calls, starts ? QStringList { QStringLiteral("start") } : QStringList());
        QCOMPARE(program.caption("Label5"),
            starts ? QStringLiteral("Server läuft ....") : QStringLiteral("Server gestoppt"));
    }

    void autoStartWithoutDevice()
    {
        store("AutoStart", "1");
        store("Lang", "100");
        ProgramStart program(settingsPath(), m_clock);
        program.server.deviceAttached = false;
        QSignalSpy finished(&program.startup, &Startup::finished);
        program.startup.run();

        QMessageBox *box = program.messageBox();
        QVERIFY(box);
        QCOMPARE(box->text(), QStringLiteral("No interface QX-USB found !"));
        QVERIFY(program.splash.isVisible());
        QVERIFY(!program.mainform.isVisible());

        // The user takes long to read it: start-up waits for the message all the same.
        m_clock.advance(10);
        program.startup.checkSplashTime();
        QCOMPARE(finished.count(), 0);
        QVERIFY(program.splash.isVisible());

        box->button(QMessageBox::Ok)->click();
        QCOMPARE(finished.count(), 1);
        QVERIFY(!program.splash.isVisible());
        QVERIFY(program.mainform.isVisible());
        QCOMPARE(program.caption("Label5"), QStringLiteral("Server is not running"));
        QVERIFY(!program.server.running);
        QVERIFY(program.mainform.findChild<QPushButton *>(QStringLiteral("Command1"))->isEnabled());
    }

    void longSearchHidesTheSplashRightAfterTheStart()
    {
        store("AutoStart", "1");
        ProgramStart program(settingsPath(), m_clock);
        program.server.holdSearch = true;
        QSignalSpy finished(&program.startup, &Startup::finished);
        program.startup.run();
        QVERIFY(program.server.searching());
        m_clock.advance(5);
        program.startup.checkSplashTime();
        QCOMPARE(finished.count(), 0); // still searching

        program.server.finishSearch();
        QCOMPARE(finished.count(), 1);
        QVERIFY(!program.splash.isVisible());
        QCOMPARE(program.caption("Label5"), QStringLiteral("Server läuft ...."));
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
