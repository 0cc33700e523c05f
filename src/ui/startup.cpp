#include "startup.h"

#include "core/clock.h"
#include "core/server_control.h"
#include "core/settings_store.h"
#include "core/stored_settings.h"
#include "core/string_table.h"
#include "mainform.h"
#include "startform.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>

namespace {

void CentreOnScreen(QWidget &window)
{
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        window.move(screen->availableGeometry().center() - window.rect().center());
}

} // namespace

Startup::Startup(Mainform &mainform, Startform &splash, ServerControl &server,
    const SettingsStore &settings, const Clock &clock, QString applicationDirPath, QObject *parent)
    : QObject(parent)
    , m_mainform(mainform)
    , m_splash(splash)
    , m_server(server)
    , m_settings(settings)
    , m_clock(clock)
    , m_applicationDirPath(std::move(applicationDirPath))
{
    m_splashTimer.setInterval(SplashCheckInterval);
    connect(&m_splashTimer, &QTimer::timeout, this, &Startup::checkSplashTime);
}

void Startup::run()
{
    CentreOnScreen(m_splash);
    m_splash.show();
    m_startTime = m_clock.seconds();

    StatusLook stopped;
    stopped.caption = LocalText(TextId::ServerStopped).value_or(QString());
    stopped.backColor = ColorRed;
    stopped.foreColor = ColorButtonHighlight;
    m_mainform.showStatus(stopped);

    WriteProgramFolder(m_settings, m_applicationDirPath);
    m_mainform.setWindowTitle(QString::fromLatin1(Mainform::WindowTitle));
    m_mainform.showOwnAddressEntry();

    Common::LangOffset = Common::German;
    m_mainform.setLanguageChecks(Common::German);
    if (StoredLanguageOffset(m_settings) == Common::English) {
        Common::LangOffset = Common::English;
        m_mainform.setLanguageChecks(Common::English);
    }
    m_mainform.SetLanguage();

    if (!StoredAutoStart(m_settings)) {
        waitForSplashTime();
        return;
    }
    m_mainform.setAutoStartChecked(true);
    // The start reports back once the device has been found or the user has
    // closed the "No interface" message; it may do so before it returns.
    const QPointer<Startup> self(this);
    m_server.MSStartServer_Click([self] {
        if (self)
            self->waitForSplashTime();
    });
}

void Startup::waitForSplashTime()
{
    if (m_waiting)
        return;
    m_waiting = true;
    checkSplashTime();
    if (!m_finished)
        m_splashTimer.start();
}

void Startup::checkSplashTime()
{
    if (!m_waiting || m_finished)
        return;
    if (qAbs(m_clock.seconds() - m_startTime) <= SplashMinimumSeconds)
        return;
    m_finished = true;
    m_splashTimer.stop();
    m_splash.hide();
    CentreOnScreen(m_mainform);
    m_mainform.show();
    Q_EMIT finished();
}
