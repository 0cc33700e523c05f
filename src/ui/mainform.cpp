#include "mainform.h"

#include "aboutform.h"
#include "client_font.h"
#include "core/server_control.h"
#include "core/stored_settings.h"
#include "core/string_table.h"
#include "fitted_text.h"
#include "ipform.h"
#include "logform.h"
#include "picture_button.h"
#include "status_colors.h"
#include "twips.h"
#include "ui_resources.h"
#include "window_place.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>

namespace {

constexpr QSize ClientSize(Twips(4290), Twips(1605));
constexpr QSize ButtonPictureSize(24, 48);
// The window has a fixed size, so its title bar offers nothing to maximize.
constexpr Qt::WindowFlags FixedWindowFlags = Qt::Window | Qt::CustomizeWindowHint
    | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
    | Qt::WindowCloseButtonHint;

QLabel *MakeLabel(QWidget *parent, const char *name, const QString &text, const QRect &place)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(place);
    SetFittedText(*label, text);
    return label;
}

QPushButton *MakeButton(
    QWidget *parent, const char *name, const char *picture, const QString &text, const QRect &place)
{
    auto *button = new PictureButton(QIcon(QString::fromLatin1(picture)), parent);
    button->setObjectName(QLatin1String(name));
    button->setIconSize(ButtonPictureSize);
    button->setText(text);
    button->setGeometry(place);
    return button;
}

// A caption of the language's texts, whatever kind of control carries it.
void SetCaption(QObject *control, const QString &text)
{
    if (auto *menu = qobject_cast<QMenu *>(control))
        menu->setTitle(text);
    else if (auto *action = qobject_cast<QAction *>(control))
        action->setText(text);
    else if (auto *button = qobject_cast<QAbstractButton *>(control))
        button->setText(text);
    else if (auto *label = qobject_cast<QLabel *>(control))
        SetFittedText(*label, text);
}

} // namespace

Mainform::Mainform(const SettingsStore &settings, LogBook &logBook, QWidget *parent)
    : QMainWindow(parent, FixedWindowFlags)
    , m_settings(settings)
    , m_logBook(logBook)
{
    InitUiResources();
    setWindowTitle(QString::fromLatin1(WindowTitle));
    setWindowIcon(ProgramIcon());
    createControls();
    createMenus();
    // The window keeps the size of its client area and menu bar.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

Mainform::~Mainform() = default;

void Mainform::setServerControl(ServerControl *server)
{
    m_server = server;
}

void Mainform::setFramesSwitch(std::function<void(bool)> logFrames)
{
    m_logFrames = std::move(logFrames);
}

void Mainform::createControls()
{
    auto *client = new QWidget(this);
    client->setFixedSize(ClientSize);
    client->setFont(ClientFont(font()));
    setCentralWidget(client);

    m_label1 = MakeLabel(client, "Label1", QStringLiteral("Benutzte Befehls-Ports :"),
        TwipsRect(120, 120, 1935, 255));
    m_label3 = MakeLabel(client, "Label3", QStringLiteral("0"), TwipsRect(2160, 120, 855, 255));
    m_label2 = MakeLabel(client, "Label2", QStringLiteral("Benutzte Broadcast-Ports :"),
        TwipsRect(120, 360, 1935, 255));
    m_label4 = MakeLabel(client, "Label4", QStringLiteral("0"), TwipsRect(2160, 360, 855, 255));

    m_label5 = new QLabel(client);
    m_label5->setObjectName(QStringLiteral("Label5"));
    m_label5->setGeometry(TwipsRect(120, 960, 2295, 300));
    m_label5->setAlignment(Qt::AlignCenter);
    m_label5->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_label5->setLineWidth(1);
    m_label5->setAutoFillBackground(true);
    SetFittedText(*m_label5, QStringLiteral("Server gestoppt"));

    m_command1 = MakeButton(client, "Command1", ":/images/start.png",
        QStringLiteral("Server starten"), TwipsRect(2640, 120, 735, 1335));
    m_command2 = MakeButton(client, "Command2", ":/images/stop.png", QStringLiteral("Server stopp"),
        TwipsRect(3480, 120, 615, 1335));
    m_command2->setEnabled(false);
    connect(m_command1, &QPushButton::clicked, this, &Mainform::Command1_Click);
    connect(m_command2, &QPushButton::clicked, this, &Mainform::Command2_Click);
}

QAction *Mainform::addAction(QMenu *menu, const char *name, const QString &caption)
{
    QAction *action = menu->addAction(caption);
    action->setObjectName(QLatin1String(name));
    return action;
}

void Mainform::createMenus()
{
    const auto addMenu = [this](const char *name, const QString &caption) {
        QMenu *menu = menuBar()->addMenu(caption);
        menu->setObjectName(QLatin1String(name));
        menu->menuAction()->setObjectName(QLatin1String(name));
        return menu;
    };

    m_mDatei = addMenu("MDatei", QStringLiteral("&Datei"));
    m_mDEnde = addAction(m_mDatei, "MDEnde", QStringLiteral("&Ende"));
    connect(m_mDEnde, &QAction::triggered, this, &Mainform::MDEnde_Click);

    m_mServer = addMenu("MServer", QStringLiteral("&Server"));
    m_mSStartServer = addAction(m_mServer, "MSStartServer", QStringLiteral("Server &starten ..."));
    m_mSStopServer = addAction(m_mServer, "MSStopServer", QStringLiteral("Server &anhalten ..."));
    m_mServer->addSeparator()->setObjectName(QStringLiteral("MSSep001"));
    m_mSAutoStart
        = addAction(m_mServer, "MSAutoStart", QStringLiteral("Server a&utomatisch starten"));
    m_mSAutoStart->setCheckable(true);
    m_mSSep002 = m_mServer->addSeparator();
    m_mSSep002->setObjectName(QStringLiteral("MSSep002"));
    m_mSShowIP = addAction(m_mServer, "MSShowIP", QStringLiteral("Eigene IP-Adresse anzeigen ..."));
    m_mSSep002->setVisible(false);
    m_mSShowIP->setVisible(false);
    m_mServer->addSeparator()->setObjectName(QStringLiteral("MSSep003"));
    m_mSShowLog
        = addAction(m_mServer, "MSShowLog", LocalText(TextId::MSShowLog).value_or(QString()));
    connect(m_mSStartServer, &QAction::triggered, this, &Mainform::MSStartServer_Click);
    connect(m_mSStopServer, &QAction::triggered, this, &Mainform::MSStopServer_Click);
    // A checkable action has flipped its check mark before it reports the
    // click, so the click only has to store the new state.
    connect(m_mSAutoStart, &QAction::triggered, this, &Mainform::storeAutoStart);
    connect(m_mSShowIP, &QAction::triggered, this, &Mainform::MSShowIP_Click);
    connect(m_mSShowLog, &QAction::triggered, this, &Mainform::MSShowLog_Click);

    m_mLanguage = addMenu("MLanguage", QStringLiteral("&Sprache"));
    m_mLGerman = addAction(m_mLanguage, "MLGerman", QStringLiteral("&Deutsch"));
    m_mLEnglish = addAction(m_mLanguage, "MLEnglish", QStringLiteral("&Eng"));
    m_mLGerman->setCheckable(true);
    m_mLEnglish->setCheckable(true);
    connect(m_mLGerman, &QAction::triggered, this, &Mainform::MLGerman_Click);
    connect(m_mLEnglish, &QAction::triggered, this, &Mainform::MLEnglish_Click);

    m_mHelp = addMenu("MHelp", QStringLiteral("&?"));
    m_mHAbout = addAction(m_mHelp, "MHAbout", QStringLiteral("Ü&ber ..."));
    connect(m_mHAbout, &QAction::triggered, this, &Mainform::MHAbout_Click);
}

void Mainform::showStatus(const StatusLook &look)
{
    QPalette colours = m_label5->palette();
    colours.setColor(QPalette::Window, StatusColor(look.backColor, palette()));
    colours.setColor(QPalette::WindowText, StatusColor(look.foreColor, palette()));
    m_label5->setPalette(colours);
    SetFittedText(*m_label5, look.caption);
    m_label5->repaint();
}

void Mainform::showStatusCaption(const QString &caption)
{
    SetFittedText(*m_label5, caption);
    m_label5->repaint();
}

void Mainform::showCounts(int commandConnections, int broadcastConnections)
{
    // Called on every housekeeping tick: only a change is worth a repaint.
    if (commandConnections != m_commandCount) {
        m_commandCount = commandConnections;
        m_label3->setText(QString::number(commandConnections));
    }
    if (broadcastConnections != m_broadcastCount) {
        m_broadcastCount = broadcastConnections;
        m_label4->setText(QString::number(broadcastConnections));
    }
}

void Mainform::showButtons(bool startEnabled, bool stopEnabled)
{
    m_command1->setEnabled(startEnabled);
    m_command2->setEnabled(stopEnabled);
}

void Mainform::showMessage(const QString &title, const QString &text, std::function<void()> closed)
{
    // Modal to the user, but open() returns at once: the server goes on
    // serving while the message waits for its OK.
    auto *box = new QMessageBox(QMessageBox::NoIcon, title, text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QDialog::finished, this, [closed = std::move(closed)] {
        if (closed)
            closed();
    });
    box->open();
}

void Mainform::setLanguageChecks(int langOffset)
{
    m_mLGerman->setChecked(langOffset == Common::German);
    m_mLEnglish->setChecked(langOffset == Common::English);
}

void Mainform::setAutoStartChecked(bool on)
{
    m_mSAutoStart->setChecked(on);
}

void Mainform::showOwnAddressEntry()
{
    m_mSSep002->setVisible(true);
    m_mSShowIP->setVisible(true);
}

void Mainform::SetLanguage()
{
    const std::pair<QObject *, int> steps[] = {
        { m_mDatei, TextId::MDatei },
        { m_mDEnde, TextId::MDEnde },
        { m_mServer, TextId::MServer },
        { m_mSStartServer, TextId::MSStartServer },
        { m_mSStopServer, TextId::MSStopServer },
        { m_mSAutoStart, TextId::MSAutoStart },
        { m_mSShowIP, TextId::MSShowIP },
        { m_mSShowLog, TextId::MSShowLog },
        { m_mLanguage, TextId::MLanguage },
        { m_mLGerman, TextId::MLGerman },
        { m_mLEnglish, TextId::MLEnglish },
        { m_mHAbout, TextId::MHAbout },
        { m_label1, TextId::CommandPortsInUse },
        { m_label2, TextId::BroadcastPortsInUse },
        { m_command1, TextId::StartServer },
        { m_command2, TextId::StopServer },
    };
    // Each step stands alone: a text the table lacks leaves that caption as it was.
    for (const auto &[control, baseId] : steps) {
        if (const auto text = LocalText(baseId))
            SetCaption(control, *text);
    }
    if (m_logForm)
        m_logForm->SetLanguage();

    // The status caption follows the server's state; its colours stay.
    const bool running = m_server && m_server->isRunning();
    if (running) {
        if (const auto text = LocalText(TextId::ServerRunning))
            SetFittedText(*m_label5, *text + QStringLiteral(" ...."));
    } else if (const auto text = LocalText(TextId::ServerStopped)) {
        SetFittedText(*m_label5, *text);
    }
}

void Mainform::chooseLanguage(int langOffset)
{
    StoreLanguageOffset(m_settings, langOffset);
    setLanguageChecks(langOffset);
    Common::LangOffset = langOffset;
    SetLanguage();
}

void Mainform::MLGerman_Click()
{
    chooseLanguage(Common::German);
}

void Mainform::MLEnglish_Click()
{
    chooseLanguage(Common::English);
}

void Mainform::MSAutoStart_Click()
{
    m_mSAutoStart->setChecked(!m_mSAutoStart->isChecked());
    storeAutoStart();
}

void Mainform::storeAutoStart()
{
    // Takes effect at the next start of the program.
    StoreAutoStart(m_settings, m_mSAutoStart->isChecked());
}

void Mainform::MSStartServer_Click()
{
    if (m_server)
        m_server->MSStartServer_Click();
}

void Mainform::MSStopServer_Click()
{
    if (m_server)
        m_server->MSStopServer_Click();
}

void Mainform::Command1_Click()
{
    MSStartServer_Click();
}

void Mainform::Command2_Click()
{
    MSStopServer_Click();
}

void Mainform::bringToFront(QWidget &dialog)
{
    if (dialog.isVisible()) {
        dialog.raise();
        dialog.activateWindow();
    } else {
        dialog.show();
    }
}

void Mainform::placeBeside(QWidget &dialog) const
{
    // Before it is shown, a window's frame is not known: one with a title bar
    // gets as much frame as this window has.
    const QRect frame = frameGeometry(), inner = geometry();
    const QMargins margins = dialog.windowFlags() & Qt::FramelessWindowHint
        ? QMargins()
        : QMargins(inner.left() - frame.left(), inner.top() - frame.top(),
            frame.right() - inner.right(), frame.bottom() - inner.bottom());
    const QRect menus(menuBar()->mapToGlobal(QPoint(0, 0)), menuBar()->size());
    dialog.move(
        PlaceBeside(frame, dialog.size().grownBy(margins), screen()->availableGeometry(), menus));
}

void Mainform::MHAbout_Click()
{
    if (!m_about) {
        m_about = new AboutForm(this);
        placeBeside(*m_about);
    }
    m_about->setBuildStamp(QString::fromLatin1(BuildStamp));
    bringToFront(*m_about);
}

void Mainform::MSShowIP_Click()
{
    if (!m_ipForm) {
        // The address is the server's to choose, read once as the dialog opens:
        // the address the command service listens on when it was given one,
        // otherwise the first IPv4 address of an interface that is up (not the
        // loopback), otherwise 127.0.0.1. The dialog shows what it gets.
        const QHostAddress address = m_server ? m_server->ownAddress() : QHostAddress();
        m_ipForm = new IPForm(address, this);
        placeBeside(*m_ipForm);
    }
    bringToFront(*m_ipForm);
}

void Mainform::MSShowLog_Click()
{
    if (!m_logForm) {
        m_logForm = new LogForm(m_logBook, m_settings, m_logFrames, this);
        if (!m_logForm->placedAsStored())
            placeBeside(*m_logForm);
    }
    bringToFront(*m_logForm);
}

void Mainform::MDEnde_Click()
{
    // Ends at once: nothing is saved, no client is told.
    Q_EMIT endingProgram();
    QCoreApplication::exit(0);
}

void Mainform::closeEvent(QCloseEvent *event)
{
    MDEnde_Click();
    event->accept();
}
