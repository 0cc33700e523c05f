#include "core/settings_store.h"
#include "core/string_table.h"
#include "support/fake_server_control.h"
#include "ui/aboutform.h"
#include "ui/ipform.h"
#include "ui/mainform.h"
#include "ui/startform.h"

#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

// Pictures of every window, for a person to look at: the main window in both
// languages and all three looks, the splash window and both dialogs.
class TestScreenshots : public QObject
{
    Q_OBJECT

private:
    // Saves the picture and checks that the file holds the whole window.
    void save(QWidget &window, const QString &name)
    {
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QString file = m_folder.filePath(name + QStringLiteral(".png"));
        QVERIFY2(window.grab().save(file), qPrintable(file));
        const QImage written(file);
        QCOMPARE(written.size(), window.size() * window.devicePixelRatio());
    }

    QTemporaryDir m_dir;
    QDir m_folder;
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<Mainform> m_form;
    std::unique_ptr<FakeServerControl> m_server;

private Q_SLOTS:
    void initTestCase()
    {
        const QString output = qEnvironmentVariable("QX_TEST_OUTPUT", QDir::currentPath());
        m_folder = QDir(output + QStringLiteral("/screenshots"));
        QVERIFY(m_folder.mkpath(QStringLiteral(".")));
    }
    void init()
    {
        Common::LangOffset = Common::German;
        m_settings
            = std::make_unique<SettingsStore>(m_dir.filePath(QStringLiteral("settings.ini")));
        m_form = std::make_unique<Mainform>(*m_settings);
        m_server = std::make_unique<FakeServerControl>(*m_form);
        m_form->setServerControl(m_server.get());
        m_form->showOwnAddressEntry();
    }
    void cleanup()
    {
        m_form.reset();
        m_server.reset();
        Common::LangOffset = Common::German;
    }

    void mainWindow_data()
    {
        QTest::addColumn<int>("langOffset");
        QTest::addColumn<QString>("look");
        for (const int language : { int(Common::German), int(Common::English) }) {
            const char *name = language == Common::German ? "german" : "english";
            for (const char *look : { "searching", "running", "stopped" })
                QTest::addRow("mainform-%s-%s", name, look)
                    << language << QString::fromLatin1(look);
        }
    }
    void mainWindow()
    {
        QFETCH(int, langOffset);
        QFETCH(QString, look);
        Common::LangOffset = langOffset;
        m_form->setLanguageChecks(langOffset);
        m_form->SetLanguage();
        if (look == QLatin1String("searching")) {
            m_form->showStatus(FakeServerControl::searchingLook());
        } else if (look == QLatin1String("running")) {
            m_form->showStatus(FakeServerControl::runningLook());
            m_form->showButtons(false, true);
            m_form->showCounts(3, 2);
        } else {
            m_form->showStatus(FakeServerControl::stoppedLook());
        }
        save(*m_form, QString::fromLatin1(QTest::currentDataTag()));
        QCOMPARE(m_form->centralWidget()->size(), QSize(286, 107));
    }

    void splashWindow()
    {
        Startform splash;
        save(splash, QStringLiteral("startform"));
        QCOMPARE(splash.size(), QSize(427, 185));
    }

    void dialogs_data()
    {
        QTest::addColumn<int>("langOffset");
        QTest::newRow("german") << int(Common::German);
        QTest::newRow("english") << int(Common::English);
    }
    void dialogs()
    {
        QFETCH(int, langOffset);
        Common::LangOffset = langOffset;
        const QString language = QString::fromLatin1(QTest::currentDataTag());
        AboutForm about;
        about.setBuildStamp(QString::fromLatin1(Mainform::BuildStamp));
        save(about, QStringLiteral("aboutform-") + language);
        IPForm ip(m_server->ownAddress());
        save(ip, QStringLiteral("ipform-") + language);
    }
};

QTEST_MAIN(TestScreenshots)
#include "test_screenshots.moc"
