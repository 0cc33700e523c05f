#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>

class Clock;
class Mainform;
class ServerControl;
class SettingsStore;
class Startform;

// The program's start with its window, in this order: the splash window, the
// stopped look, the program folder stored, the title, the own-address menu
// entry, the stored language, the autostart (waiting for the start to succeed
// or fail, message box included), the splash window's minimum time, and at
// last the main window. Nothing of it blocks: the server's timers and sockets
// are served all along, and finished() is emitted once the main window shows.
//
// One instance per settings store is made sure of by main() before any of this
// runs, so that a second start ends before it shows or writes anything.
class Startup : public QObject
{
    Q_OBJECT

public:
    Startup(Mainform &mainform, Startform &splash, ServerControl &server,
        const SettingsStore &settings, const Clock &clock, QString applicationDirPath,
        QObject *parent = nullptr);

    void run();

    static constexpr qint64 SplashMinimumSeconds = 2; // shown while the clock differs by no more
    static constexpr std::chrono::milliseconds SplashCheckInterval { 100 };

public Q_SLOTS:
    // Hides the splash window and shows the main window once the clock reads
    // more than SplashMinimumSeconds away from the start (either way).
    void checkSplashTime();

Q_SIGNALS:
    void finished();

private:
    void waitForSplashTime();

    Mainform &m_mainform;
    Startform &m_splash;
    ServerControl &m_server;
    const SettingsStore &m_settings;
    const Clock &m_clock;
    QString m_applicationDirPath;
    qint64 m_startTime = 0; // clock reading when the splash window appeared
    bool m_waiting = false; // the start-up steps are done; only the splash time is left
    bool m_finished = false;
    QTimer m_splashTimer;
};
