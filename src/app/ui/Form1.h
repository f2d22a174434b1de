#pragma once
// Form1, the one window. Its handlers are members of this one class, split
// over files by concern; only those handler files include this header. The
// map below names, for each group, the file that implements it:
//
//   app/ui/Form1.cpp                  window: layout, start-up, shutdown, links
//   playback/Form1_Playback.cpp       playback: player procedures, Play/Pause, Stop
//   playback/Form1_Tracking.cpp       playback: refresh tick, position slider
//   playback/Form1_PlaySelected.cpp   playback: Play Selected
//   selection/Form1_Marks.cpp         selection: Mark Start, Mark End
//   files/Form1_Open.cpp              files: Open
//   files/Form1_Save.cpp              files: Save
//   app/ui/Form1_Desktop.cpp          desktop: a file given by name, drops,
//                                     shortcuts, accessibility
//
// What the handlers share is `state` (state/EditingState.h) and the controls.

#include "app/ui/CommonDialog.h"
#include "app/ui/Controls.h"
#include "playback/MediaPlayer.h"
#include "state/EditingState.h"

#include <QCheckBox>
#include <QFrame>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <optional>

class QKeyEvent;

namespace morvane {

class ClipCutter;
class WebPanel;

class Form1 : public QWidget {
    Q_OBJECT
public:
    // video shows the picture where the player sits; a plain panel is used
    // when it is null.
    Form1(MediaPlayer &player, Dialogs &dialogs, WebPanel &web, QWidget *video = nullptr, QWidget *parent = nullptr);
    ~Form1() override;

    EditingState state;

    // Controls, under the names the window has always had.
    QPushButton *Command1 = nullptr; // Play / Pause
    QPushButton *Command2 = nullptr; // Stop
    QPushButton *Command3 = nullptr; // Website
    QPushButton *Command4 = nullptr; // Open
    QPushButton *Command5 = nullptr; // Mark Start
    QPushButton *Command6 = nullptr; // Mark End
    QPushButton *Command7 = nullptr; // Save
    QPushButton *Command9 = nullptr; // Play Selected
    QCheckBox *Check1 = nullptr;     // "Precise cut": Save cuts at the DVD's navigation packs
    LinkLabel *Label1 = nullptr;     // codec link, "Unable to play? Get DVD codecs now"
    ReadOut *Label3 = nullptr;       // selection length read-out
    ReadOut *Label4 = nullptr;       // position read-out
    ReadOut *Label7 = nullptr;       // start mark read-out
    ReadOut *Label9 = nullptr;       // end mark read-out
    MarkerLine *Line1 = nullptr;     // start marker line above the slider
    MarkerLine *Line2 = nullptr;     // end marker line above the slider
    QFrame *Frame1 = nullptr;        // box around the mark buttons and read-outs
    SeekSlider *H = nullptr;         // position slider, whole seconds
    ChapterTicks *Ticks = nullptr;   // a DVD title's chapter starts, under the marker lines
    QTimer *T = nullptr;             // refresh timer, 1000 ms
    ClipProgressBar *pb = nullptr;   // clip progress bar
    QWidget *mp = nullptr;           // video area where the player shows its picture
    QWidget *WebBrowser1 = nullptr;  // information web panel
    CommonDialog Cdlg;               // open and save dialogs

    // True once the window has been closed; loops running inside handlers
    // end when they see it.
    bool isUnloaded() const { return unloaded_; }

    // The handlers are public so that a test can raise an event that has no
    // widget of its own to click (the timer's tick, start-up).

    // --- app/ui/Form1.cpp: window ---
    void Form_Initialize(); // start-up values of the editing state
    void Form_Load();       // points the web panel at the information page
    void Form_Unload();     // closes the player; running loops end
    void Command3_Click();  // Website
    void Label1_Click();    // codec link

    // --- playback/Form1_Playback.cpp: playback commands ---
    void Command1_Click(); // Play / Pause
    void Command2_Click(); // Stop

    // --- playback/Form1_Tracking.cpp: position tracking ---
    void T_Timer();     // refresh tick: slider and read-out follow the player
    void H_Click();     // the user moved the slider: seek there
    void H_MouseDown(); // the user holds the slider: ticks pause
    void H_MouseUp();   // ... and let go: ticks resume while playing

    // --- playback/Form1_PlaySelected.cpp ---
    void Command9_Click(); // Play Selected

    // --- selection/Form1_Marks.cpp: marks and marker lines ---
    void Command5_Click(); // Mark Start
    void Command6_Click(); // Mark End

    // --- files/Form1_Open.cpp ---
    void Command4_Click(); // Open

    // --- files/Form1_Save.cpp ---
    void Command7_Click(); // Save

    // --- app/ui/Form1_Desktop.cpp: ways in from the desktop ---
    // Opens a file named from outside the dialog (the command line, a drop)
    // as Open does once the user has picked it. The name is the file
    // system's bytes; one that does not survive the trip through QString
    // unchanged is refused with a message rather than opening another file.
    void openGivenFile(const QByteArray &localName);

signals:
    void unloaded();

protected:
    void closeEvent(QCloseEvent *event) override;
    // --- app/ui/Form1_Desktop.cpp: a file dropped anywhere on the window,
    // and keys for the focused control ---
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // --- app/ui/Form1.cpp ---
    void buildControls(QWidget *video);
    void setEditingEnabled(bool enabled); // locked while a file loads or a clip is saved
    // The one "Cannot play" message: path, then the reason.
    void tellCannotPlay(const QString &path, const std::exception &e);
    void openInBrowser(const QUrl &address);
    // Lets window events run for about ms milliseconds, or until the window
    // closes.
    void letEventsRunFor(int ms);
    // The one place a handler's error ends quietly; says on stderr which
    // handler stopped and why.
    void endQuietly(const char *handler, const std::exception &error) const;

    // --- playback/Form1_Tracking.cpp ---
    // The slider's range and the marks' scale from the open file's length;
    // false for a file without length, which leaves the scale as it was.
    bool takeDuration();

    // --- playback/Form1_Playback.cpp: the only writers of IsPlaying ---
    void mp_myopen();          // starts the file just named to the player
    void mp_myplay();          // plays or resumes; from the beginning when stopped or at the end
    void mp_mypause();         // pauses when playing
    void mp_mystop();          // back to second 0, paused
    void mp_myclose();         // closes the player; no file is open afterwards
    void nameSourceToPlayer(); // the open file, or title, named to the player again
    // The Play/Pause caption: "Play" means the next click plays.
    void showPlayCaption();
    void showPauseCaption();
    bool captionSaysPlay() const;

    // --- selection/Form1_Marks.cpp ---
    void markClicked(MarkerLine *line, int offset, std::int32_t &mark, int &chapter, ReadOut *readOut);

    // --- files/Form1_Open.cpp ---
    void stopForOpen();                           // what Open does before it asks for a file
    void openSourceFile(QString path);            // the rest, once a file is chosen
    QStringList filesToOpen(const QString &path); // the file, or the whole DVD title it is part of
    std::optional<int> titleToOpen(const QByteArray &name, int &titleCount);

    // --- app/ui/Form1_Desktop.cpp ---
    void addDesktopWays(); // shortcuts, tooltips, accessible names, drops
    void addShortcut(const QList<QKeySequence> &keys, QPushButton *button);
    // Whether the focused control uses key itself rather than leave it to
    // the window's shortcut.
    bool takesKey(const QWidget *focus, const QKeyEvent *key) const;
    void seekBy(int seconds); // Left and Right: a user's seek, as on the slider
    void takeDrop(const QList<QUrl> &urls);
    void showWhatPlays();            // the title in the video's description, and its chapters' ticks
    void jumpChapter(int direction); // Page Down and Page Up: as a slider click on a chapter's start

    MediaPlayer &player_;
    Dialogs &dialogs_;
    WebPanel &web_;
    ClipCutter *activeCut_ = nullptr; // the running Save's cut, so that closing can cancel it
    bool unloaded_ = false;
};

} // namespace morvane
