#pragma once

#include <QDialog>
#include <QTimer>
#include <chrono>
#include <functional>

class LogBook;
class QCheckBox;
class QListView;
class QPushButton;
class LogLines;
class SettingsStore;

// The log window: the lines the program logs, as standard error gets them,
// newest at the bottom. It shows what the log book keeps and keeps nothing of
// its own; the list is brought up to date by a timer, so that a flood of lines
// costs the window at most ten updates a second, whatever it costs the book.
// The list follows the newest line unless the user has scrolled up; it
// follows again once it shows the last line, and a change of the window's
// size alone never ends it.
//
// Modeless and resizable; deletes itself when closed, and then stores where it
// was. "Frames" logs every frame in hex while it is ticked; closing the window
// gives the frames back the setting it found.
class LogForm : public QDialog
{
    Q_OBJECT

public:
    // `logFrames` switches the frames on and off.
    LogForm(LogBook &book, const SettingsStore &settings, std::function<void(bool)> logFrames,
        QWidget *parent = nullptr);
    ~LogForm() override;

    static constexpr std::chrono::milliseconds UpdateInterval { 100 };

    // Whether the window opens where it was last; otherwise its opener places it.
    bool placedAsStored() const { return m_placedAsStored; }

public Q_SLOTS:
    // The texts in the current language.
    void SetLanguage();
    // Shows what the book holds now, if it changed.
    void showNewLines();
    // Puts every line on the clipboard.
    void copyLines();
    // Empties the book and the list.
    void clearLines();

private:
    // Where it was last, when that place is stored and its screen still there.
    bool placeAsStored();
    void logFrames(bool on);
    void showLines();
    // The user has scrolled the list to `value`.
    void noteScrolling(int value);
    // The list's scroll range has changed (lines came or went, the window was resized).
    void keepFollowing();

    LogBook &m_book;
    const SettingsStore &m_settings;
    std::function<void(bool)> m_logFrames;
    const bool m_framesAtOpening; // whether frames were logged before the window opened
    bool m_placedAsStored = false; // it opens where it was last

    QListView *m_view = nullptr;
    LogLines *m_lines = nullptr; // what the list shows
    QCheckBox *m_frames = nullptr;
    QPushButton *m_copy = nullptr;
    QPushButton *m_clear = nullptr;
    QPushButton *m_close = nullptr;
    QTimer m_updateTimer;
    quint64 m_shownChange = 0; // the book's change count that the list shows
    quint64 m_shownDropped = 0; // the dropped lines that the list counts
    bool m_shownDroppedLine = false; // whether the list starts with the count of dropped lines
    bool m_following = true; // the list keeps the newest line in view: the user's choice
    bool m_showingLines = false; // showLines() moves the list, not the user
};
