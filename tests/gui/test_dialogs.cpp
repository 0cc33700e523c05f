#include "core/settings_store.h"
#include "core/string_table.h"
#include "support/fake_server_control.h"
#include "ui/aboutform.h"
#include "ui/ipform.h"
#include "ui/mainform.h"

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {

enum class Dialog
{
    About,
    OwnAddress
};

} // namespace

Q_DECLARE_METATYPE(Dialog)

class TestDialogs : public QObject
{
    Q_OBJECT

private:
    QList<QDialog *> openDialogs(Dialog which) const
    {
        QList<QDialog *> found;
        if (which == Dialog::About) {
            for (AboutForm *form : m_form->findChildren<AboutForm *>())
                found << form;
        } else {
            for (IPForm *form : m_form->findChildren<IPForm *>())
                found << form;
        }
        return found;
    }
    QDialog *open(Dialog which)
    {
        if (which == Dialog::About)
            m_form->MHAbout_Click();
        else
            m_form->MSShowIP_Click();
        const QList<QDialog *> dialogs = openDialogs(which);
        return dialogs.size() == 1 ? dialogs.first() : nullptr;
    }
    static QString text(QDialog *dialog, const char *name)
    {
        if (auto *label = dialog->findChild<QLabel *>(QLatin1String(name)))
            return label->text();
        if (auto *button = dialog->findChild<QPushButton *>(QLatin1String(name)))
            return button->text();
        return QStringLiteral("<no control %1>").arg(QLatin1String(name));
    }
    // The text that tells the language: the close control, and the address line.
    static QStringList languageTexts(QDialog *dialog, Dialog which)
    {
        if (which == Dialog::About)
            return { text(dialog, "Label1") };
        return { text(dialog, "Label1"), text(dialog, "Command1") };
    }
    // The user closes the dialog with its own control.
    static void closeByItsControl(QDialog *dialog, Dialog which)
    {
        if (which == Dialog::About)
            QTest::mouseClick(
                dialog->findChild<QLabel *>(QStringLiteral("Label1")), Qt::LeftButton);
        else
            QTest::mouseClick(
                dialog->findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);
    }

    QTemporaryDir m_dir;
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<Mainform> m_form;
    std::unique_ptr<FakeServerControl> m_server;

private Q_SLOTS:
    void init()
    {
        Common::LangOffset = Common::German;
        m_settings
            = std::make_unique<SettingsStore>(m_dir.filePath(QStringLiteral("settings.ini")));
        m_form = std::make_unique<Mainform>(*m_settings);
        m_server = std::make_unique<FakeServerControl>(*m_form);
        m_form->setServerControl(m_server.get());
        m_form->showOwnAddressEntry();
        m_form->show();
    }
    void cleanup()
    {
        m_form.reset();
        m_server.reset();
        Common::LangOffset = Common::German;
    }

    void aboutDialog_data()
    {
        QTest::addColumn<int>("langOffset");
        QTest::addColumn<QString>("close");
        QTest::newRow("German") << int(Common::German) << "Schliessen";
        QTest::newRow("English") << int(Common::English) << "Close";
    }
    void aboutDialog()
    {
        QFETCH(int, langOffset);
        QFETCH(QString, close);
        Common::LangOffset = langOffset;
        QDialog *about = open(Dialog::About);
        QVERIFY(about);
        QVERIFY(about->isVisible());
        QVERIFY(!about->isModal());
        QVERIFY(about->windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(about->size(), QSize(415, 201));
        QCOMPARE(text(about, "Label1"), close);
        QCOMPARE(text(about, "Label3"), QStringLiteral("041221"));
        QCOMPARE(text(about, "Label2"), QStringLiteral("QX-USB Server"));

        auto *name = about->findChild<QLabel *>(QStringLiteral("Label2"));
        QVERIFY(name->font().bold());
        QCOMPARE(name->font().pointSizeF(), 22.5);
        QVERIFY(name->alignment() & Qt::AlignRight);
        auto *picture = about->findChild<QLabel *>(QStringLiteral("Picture1"));
        QCOMPARE(picture->pixmap().size(), QSize(195, 75));

        // The close label stands on the tooltip background.
        auto *closeLabel = about->findChild<QLabel *>(QStringLiteral("Label1"));
        const QImage seen = closeLabel->grab().toImage();
        QCOMPARE(seen.pixelColor(1, 1), about->palette().color(QPalette::ToolTipBase));
    }

    void ownAddressDialog_data()
    {
        QTest::addColumn<int>("langOffset");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("close");
        QTest::newRow("German") << int(Common::German) << "192.0.2.10"
                                << "Eigene IP-Adresse : 192.0.2.10"
                                << "Schliessen";
        QTest::newRow("English") << int(Common::English) << "192.0.2.10"
                                 << "Own IP-Address : 192.0.2.10"
                                 << "Close";
    }
    void ownAddressDialog()
    {
        QFETCH(int, langOffset);
        QFETCH(QString, address);
        QFETCH(QString, line);
        QFETCH(QString, close);
        Common::LangOffset = langOffset;
        m_server->address = QHostAddress(address);
        QDialog *ip = open(Dialog::OwnAddress);
        QVERIFY(ip);
        QVERIFY(ip->isVisible());
        QVERIFY(!ip->isModal());
        QVERIFY(ip->windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(ip->size(), QSize(312, 98));
        QCOMPARE(text(ip, "Label1"), line);
        QCOMPARE(text(ip, "Command1"), close);
    }

    void ownAddressEntryOfTheMenuOpensIt()
    {
        m_form->findChild<QAction *>(QStringLiteral("MSShowIP"))->trigger();
        QCOMPARE(openDialogs(Dialog::OwnAddress).size(), 1);
        m_form->findChild<QAction *>(QStringLiteral("MHAbout"))->trigger();
        QCOMPARE(openDialogs(Dialog::About).size(), 1);
    }

    void atMostOneOfEach_data()
    {
        QTest::addColumn<Dialog>("which");
        QTest::newRow("About") << Dialog::About;
        QTest::newRow("own address") << Dialog::OwnAddress;
    }
    void atMostOneOfEach()
    {
        QFETCH(Dialog, which);
        QDialog *first = open(which);
        QVERIFY(first);
        // Meanwhile the label changed (About) or the machine's address did (own address).
        if (which == Dialog::About)
            first->findChild<QLabel *>(QStringLiteral("Label3"))->setText(QStringLiteral("x"));
        m_server->address = QHostAddress(QStringLiteral("198.51.100.7"));

        QCOMPARE(open(which), first);
        if (which == Dialog::About)
            QCOMPARE(text(first, "Label3"), QStringLiteral("041221"));
        else
            QCOMPARE(text(first, "Label1"), QStringLiteral("Eigene IP-Adresse : 192.0.2.10"));
    }

    void reopeningTakesTheNewLanguage_data()
    {
        QTest::addColumn<Dialog>("which");
        QTest::addColumn<QStringList>("german");
        QTest::addColumn<QStringList>("english");
        QTest::newRow("About") << Dialog::About << QStringList { "Schliessen" }
                               << QStringList { "Close" };
        QTest::newRow("own address")
            << Dialog::OwnAddress << QStringList { "Eigene IP-Adresse : 192.0.2.10", "Schliessen" }
            << QStringList { "Own IP-Address : 192.0.2.10", "Close" };
    }
    void reopeningTakesTheNewLanguage()
    {
        QFETCH(Dialog, which);
        QFETCH(QStringList, german);
        QFETCH(QStringList, english);
        QPointer<QDialog> dialog = open(which);
        QVERIFY(dialog);
        QCOMPARE(languageTexts(dialog, which), german);

        m_form->MLEnglish_Click();
        QCOMPARE(languageTexts(dialog, which), german); // an open dialog keeps its texts

        closeByItsControl(dialog, which);
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(openDialogs(which).size(), 0);

        dialog = open(which);
        QVERIFY(dialog);
        QCOMPARE(languageTexts(dialog, which), english);
    }
};

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"
