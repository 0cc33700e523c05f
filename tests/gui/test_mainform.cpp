#include "core/settings_store.h"
#include "core/string_table.h"
#include "support/fake_server_control.h"
#include "ui/mainform.h"
#include "ui/status_colors.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {

enum class Look
{
    Searching,
    Running,
    Stopped
};

StatusLook LookOf(Look look)
{
    switch (look) {
    case Look::Searching:
        return FakeServerControl::searchingLook();
    case Look::Running:
        return FakeServerControl::runningLook();
    case Look::Stopped:
        break;
    }
    return FakeServerControl::stoppedLook();
}

struct Caption
{
    const char *control;
    const char *german;
    const char *english;
};

// Every caption of the window that follows the language.
const Caption Captions[] = {
    { "MDatei", "&Datei", "&File" },
    { "MDEnde", "&Ende", "&End" },
    { "MServer", "&Server", "&Server" },
    { "MSStartServer", "Server &starten", "&Start server" },
    { "MSStopServer", "Server &anhalten", "S&top server" },
    { "MSAutoStart", "Server a&utomatisch starten", "Server &autostart" },
    { "MSShowIP", "&Eigene IP-Adresse anzeigen", "Show own &IP-address" },
    { "MLanguage", "S&prache", "&Language" },
    { "MLGerman", "&Deutsch", "&German" },
    { "MLEnglish", "&Englisch", "&English" },
    { "MHelp", "&?", "&?" },
    { "MHAbout", "Ü&ber", "&About" },
    { "Label1", "Benutzte Befehls-Ports :", "Command ports in use :" },
    { "Label2", "Benutzte Broadcast-Ports :", "Broadcast ports in use :" },
    { "Command1", "Server starten", "Start server" },
    { "Command2", "Server stopp", "Stop server" },
};

} // namespace

Q_DECLARE_METATYPE(Look)

class TestMainform : public QObject
{
    Q_OBJECT

private:
    QString caption(const QString &name) const
    {
        if (auto *menu = m_form->findChild<QMenu *>(name))
            return menu->title();
        if (auto *action = m_form->findChild<QAction *>(name))
            return action->text();
        if (auto *button = m_form->findChild<QAbstractButton *>(name))
            return button->text();
        if (auto *label = m_form->findChild<QLabel *>(name))
            return label->text();
        return QStringLiteral("<no control %1>").arg(name);
    }
    QAction *action(const char *name) const
    {
        return m_form->findChild<QAction *>(QLatin1String(name));
    }
    QLabel *label(const char *name) const
    {
        return m_form->findChild<QLabel *>(QLatin1String(name));
    }
    QPushButton *button(const char *name) const
    {
        return m_form->findChild<QPushButton *>(QLatin1String(name));
    }
    QString stored(const char *valueName) const
    {
        return m_settings
            ->ReadKeyValue(QString::fromLatin1(SettingsKey), QString::fromLatin1(valueName),
                QStringLiteral("<none>"))
            .toText();
    }
    QMessageBox *messageBox() const { return m_form->findChild<QMessageBox *>(); }
    // The colour a person sees inside the status label, away from its text.
    QColor statusBackgroundSeen() const
    {
        const QImage image = label("Label5")->grab().toImage();
        return image.pixelColor(4, image.height() / 2);
    }
    // Text is drawn with smooth edges: some pixel of the text comes close to its colour.
    bool statusShowsTextIn(const QColor &colour) const
    {
        constexpr int Tolerance = 40; // per channel, far below the distance to any background
        QLabel *status = label("Label5");
        const QImage image = status->grab().toImage();
        const QRect inner = status->contentsRect().adjusted(2, 2, -2, -2);
        for (int y = inner.top(); y <= inner.bottom(); ++y) {
            for (int x = inner.left(); x <= inner.right(); ++x) {
                const QColor seen = image.pixelColor(x, y);
                if (qAbs(seen.red() - colour.red()) <= Tolerance
                    && qAbs(seen.green() - colour.green()) <= Tolerance
                    && qAbs(seen.blue() - colour.blue()) <= Tolerance)
                    return true;
            }
        }
        return false;
    }
    QColor light() const { return m_form->palette().color(QPalette::Light); }

    QTemporaryDir m_dir;
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<Mainform> m_form;
    std::unique_ptr<FakeServerControl> m_server;

private Q_SLOTS:
    void init()
    {
        Common::LangOffset = Common::German;
        QFile::remove(m_dir.filePath(QStringLiteral("settings.ini")));
        m_settings
            = std::make_unique<SettingsStore>(m_dir.filePath(QStringLiteral("settings.ini")));
        m_form = std::make_unique<Mainform>(*m_settings);
        m_server = std::make_unique<FakeServerControl>(*m_form);
        m_form->setServerControl(m_server.get());
    }
    void cleanup()
    {
        m_form.reset();
        m_server.reset();
        Common::LangOffset = Common::German;
    }

    void windowAsDefined()
    {
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        QCOMPARE(m_form->windowTitle(), QStringLiteral("Tervan QX-USB Server"));
        QCOMPARE(m_form->centralWidget()->size(), QSize(286, 107));
        QCOMPARE(m_form->minimumSize(), m_form->maximumSize());
        QVERIFY(!m_form->windowIcon().isNull());
        QCOMPARE(label("Label5")->text(), QStringLiteral("Server gestoppt"));
        QCOMPARE(label("Label3")->text(), QStringLiteral("0"));
        QCOMPARE(label("Label4")->text(), QStringLiteral("0"));
        QVERIFY(button("Command1")->isEnabled());
        QVERIFY(!button("Command2")->isEnabled());
        QVERIFY(!action("MSSep002")->isVisible());
        QVERIFY(!action("MSShowIP")->isVisible());
        QVERIFY(action("MSSep001")->isSeparator());

        m_form->showOwnAddressEntry();
        QVERIFY(action("MSSep002")->isVisible());
        QVERIFY(action("MSShowIP")->isVisible());
    }

    void captions_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("langOffset");
        QTest::addColumn<QString>("expected");
        for (const Caption &row : Captions) {
            QTest::addRow("%s in German", row.control)
                << row.control << int(Common::German) << QString::fromUtf8(row.german);
            QTest::addRow("%s in English", row.control)
                << row.control << int(Common::English) << QString::fromUtf8(row.english);
        }
    }
    void captions()
    {
        QFETCH(QString, control);
        QFETCH(int, langOffset);
        QFETCH(QString, expected);
        // Start from the other language, so that every caption has to change.
        Common::LangOffset = langOffset == Common::German ? Common::English : Common::German;
        m_form->SetLanguage();
        Common::LangOffset = langOffset;
        m_form->SetLanguage();
        QCOMPARE(caption(control), expected);
        QCOMPARE(m_form->windowTitle(), QStringLiteral("Tervan QX-USB Server"));
    }

    void missingTextsLeaveCaptions()
    {
        Common::LangOffset = Common::English;
        m_form->SetLanguage();
        Common::LangOffset = 50; // no entry of the table lies there
        m_form->SetLanguage();
        for (const Caption &row : Captions)
            QCOMPARE(caption(QString::fromLatin1(row.control)), QString::fromUtf8(row.english));
        QCOMPARE(label("Label5")->text(), QStringLiteral("Server is not running"));
    }

    void statusCaptionAfterLanguageSwitch_data()
    {
        QTest::addColumn<int>("langOffset");
        QTest::addColumn<bool>("running");
        QTest::addColumn<QString>("expected");
        QTest::newRow("running, German") << int(Common::German) << true << "Server läuft ....";
        QTest::newRow("running, English")
            << int(Common::English) << true << "Server is running ....";
        QTest::newRow("stopped, German") << int(Common::German) << false << "Server gestoppt";
        QTest::newRow("stopped, English")
            << int(Common::English) << false << "Server is not running";
    }
    void statusCaptionAfterLanguageSwitch()
    {
        QFETCH(int, langOffset);
        QFETCH(bool, running);
        QFETCH(QString, expected);
        m_form->show();
        // The label shows a search; the caption is replaced, its colours stay.
        m_form->showStatus(FakeServerControl::searchingLook());
        m_server->running = running;
        Common::LangOffset = langOffset;
        m_form->SetLanguage();
        QCOMPARE(label("Label5")->text(), expected);
        QCOMPARE(statusBackgroundSeen(), QColor(Qt::yellow));
    }

    void statusColor_data()
    {
        QTest::addColumn<quint32>("value");
        QTest::addColumn<QColor>("expected");
        QTest::newRow("yellow") << quint32(0x00FFFF) << QColor(255, 255, 0);
        QTest::newRow("green") << quint32(0x00C000) << QColor(0, 192, 0);
        QTest::newRow("red") << quint32(0x0000FF) << QColor(255, 0, 0);
        QTest::newRow("blue byte is the highest") << quint32(0x123456) << QColor(0x56, 0x34, 0x12);
        QTest::newRow("button highlight from the palette")
            << quint32(0x80000014) << QColor(1, 2, 3);
        QTest::newRow("tooltip background from the palette")
            << quint32(0x80000018) << QColor(4, 5, 6);
    }
    void statusColor()
    {
        QFETCH(quint32, value);
        QFETCH(QColor, expected);
        QPalette palette;
        palette.setColor(QPalette::Light, QColor(1, 2, 3));
        palette.setColor(QPalette::ToolTipBase, QColor(4, 5, 6));
        QCOMPARE(StatusColor(value, palette), expected);
    }

    void statusLooks_data()
    {
        QTest::addColumn<Look>("look");
        QTest::addColumn<int>("langOffset");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QColor>("background");
        QTest::addColumn<bool>("whiteText");
        const QColor yellow(255, 255, 0), green(0, 192, 0), red(255, 0, 0);
        QTest::newRow("searching, German")
            << Look::Searching << int(Common::German) << "Suche Interface ..." << yellow << false;
        QTest::newRow("searching, English") << Look::Searching << int(Common::English)
                                            << "Searching interface ..." << yellow << false;
        QTest::newRow("running, German")
            << Look::Running << int(Common::German) << "Server läuft ...." << green << true;
        QTest::newRow("running, English")
            << Look::Running << int(Common::English) << "Server is running ...." << green << true;
        QTest::newRow("stopped, German")
            << Look::Stopped << int(Common::German) << "Server gestoppt" << red << true;
        QTest::newRow("stopped, English")
            << Look::Stopped << int(Common::English) << "Server is not running" << red << true;
    }
    void statusLooks()
    {
        QFETCH(Look, look);
        QFETCH(int, langOffset);
        QFETCH(QString, expected);
        QFETCH(QColor, background);
        QFETCH(bool, whiteText);
        m_form->show();
        Common::LangOffset = langOffset;
        m_form->showStatus(LookOf(look));
        const QColor text = whiteText ? light() : QColor(Qt::black);
        QLabel *status = label("Label5");
        QCOMPARE(status->text(), expected);
        QCOMPARE(status->palette().color(QPalette::WindowText), text);
        QCOMPARE(statusBackgroundSeen(), background);
        QVERIFY(statusShowsTextIn(text));
        QVERIFY(status->alignment() & Qt::AlignHCenter);

        m_form->showStatusCaption(QStringLiteral("Searching interface ... 30"));
        QCOMPARE(status->text(), QStringLiteral("Searching interface ... 30"));
        QCOMPARE(statusBackgroundSeen(), background);
    }

    void textsFitTheirPlaces_data()
    {
        QTest::addColumn<int>("langOffset");
        QTest::addColumn<Look>("look");
        for (const int language : { int(Common::German), int(Common::English) }) {
            const char *name = language == Common::German ? "German" : "English";
            QTest::addRow("%s, searching", name) << language << Look::Searching;
            QTest::addRow("%s, running", name) << language << Look::Running;
            QTest::addRow("%s, stopped", name) << language << Look::Stopped;
        }
    }
    void textsFitTheirPlaces()
    {
        QFETCH(int, langOffset);
        QFETCH(Look, look);
        Common::LangOffset = langOffset;
        m_form->SetLanguage();
        m_form->showStatus(LookOf(look));
        for (const char *name : { "Label1", "Label2", "Label3", "Label4", "Label5" }) {
            QLabel *text = label(name);
            QVERIFY2(QFontMetrics(text->font()).horizontalAdvance(text->text())
                    <= text->contentsRect().width(),
                name);
        }
        // The buttons break their text at the blank; each word must fit.
        for (const char *name : { "Command1", "Command2" }) {
            QPushButton *picture = button(name);
            for (const QString &word : picture->text().split(QLatin1Char(' ')))
                QVERIFY2(picture->fontMetrics().horizontalAdvance(word) < picture->width() - 4,
                    qPrintable(word));
        }
    }

    void languageChoice_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<QString>("item");
        QTest::addColumn<bool>("byMenu");
        QTest::addColumn<QString>("storedLang");
        QTest::addColumn<QString>("fileMenu");
        QTest::newRow("English by its handler") << 0 << "MLEnglish" << false << "100"
                                                << "&File";
        QTest::newRow("German by its handler") << 100 << "MLGerman" << false << "0"
                                               << "&Datei";
        QTest::newRow("English from the menu") << 0 << "MLEnglish" << true << "100"
                                               << "&File";
        QTest::newRow("German from the menu") << 100 << "MLGerman" << true << "0"
                                              << "&Datei";
        QTest::newRow("ticked English chosen again") << 100 << "MLEnglish" << true << "100"
                                                     << "&File";
        QTest::newRow("ticked German chosen again") << 0 << "MLGerman" << true << "0"
                                                    << "&Datei";
    }
    void languageChoice()
    {
        QFETCH(int, before);
        QFETCH(QString, item);
        QFETCH(bool, byMenu);
        QFETCH(QString, storedLang);
        QFETCH(QString, fileMenu);
        Common::LangOffset = before;
        m_form->setLanguageChecks(before);
        m_form->SetLanguage();
        if (byMenu)
            m_form->findChild<QAction *>(item)->trigger();
        else if (item == QLatin1String("MLGerman"))
            m_form->MLGerman_Click();
        else
            m_form->MLEnglish_Click();
        const bool english = storedLang == QLatin1String("100");
        QCOMPARE(stored("Lang"), storedLang);
        QCOMPARE(Common::LangOffset, english ? Common::English : Common::German);
        QCOMPARE(action("MLGerman")->isChecked(), !english);
        QCOMPARE(action("MLEnglish")->isChecked(), english);
        QCOMPARE(caption(QStringLiteral("MDatei")), fileMenu);
    }

    void autoStartSwitch_data()
    {
        QTest::addColumn<bool>("before");
        QTest::addColumn<bool>("byMenu");
        QTest::addColumn<int>("clicks");
        QTest::addColumn<bool>("after");
        QTest::newRow("handler switches on") << false << false << 1 << true;
        QTest::newRow("handler switches off") << true << false << 1 << false;
        QTest::newRow("handler twice leaves it on") << true << false << 2 << true;
        QTest::newRow("handler twice leaves it off") << false << false << 2 << false;
        QTest::newRow("menu switches on") << false << true << 1 << true;
        QTest::newRow("menu switches off") << true << true << 1 << false;
        QTest::newRow("menu twice leaves it off") << false << true << 2 << false;
    }
    void autoStartSwitch()
    {
        QFETCH(bool, before);
        QFETCH(bool, byMenu);
        QFETCH(int, clicks);
        QFETCH(bool, after);
        m_form->setAutoStartChecked(before);
        for (int i = 0; i < clicks; ++i) {
            if (byMenu)
                action("MSAutoStart")->trigger();
            else
                m_form->MSAutoStart_Click();
        }
        QCOMPARE(action("MSAutoStart")->isChecked(), after);
        QCOMPARE(stored("AutoStart"), after ? QStringLiteral("1") : QStringLiteral("0"));
        QVERIFY2(m_server->calls.isEmpty(), "the switch neither starts nor stops the server");
    }

    void startAndStop_data()
    {
        QTest::addColumn<bool>("running");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("call");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("startEnabled");
        QTest::newRow("start button") << false << "Command1"
                                      << "start"
                                      << "Server läuft ...." << false;
        QTest::newRow("stop button") << true << "Command2"
                                     << "stop"
                                     << "Server gestoppt" << true;
        QTest::newRow("start menu item") << false << "MSStartServer"
                                         << "start"
                                         << "Server läuft ...." << false;
        QTest::newRow("stop menu item") << true << "MSStopServer"
                                        << "stop"
                                        << "Server gestoppt" << true;
        QTest::newRow("start menu item while running") << true << "MSStartServer"
                                                       << "start"
                                                       << "Server läuft ...." << false;
    }
    void startAndStop()
    {
        QFETCH(bool, running);
        QFETCH(QString, control);
        QFETCH(QString, call);
        QFETCH(QString, status);
        QFETCH(bool, startEnabled);
        m_form->show();
        if (running)
            m_server->MSStartServer_Click();
        m_server->calls.clear();
        if (auto *pressed = m_form->findChild<QPushButton *>(control))
            QTest::mouseClick(pressed, Qt::LeftButton);
        else
            m_form->findChild<QAction *>(control)->trigger();
        QCOMPARE(m_server->calls, QStringList { call });
        QCOMPARE(label("Label5")->text(), status);
        QCOMPARE(button("Command1")->isEnabled(), startEnabled);
        QCOMPARE(button("Command2")->isEnabled(), !startEnabled);
    }

    void counters()
    {
        const QList<std::pair<int, int>> sequence
            = { { 1, 0 }, { 3, 2 }, { 3, 5 }, { 100, 100 }, { 0, 0 } };
        for (const auto &[commands, broadcasts] : sequence) {
            m_form->showCounts(commands, broadcasts);
            QCOMPARE(label("Label3")->text(), QString::number(commands));
            QCOMPARE(label("Label4")->text(), QString::number(broadcasts));
        }
    }

    void messageDoesNotBlock()
    {
        int closedCalls = 0;
        m_form->show();
        m_form->showMessage(QStringLiteral("QX-Server"),
            QStringLiteral("No interface QX-USB found !"), [&closedCalls] { ++closedCalls; });
        // Back here while the message is still open: the event loop runs on.
        QMessageBox *box = messageBox();
        QVERIFY(box);
        QVERIFY(box->isVisible());
        QCOMPARE(closedCalls, 0);
        QCOMPARE(box->windowTitle(), QStringLiteral("QX-Server"));
        QCOMPARE(box->text(), QStringLiteral("No interface QX-USB found !"));
        QCOMPARE(box->icon(), QMessageBox::NoIcon);
        QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(box->windowModality() != Qt::NonModal);

        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        QCOMPARE(closedCalls, 1);
        QTRY_VERIFY(!messageBox());
    }

    void startWithoutDevice()
    {
        Common::LangOffset = Common::English;
        m_form->SetLanguage();
        m_form->show();
        m_server->deviceAttached = false;
        QTest::mouseClick(button("Command1"), Qt::LeftButton);
        QMessageBox *box = messageBox();
        QVERIFY(box);
        QCOMPARE(box->text(), QStringLiteral("No interface QX-USB found !"));
        QCOMPARE(label("Label5")->text(), QStringLiteral("Searching interface ..."));
        box->button(QMessageBox::Ok)->click();
        QCOMPARE(label("Label5")->text(), QStringLiteral("Server is not running"));
        QCOMPARE(statusBackgroundSeen(), QColor(Qt::red));
        QVERIFY(button("Command1")->isEnabled());
        QVERIFY(!button("Command2")->isEnabled());
    }

    void endingTheProgram_data()
    {
        QTest::addColumn<bool>("byClosing");
        QTest::newRow("File > End") << false;
        QTest::newRow("window closed") << true;
    }
    void endingTheProgram()
    {
        QFETCH(bool, byClosing);
        m_form->show();
        QSignalSpy ending(m_form.get(), &Mainform::endingProgram);
        if (byClosing)
            QVERIFY(m_form->close());
        else
            action("MDEnde")->trigger();
        QCOMPARE(ending.count(), 1);
        QVERIFY(m_server->calls.isEmpty());
    }
};

QTEST_MAIN(TestMainform)
#include "test_mainform.moc"
