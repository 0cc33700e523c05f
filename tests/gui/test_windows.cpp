// The desktop windows offscreen, on a fake server: texts in both languages, looks,
// dialogs, the log window, the start-up, and a picture of each window.
#include "app/logging_setup.h"
#include "core/clock.h"
#include "core/log_book.h"
#include "core/logging.h"
#include "core/settings_store.h"
#include "core/stored_settings.h"
#include "core/string_table.h"
#include "support/fake_server_control.h"
#include "ui/log_lines.h"
#include "ui/mainform.h"
#include "ui/startform.h"
#include "ui/startup.h"

#include <QtTest>
#include <QtWidgets>

namespace {

// The text a control shows: a menu's title, a caption, a window's title.
QString TextOf(const QObject *control)
{
    for (const char *property : { "title", "text", "windowTitle" }) {
        if (control && control->property(property).isValid())
            return control->property(property).toString();
    }
    return QStringLiteral("<no such control>");
}

// A client and the device as the server logs them, through the program's
// message handler; the lines the log window shows for it, without their time.
QStringList LogAClientAndTheDevice(bool framesShown)
{
    const QString found = "device found on port 1 (/dev/pts/3)", frame = ">> FF FE 02 21 81 A0",
                  accepted = "command slot 1: 192.0.2.20 accepted",
                  closed = "command slot 1: 192.0.2.20 closed (closed by the client)",
                  lost = "device lost on port 1 (/dev/pts/3): Input/output error";
    qCInfo(lcLink).noquote() << found;
    qCInfo(lcConnections).noquote() << accepted;
    qCDebug(lcFrames).noquote() << frame;
    qCInfo(lcConnections).noquote() << closed;
    qCWarning(lcLink).noquote() << lost;
    return QStringList { found, accepted } + (framesShown ? QStringList { frame } : QStringList())
        + QStringList { closed, "warning: " + lost };
}

// The main window in German on a fake server, with a settings file of its own,
// logging through the program's message handler into the program's log book.
struct Desktop
{
    Desktop()
    {
        SetUpLogging(false, &DesktopLogBook());
        window.setServerControl(&server);
        window.setFramesSwitch(LogFrames);
        setLanguage(Common::German);
    }
    void setLanguage(int langOffset) { Common::LangOffset = langOffset, window.SetLanguage(); }
    template <class Control = QObject> Control *find(const char *name) const
    {
        return window.findChild<Control *>(QLatin1String(name));
    }
    QString text(const char *name) const { return TextOf(find(name)); }
    void click(const char *name) const
    {
        auto *button = find<QAbstractButton>(name);
        button ? button->click() : find<QAction>(name)->trigger();
    }
    // Opens the log window from the menu, its book emptied of what the opening logged.
    QDialog *openLog()
    {
        click("MSShowLog");
        DesktopLogBook().clear();
        return find<QDialog>("LogForm");
    }

    QTemporaryDir dir;
    SettingsStore settings { dir.filePath(QStringLiteral("settings.ini")) };
    Mainform window { settings, DesktopLogBook() };
    FakeServerControl server { window };
};

QStringList RowsOf(const QListView *view)
{
    return static_cast<const LogLines *>(view->model())->rows();
}

// Saves a picture of the windows as a person sees them together, into the build tree: under an
// X server, the screen around them, framed by a window manager if there is one (it may take a
// moment); offscreen, the windows' own pictures in their places.
void Save(const QList<QWidget *> &windows, const QString &name)
{
    const bool xcb = QGuiApplication::platformName() == "xcb";
    QRect area;
    for (QWidget *window : windows) {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        if (xcb && !(window->windowFlags() & Qt::FramelessWindowHint))
            (void)QTest::qWaitFor(
                [window] { return window->frameGeometry() != window->geometry(); }, 1000);
        window->repaint();
        area |= window->frameGeometry();
    }
    QScreen *screen = windows.first()->screen();
    area = area.marginsAdded(QMargins(12, 12, 12, 12)) & screen->geometry();
    QPixmap picture;
    if (xcb)
        picture = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    if (picture.isNull()) {
        picture = QPixmap(area.size());
        picture.fill(Qt::darkGray);
        QPainter painter(&picture);
        for (QWidget *window : windows)
            painter.drawPixmap(window->geometry().topLeft() - area.topLeft(), window->grab());
    }
    const QDir folder(qEnvironmentVariable("QX_TEST_OUTPUT", QDir::currentPath()) + "/screenshots");
    QVERIFY(folder.mkpath(".") && picture.save(folder.filePath(name + ".png")));
}

// Every text of every window that follows the language; a dialog's controls
// after the menu item that opens it (none: the dialog's title).
const struct
{
    const char *control, *german, *english;
} Texts[] = {
    { "MDatei", "&Datei", "&File" },
    { "MDEnde", "&Ende", "&End" },
    { "MServer", "&Server", "&Server" },
    { "MSStartServer", "Server &starten", "&Start server" },
    { "MSStopServer", "Server &anhalten", "S&top server" },
    { "MSAutoStart", "Server a&utomatisch starten", "Server &autostart" },
    { "MLanguage", "S&prache", "&Language" },
    { "MLGerman", "&Deutsch", "&German" },
    { "MLEnglish", "&Englisch", "&English" },
    { "MHelp", "&?", "&?" },
    { "Label1", "Benutzte Befehls-Ports :", "Command ports in use :" },
    { "Label2", "Benutzte Broadcast-Ports :", "Broadcast ports in use :" },
    { "Command1", "Server starten", "Start server" },
    { "Command2", "Server stopp", "Stop server" },
    { "MHAbout", "Ü&ber", "&About" },
    { "MHAbout:Label1", "Schliessen", "Close" },
    { "MHAbout:Label2", "QX-USB Server", "QX-USB Server" },
    { "MHAbout:Label3", "041221", "041221" },
    { "MSShowIP", "&Eigene IP-Adresse anzeigen", "Show own &IP-address" },
    { "MSShowIP:Label1", "Eigene IP-Adresse : 192.0.2.10", "Own IP-Address : 192.0.2.10" },
    { "MSShowIP:Command1", "Schliessen", "Close" },
    { "MSShowLog", "&Protokoll anzeigen", "Show &log" },
    { "MSShowLog:", "Protokoll", "Log" },
    { "MSShowLog:Frames", "Frames", "Frames" },
    { "MSShowLog:Copy", "Kopieren", "Copy" },
    { "MSShowLog:Clear", "Leeren", "Clear" },
    { "MSShowLog:Close", "Schliessen", "Close" },
};

// The status label's looks as the controls reach them ("-" holds the searches after it open);
// after a switch to English the caption says whether the server runs, in the same colours.
constexpr QRgb Yellow = 0xFFFF00, Green = 0x00C000, Red = 0xFF0000;
const struct
{
    const char *clicks, *german, *english;
    QRgb background;
    bool blackText, startEnabled, running;
} Looks[] = {
    { "- Command1", "Suche Interface ...", "Searching interface ...", Yellow, true, true, false },
    { "Command1", "Server läuft ....", "Server is running ....", Green, false, false, true },
    { "MSStartServer MSStopServer Command1 Command2", "Server gestoppt", "Server is not running",
        Red, false, true, false },
    // The start button is off while the server runs; the menu's start searches all the same.
    { "Command1 - MSStartServer", "Suche Interface ...", "Server is running ....", Yellow, true,
        false, true },
};

} // namespace

class TestWindows : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void texts_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("language");
        for (int row = 0; row < int(std::size(Texts)); ++row) {
            QTest::addRow("%s, German", Texts[row].control) << row << int(Common::German);
            QTest::addRow("%s, English", Texts[row].control) << row << int(Common::English);
        }
    }
    void texts()
    {
        QFETCH(int, row);
        QFETCH(int, language);
        const QStringList path = QString::fromLatin1(Texts[row].control).split(':');
        const QString expected
            = QString::fromUtf8(language ? Texts[row].english : Texts[row].german);
        const bool dialog = path.size() == 2, log = path.first() == "MSShowLog";
        const char *item = language ? "MLEnglish" : "MLGerman",
                   *other = language ? "MLGerman" : "MLEnglish";
        Desktop desktop;
        desktop.window.showOwnAddressEntry();
        // The log window follows the main window's language, the others take it as they open.
        desktop.click(other);
        if (dialog && log)
            desktop.click("MSShowLog");
        desktop.click(item);
        desktop.click(item); // chosen again, it stays
        QCOMPARE(StoredLanguageOffset(desktop.settings), language);
        QVERIFY(
            desktop.find<QAction>(item)->isChecked() && !desktop.find<QAction>(other)->isChecked());
        // A dialog is there once: chosen again, it comes to the front as it was.
        if (dialog)
            desktop.click(qPrintable(path.first())); // the log window's second time
        desktop.server.address = QHostAddress(QStringLiteral("198.51.100.7"));
        if (dialog && !log)
            desktop.click(qPrintable(path.first()));
        QCOMPARE(desktop.window.findChildren<QDialog *>().size(), int(dialog));
        QWidget *form = dialog ? desktop.window.findChild<QDialog *>()
                               : static_cast<QWidget *>(&desktop.window);
        QVERIFY(form->isVisible() == dialog && !form->isModal());
        QCOMPARE(bool(form->windowFlags() & Qt::FramelessWindowHint), dialog && !log);
        QObject *shown = path.last().isEmpty() ? form : form->findChild<QObject *>(path.last());
        QCOMPARE(TextOf(shown), expected);
        QCOMPARE(desktop.window.windowTitle(), "Tervan QX-USB Server");
        if (auto *label = qobject_cast<const QLabel *>(shown); label && !dialog)
            QVERIFY(
                label->fontMetrics().horizontalAdvance(expected) <= label->contentsRect().width());
        // A language the table lacks keeps the texts; About and own address keep theirs.
        desktop.setLanguage(dialog && !log ? Common::English - language : 50);
        QCOMPARE(TextOf(shown), expected);
        if (dialog && Texts[row].english == QLatin1String("Close")) { // it closes the dialog
            QTest::mouseClick(qobject_cast<QWidget *>(shown), Qt::LeftButton);
            QTRY_VERIFY(!desktop.window.findChild<QDialog *>());
        }
    }

    void looks_data()
    {
        QTest::addColumn<int>("row");
        for (int row = 0; row < int(std::size(Looks)); ++row)
            QTest::newRow(Looks[row].clicks) << row;
    }
    void looks()
    {
        QFETCH(int, row);
        const auto &look = Looks[row];
        Desktop desktop;
        desktop.window.show();
        const QStringList clicks = QString::fromLatin1(look.clicks).split(' ');
        for (const QString &click : clicks) {
            if (click == "-")
                desktop.server.holdSearch = true;
            else
                desktop.click(qPrintable(click));
        }
        QCOMPARE(desktop.server.calls.size(), clicks.size() - int(desktop.server.holdSearch));
        auto *status = desktop.find<QLabel>("Label5");
        QCOMPARE(status->text(), QString::fromUtf8(look.german));
        QCOMPARE(status->parentWidget()->grab(status->geometry()).toImage().pixelColor(4, 10),
            QColor(look.background));
        QCOMPARE(status->palette().color(QPalette::WindowText),
            look.blackText ? QColor(Qt::black) : desktop.window.palette().color(QPalette::Light));
        QCOMPARE(desktop.find<QPushButton>("Command1")->isEnabled(), look.startEnabled);
        QCOMPARE(desktop.find<QPushButton>("Command2")->isEnabled(), !look.startEnabled);

        desktop.click("MLEnglish");
        QCOMPARE(status->text(), QString::fromUtf8(Looks[look.running ? 1 : 2].english));
        QCOMPARE(status->palette().color(QPalette::Window), QColor(look.background));
    }

    void mainWindow()
    {
        Desktop desktop;
        Mainform &window = desktop.window;
        window.show();
        QVERIFY(window.minimumSize() == window.maximumSize() && !window.windowIcon().isNull());
        // A window of fixed size offers to minimize and to close it, not to maximize it.
        const auto buttons = Qt::CustomizeWindowHint | Qt::WindowMinimizeButtonHint
            | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint;
        QCOMPARE(window.windowFlags() & buttons,
            Qt::CustomizeWindowHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
        QStringList serverMenu;
        for (const QAction *action : desktop.find<QMenu>("MServer")->actions())
            serverMenu << (action->isVisible() ? "" : "-") + action->objectName(); // -: hidden
        QCOMPARE(serverMenu.join(' '),
            "MSStartServer MSStopServer MSSep001 MSAutoStart -MSSep002 -MSShowIP MSSep003 "
            "MSShowLog");
        window.showCounts(3, 2);
        QCOMPARE(desktop.text("Label3") + desktop.text("Label4"), "32");
        // Autostart takes effect at the next start: the switch only stores it.
        auto *autoStart = desktop.find<QAction>("MSAutoStart");
        desktop.click("MSAutoStart");
        QVERIFY(autoStart->isChecked() && StoredAutoStart(desktop.settings));
        window.MSAutoStart_Click();
        QVERIFY(!autoStart->isChecked() && !StoredAutoStart(desktop.settings));

        // File > End and closing the window end the program, and nothing else.
        QTimer guard; // ends a program that did not end
        guard.callOnTimeout([] { QCoreApplication::exit(1); });
        for (const bool byClosing : { false, true }) {
            guard.start(5000);
            QTimer::singleShot(
                0, &window, [&] { byClosing ? void(window.close()) : desktop.click("MDEnde"); });
            QCOMPARE(QCoreApplication::exec(), 0);
        }
        QVERIFY(desktop.server.calls.isEmpty());
    }

    void startup_data()
    {
        QTest::addColumn<int>("language"); // stored
        QTest::addColumn<bool>("autoStart"); // stored
        QTest::addColumn<QString>("device"); // found, missing or slow to find
        QTest::addColumn<int>("clockGoes"); // 1 on, -1 back
        QTest::addColumn<QString>("status");
        QTest::newRow("clock set back") << 0 << false << "found" << -1 << "Server gestoppt";
        QTest::newRow("autostart") << 0 << true << "found" << 1 << "Server läuft ....";
        QTest::newRow("no device") << 100 << true << "missing" << 1 << "Server is not running";
        QTest::newRow("autostart, long search") << 0 << true << "slow" << -1 << "Server läuft ....";
    }
    void startup()
    {
        QFETCH(int, language);
        QFETCH(bool, autoStart);
        QFETCH(QString, device);
        QFETCH(int, clockGoes);
        Desktop program; // started on a manual clock that reads 1000 s
        ManualClock clock;
        clock.set(1000);
        Startform splash;
        Startup startup(
            program.window, splash, program.server, program.settings, clock, "/opt/qx-server");
        QSignalSpy finished(&startup, &Startup::finished);
        StoreLanguageOffset(program.settings, language);
        StoreAutoStart(program.settings, autoStart);
        program.server.deviceAttached = device != "missing";
        program.server.holdSearch = device == "slow";
        startup.run();
        QCOMPARE(program.settings.ReadKeyValue(VendorKey, "SP", {}).toText(), "/opt/qx-server/");
        const QRgb look = !autoStart ? Red : device == "found" ? Green : Yellow; // start or not
        QCOMPARE(program.find<QLabel>("Label5")->palette().color(QPalette::Window), QColor(look));
        QCOMPARE(program.find<QAction>("MSAutoStart")->isChecked(), autoStart);
        QVERIFY(program.find<QAction>(language ? "MLEnglish" : "MLGerman")->isChecked());
        QCOMPARE(program.text("MDatei"), language ? "&File" : "&Datei");
        QVERIFY(program.find<QAction>("MSShowIP")->isVisible());

        // The splash window shows while the clock differs by up to 2 s, and
        // until the start has ended; its timer looks.
        clock.set(1000 + 2 * clockGoes);
        startup.checkSplashTime();
        QVERIFY(splash.isVisible() && !program.window.isVisible());
        clock.set(1000 + 3 * clockGoes);
        if (device == "found")
            QVERIFY(finished.wait());
        startup.checkSplashTime();
        QCOMPARE(finished.count(), int(device == "found"));
        // The message of a failed start waits for its OK while the event loop runs on.
        if (auto *box = program.window.findChild<QMessageBox *>()) {
            QVERIFY(box->isVisible() && box->windowModality() != Qt::NonModal);
            QCOMPARE(
                box->windowTitle() + ": " + box->text(), "QX-Server: No interface QX-USB found !");
            QVERIFY(
                box->icon() == QMessageBox::NoIcon && box->standardButtons() == QMessageBox::Ok);
            QCOMPARE(program.text("Label5"), "Searching interface ...");
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        }
        program.server.finishSearch();
        QCOMPARE(finished.count(), 1);
        QVERIFY(!splash.isVisible() && program.window.isVisible());
        QTEST(program.text("Label5"), "status");
    }

    void aboutDialog()
    {
        Desktop desktop;
        desktop.click("MHAbout");
        auto *about = desktop.find<QDialog>("AboutForm");
        auto *name = about->findChild<QLabel *>("Label2");
        QVERIFY(name->font().bold() && name->alignment() & Qt::AlignRight);
        QCOMPARE(name->font().pointSizeF(), 22.5);
        QCOMPARE(about->findChild<QLabel *>("Picture1")->pixmap().size(), QSize(195, 75));
        QCOMPARE(about->findChild<QLabel *>("Label1")->grab().toImage().pixelColor(1, 1),
            about->palette().color(QPalette::ToolTipBase));
    }

    // Each dialog opens beside the main window on its screen, never over its menus.
    void dialogsOpenBeside_data()
    {
        QTest::addColumn<QString>("menuItem");
        QTest::addColumn<QPoint>("mainWindow"); // where it is on the 800 x 800 screen
        QTest::addColumn<QString>("side"); // of the main window
        QTest::newRow("About: on the right") << "MHAbout" << QPoint(0, 100) << "right";
        QTest::newRow("own address, main window at the right edge: on the left")
            << "MSShowIP" << QPoint(514, 100) << "left";
        QTest::newRow("log window, too wide for either side: below")
            << "MSShowLog" << QPoint(40, 40) << "below";
        QTest::newRow("log window, main window at the bottom: above")
            << "MSShowLog" << QPoint(40, 650) << "above";
        QTest::newRow("log window, no side free: over the window, under its menus, on the screen")
            << "MSShowLog" << QPoint(300, 350) << "under the menus";
    }
    void dialogsOpenBeside()
    {
        QFETCH(QString, menuItem);
        QFETCH(QPoint, mainWindow);
        Desktop desktop;
        desktop.window.showOwnAddressEntry();
        desktop.window.move(mainWindow);
        desktop.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&desktop.window));
        const QRect screen = desktop.window.screen()->availableGeometry();
        QCOMPARE(screen, QRect(0, 0, 800, 800));
        desktop.click(qPrintable(menuItem));
        auto *dialog = desktop.window.findChild<QDialog *>();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        const QRect place = dialog->frameGeometry(), main = desktop.window.frameGeometry();
        const QMenuBar *menus = desktop.window.menuBar();
        QVERIFY(!place.intersects(QRect(menus->mapToGlobal(QPoint(0, 0)), menus->size())));
        QVERIFY(screen.contains(place));
        const QString where = place.left() > main.right() ? "right"
            : place.right() < main.left()                 ? "left"
            : place.top() > main.bottom()                 ? "below"
            : place.bottom() < main.top()                 ? "above"
                                                          : "under the menus";
        QTEST(where, "side");
    }

    // The newest line shows whole at every size of the log window: the list follows it through a
    // shrinking, and a line of 79 characters fits its row or the list scrolls far enough to show
    // its end, at every width from 560 to 640 px.
    void logWindowShowsTheNewestLineWhole()
    {
        Desktop desktop;
        QDialog *form = desktop.openLog();
        auto *view = desktop.find<QListView>("LogView");
        const auto addLines = [&](int count) {
            for (int line = 0; line < count; ++line) // M fills its width: no edge of white
                DesktopLogBook().append(QString(79, QLatin1Char('M')));
            QVERIFY(QMetaObject::invokeMethod(form, "showNewLines"));
        };
        const auto newest = [view] {
            return view->visualRect(view->model()->index(view->model()->rowCount() - 1, 0));
        };
        const auto inView = [view](const QRect &row) {
            return row.top() >= 0 && row.bottom() <= view->viewport()->rect().bottom();
        };
        addLines(40);
        for (int width = 560; width <= 640; ++width) {
            form->resize(width, 300);
            QTRY_COMPARE(form->size(), QSize(width, 300));
            const QByteArray where = QByteArray::number(width) + " px wide";
            QVERIFY2(inView(newest()), where + ", resized");
            addLines(1);
            QVERIFY2(inView(newest()), where + ", a line added");
            view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->maximum());
            const QImage shown = view->viewport()->grab().toImage();
            QVERIFY2(shown.pixelColor(shown.width() - 1, newest().center().y())
                    == view->palette().color(QPalette::Base),
                where + ": the line's end is cut off");
        }
    }

    void logWindow()
    {
        Desktop desktop;
        QDialog *form = desktop.openLog();
        QVERIFY(form->minimumSize() != form->maximumSize()); // resizable
        auto *view = desktop.find<QListView>("LogView");
        QStringList expected = LogAClientAndTheDevice(false);
        desktop.click("Frames");
        expected += LogAClientAndTheDevice(true);
        QTRY_COMPARE(RowsOf(view).size(), expected.size());
        QStringList rows = RowsOf(view);
        const QRegularExpression time(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )");
        for (QString &row : rows) // each line starts with its time
            row = row.contains(time) ? row.remove(time) : "no time: " + row;
        QCOMPARE(rows, expected);
        desktop.click("Copy");
        QCOMPARE(QGuiApplication::clipboard()->text(), RowsOf(view).join('\n'));

        // The last lines only, and the count of those dropped.
        for (int line = 1; line <= 2005; ++line)
            DesktopLogBook().append(QString::number(line));
        QTRY_COMPARE(RowsOf(view).size(), 2001);
        const int dropped = expected.size() + 5;
        QCOMPARE(RowsOf(view).mid(0, 2),
            QStringList({ QString("… %1 ältere Zeilen verworfen").arg(dropped), "6" }));
        QCOMPARE(RowsOf(view).last(), "2005");
        desktop.setLanguage(Common::English);
        QCOMPARE(RowsOf(view).first(), QString("… %1 older lines dropped").arg(dropped));

        // The view follows the newest line, unless the user has scrolled up:
        // then the line at the top stays there.
        QScrollBar *bar = view->verticalScrollBar();
        QVERIFY(bar->value() == bar->maximum() && bar->maximum() > 0);
        bar->setValue(100);
        const QString top = view->indexAt(QPoint(1, 1)).data().toString();
        DesktopLogBook().append(QStringLiteral("2006"));
        QTRY_COMPARE(RowsOf(view).last(), "2006");
        QCOMPARE(view->indexAt(QPoint(1, 1)).data().toString(), top);
        desktop.click("Clear");
        QVERIFY(RowsOf(view).isEmpty() && DesktopLogBook().contents().lines.isEmpty());

        // Closed, the window takes back the frames it switched on, and keeps its place.
        form->setGeometry(40, 50, 500, 300);
        const QRect place(form->pos(), form->size());
        desktop.click("Close");
        QTRY_VERIFY(!desktop.find("LogForm") && !lcFrames().isDebugEnabled());
        form = desktop.openLog();
        QCOMPARE(QRect(form->pos(), form->size()), place);
    }

    // Every window in its size, and a picture of each dialog beside the main window.
    void screenshots()
    {
        const std::pair<const char *, QSize> dialogs[] = { { "MSShowIP", QSize(312, 98) },
            { "MHAbout", QSize(415, 201) }, { "MSShowLog", QSize(720, 360) } };
        for (const int language : { Common::German, Common::English }) {
            const QString suffix = language ? "-english" : "-german";
            Desktop desktop;
            desktop.setLanguage(language);
            desktop.window.showOwnAddressEntry();
            desktop.click("Command1");
            desktop.window.showCounts(3, 2);
            desktop.window.move(40, 40);
            QCOMPARE(desktop.window.centralWidget()->size(), QSize(286, 107));
            for (const auto &[menuItem, size] : dialogs) {
                desktop.click(menuItem);
                auto *dialog = desktop.window.findChild<QDialog *>();
                QCOMPARE(dialog->size(), size);
                if (dialog->objectName() == "LogForm") {
                    DesktopLogBook().clear();
                    desktop.click("Frames");
                    const int lines = LogAClientAndTheDevice(true).size();
                    QTRY_COMPARE(desktop.find<QListView>("LogView")->model()->rowCount(), lines);
                }
                Save({ &desktop.window, dialog },
                    "mainform-" + dialog->objectName().toLower() + suffix);
                dialog->close();
                QTRY_VERIFY(!desktop.window.findChild<QDialog *>());
            }
        }
        Startform splash;
        splash.move(40, 40);
        QCOMPARE(splash.size(), QSize(427, 185));
        Save({ &splash }, "startform");
    }
};

QTEST_MAIN(TestWindows)
#include "test_windows.moc"
