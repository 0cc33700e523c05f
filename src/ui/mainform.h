#pragma once

#include "core/presentation.h"

#include <QMainWindow>
#include <QPointer>

class AboutForm;
class IPForm;
class LogBook;
class LogForm;
class QAction;
class QLabel;
class QMenu;
class QPushButton;
class ServerControl;
class SettingsStore;

// The main window: the status label, the two connection counters, the start
// and stop buttons and the menus. It is the server's presentation; what the
// user asks of the server goes through ServerControl. The server needs the
// presentation when it is made, so the window is made first and linked to the
// server afterwards with setServerControl(). The log window shows the lines of
// `logBook`; setFramesSwitch() gives it the switch for the frames.
//
// Controls carry their classic names as object names (Label1 … Label5,
// Command1, Command2, MDatei … MHAbout), and the handlers keep theirs.
class Mainform : public QMainWindow, public Presentation
{
    Q_OBJECT

public:
    Mainform(const SettingsStore &settings, LogBook &logBook, QWidget *parent = nullptr);
    ~Mainform() override;

    void setServerControl(ServerControl *server);
    // How the log window switches the logging of every frame on and off.
    void setFramesSwitch(std::function<void(bool)> logFrames);

    // Presentation
    void showStatus(const StatusLook &look) override;
    void showStatusCaption(const QString &caption) override;
    void showCounts(int commandConnections, int broadcastConnections) override;
    void showButtons(bool startEnabled, bool stopEnabled) override;
    void showMessage(
        const QString &title, const QString &text, std::function<void()> closed) override;

    // Used by the start-up.
    void setLanguageChecks(int langOffset);
    void setAutoStartChecked(bool on);
    void showOwnAddressEntry();

    static constexpr const char *WindowTitle = "Tervan QX-USB Server";
    static constexpr const char *BuildStamp = "041221"; // shown by the About dialog

public Q_SLOTS:
    void SetLanguage();
    void MLGerman_Click();
    void MLEnglish_Click();
    void MSAutoStart_Click();
    void MSStartServer_Click();
    void MSStopServer_Click();
    void Command1_Click();
    void Command2_Click();
    void MHAbout_Click();
    void MSShowIP_Click();
    void MSShowLog_Click();
    void MDEnde_Click();

Q_SIGNALS:
    // The program is about to end (File > End or the window closed).
    void endingProgram();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void createControls();
    void createMenus();
    QAction *addAction(QMenu *menu, const char *name, const QString &caption);
    void chooseLanguage(int langOffset);
    void storeAutoStart();
    static void bringToFront(QWidget &dialog);
    // Moves a window that opens for the first time beside this one.
    void placeBeside(QWidget &dialog) const;

    const SettingsStore &m_settings;
    LogBook &m_logBook;
    ServerControl *m_server = nullptr; // not owned
    std::function<void(bool)> m_logFrames; // handed to the log window

    QLabel *m_label1 = nullptr; // "command ports in use"
    QLabel *m_label2 = nullptr; // "broadcast ports in use"
    QLabel *m_label3 = nullptr; // command connections in use
    QLabel *m_label4 = nullptr; // broadcast connections in use
    QLabel *m_label5 = nullptr; // status
    QPushButton *m_command1 = nullptr; // start
    QPushButton *m_command2 = nullptr; // stop
    int m_commandCount = 0; // what Label3 shows
    int m_broadcastCount = 0; // what Label4 shows

    QMenu *m_mDatei = nullptr;
    QAction *m_mDEnde = nullptr;
    QMenu *m_mServer = nullptr;
    QAction *m_mSStartServer = nullptr;
    QAction *m_mSStopServer = nullptr;
    QAction *m_mSAutoStart = nullptr;
    QAction *m_mSSep002 = nullptr;
    QAction *m_mSShowIP = nullptr;
    QAction *m_mSShowLog = nullptr;
    QMenu *m_mLanguage = nullptr;
    QAction *m_mLGerman = nullptr;
    QAction *m_mLEnglish = nullptr;
    QMenu *m_mHelp = nullptr;
    QAction *m_mHAbout = nullptr;

    QPointer<AboutForm> m_about; // open About dialog, if any
    QPointer<IPForm> m_ipForm; // open own-address dialog, if any
    QPointer<LogForm> m_logForm; // open log window, if any
};
