#include "app/console_presenter.h"
#include "app/headless.h"
#include "app/logging_setup.h"
#include "app/options.h"
#include "app/service_notifier.h"
#include "app/settings_access.h"
#include "app/simulation.h"
#include "app/single_instance.h"
#include "core/clock.h"
#include "core/logging.h"
#include "core/presentation.h"
#include "core/settings_store.h"
#include "core/unix_signals.h"
#include "server/server.h"
#include "ui/mainform.h"
#include "ui/startform.h"
#include "ui/startup.h"

#include <QApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QMessageBox>
#include <cstdio>
#include <memory>

namespace {

bool DisplayAvailable()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    return !qEnvironmentVariableIsEmpty("DISPLAY")
        || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
#else
    return true;
#endif
}

QStringList Arguments(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

// The program cannot run at all: said in the log and, with a window, in a
// message box, then the end with status 1.
int FailToStart(QCoreApplication &app, bool headless, const QString &text)
{
    qCCritical(lcServer).noquote() << text;
    if (headless)
        return 1;
    auto *box = new QMessageBox(
        QMessageBox::Critical, QString::fromLatin1(MessageTitle), text, QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QDialog::finished, [] { QCoreApplication::exit(1); });
    box->open();
    return app.exec();
}

// Headless when asked, and when there is no display to show a window on.
bool RunsHeadless(const Options &options)
{
    if (options.headless)
        return true;
    if (DisplayAvailable())
        return false;
    std::fputs("qx-server: no display available, running headless\n", stderr);
    return true;
}

std::unique_ptr<QCoreApplication> MakeApplication(bool headless, int &argc, char *argv[])
{
    // Headless, only sockets, a serial port and timers wait on the event loop: Qt's own dispatcher
    // serves them with less work per pass than the GLib main loop (a round trip is mostly the
    // passes of the loop). A desktop keeps GLib, which its platform plugins may expect.
    if (headless && !qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    std::unique_ptr<QCoreApplication> app = headless
        ? std::make_unique<QCoreApplication>(argc, argv)
        : std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qx-server"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QX_VERSION));
    return app;
}

// False when another instance runs with the same settings (this one then ends,
// in silence but for one line headless).
bool HoldInstance(SingleInstance &instance, bool headless, const QString &settingsPath)
{
    switch (instance.tryLock()) {
    case SingleInstance::Outcome::Locked:
        break;
    case SingleInstance::Outcome::HeldByAnother:
        if (headless)
            std::fprintf(stderr, "qx-server: already running with the settings %s\n",
                qPrintable(settingsPath));
        return false;
    case SingleInstance::Outcome::Failed:
        qCWarning(lcServer).noquote()
            << instance.error() + QStringLiteral("; a second instance is not kept out");
        break;
    }
    return true;
}

QString SettingsPathOf(const Options &options)
{
    return options.settingsFile.isEmpty() ? SettingsStore::defaultPath()
                                          : QFileInfo(options.settingsFile).absoluteFilePath();
}

int RunHeadless(QCoreApplication &app, const Options &options, const ServerConfig &config,
    const SettingsStore &settings)
{
    qCInfo(lcServer).noquote() << QStringLiteral(
        "qx-server %1: command service on port %2, broadcast service on port "
        "%3, settings %4")
                                      .arg(QStringLiteral(QX_VERSION))
                                      .arg(options.commandPort)
                                      .arg(options.broadcastPort)
                                      .arg(settings.path());
    const MonotonicClock clock;
    ConsolePresenter console;
    ServiceNotifier presenter(console);
    Server server(config, settings, clock, presenter);
    presenter.observe(server);
    // A service manager must see a server that serves nobody fail, and restart it.
    QObject::connect(&server, &Server::cannotServe, &app, [] { QCoreApplication::exit(1); });
    StartHeadless(server, settings, QCoreApplication::applicationDirPath());
    return app.exec();
}

int RunWindow(QCoreApplication &app, const ServerConfig &config, const SettingsStore &settings)
{
    const MonotonicClock clock;
    Mainform window(settings, DesktopLogBook());
    window.setFramesSwitch(LogFrames);
    Startform splash;
    Server server(config, settings, clock, window);
    window.setServerControl(&server);
    Startup startup(
        window, splash, server, settings, clock, QCoreApplication::applicationDirPath());
    startup.run();
    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    const ParsedOptions parsed = ParseOptions(Arguments(argc, argv));
    if (parsed.exitNow) {
        std::fputs(qPrintable(parsed.output), parsed.exitStatus == 0 ? stdout : stderr);
        return parsed.exitStatus;
    }
    const Options &options = parsed.options;
    const bool headless = RunsHeadless(options);
    const std::unique_ptr<QCoreApplication> app = MakeApplication(headless, argc, argv);
    // The desktop program keeps the last lines for its log window.
    SetUpLogging(options.verbose, headless ? nullptr : &DesktopLogBook());

    const QString settingsPath = SettingsPathOf(options);
    SettingsAccess access = FindSettingsFile(settingsPath);
    if (!access.error.isEmpty())
        return FailToStart(*app, headless, access.error);
    // One instance per settings store, however the file was named; checked
    // before any window appears, so a second start ends without a trace.
    SingleInstance instance(access.path);
    if (!HoldInstance(instance, headless, settingsPath))
        return 0;
    PrepareSettingsFile(access, QDateTime::currentDateTime());
    for (const QString &warning : std::as_const(access.warnings))
        qCWarning(lcServer).noquote() << warning;

    const SettingsStore settings(access.path, access.use);
    ServerConfig config;
    config.listen = { options.listenAddress, options.commandPort, options.broadcastPort };
    config.ports = options.ports;
    std::unique_ptr<Simulation> simulation;
    if (options.simulate) {
        QString error;
        simulation = AttachSimulation(config.ports, &error);
        if (!simulation)
            return FailToStart(*app, headless, error);
    }

    UnixSignals signalHandler;
    QObject::connect(&signalHandler, &UnixSignals::terminationRequested, app.get(), [](int number) {
        qCInfo(lcServer).noquote() << "Ending on" << UnixSignals::name(number);
        QCoreApplication::exit(0);
    });
    return headless ? RunHeadless(*app, options, config, settings)
                    : RunWindow(*app, config, settings);
}
