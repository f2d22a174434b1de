#pragma once
// The one window. Its handlers are split over files by concern:
//   app/ui/Form1.cpp             layout, start-up, shutdown, links
//   playback/Form1_Playback.cpp  the player procedures, Play/Pause and Stop
//   playback/Form1_Tracking.cpp  the refresh timer and the slider
//   playback/Form1_PlaySelected.cpp
//   selection/Form1_Marks.cpp    Mark Start and Mark End
//   files/Form1_Open.cpp, files/Form1_Save.cpp

#include "app/ui/CommonDialog.h"
#include "app/ui/Controls.h"
#include "playback/MediaPlayer.h"
#include "state/EditingState.h"

#include <QFrame>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

namespace morvane {

class ClipCutter;
class WebPanel;

class Form1 : public QWidget {
    Q_OBJECT
public:
    // video shows the picture where the player sits; a plain panel is used
    // when it is null.
    Form1(MediaPlayer &player, Dialogs &dialogs, WebPanel &web, QWidget *video = nullptr,
          QWidget *parent = nullptr);
    ~Form1() override;

    EditingState state;

    // Controls, named as the window has always named them.
    QWidget *WebBrowser1;
    QWidget *mp;
    QPushButton *Command5; // Mark Start
    QPushButton *Command6; // Mark End
    QPushButton *Command9; // Play Selected
    QFrame *Frame1;
    QLabel *Label7; // start mark
    QLabel *Label9; // end mark
    QLabel *Label3; // selection length
    SeekSlider *H;
    QPushButton *Command3; // Website
    QPushButton *Command7; // Save
    QPushButton *Command4; // Open
    QPushButton *Command2; // Stop
    QPushButton *Command1; // Play / Pause
    QTimer *T;
    CommonDialog Cdlg;
    ClipProgressBar *pb;
    LinkLabel *Label1; // codec link
    MarkerLine *Line2;
    QLabel *Label4; // position
    MarkerLine *Line1;

    // True once the window has been closed; loops running inside handlers
    // end when they see it.
    bool isUnloaded() const { return unloaded_; }

    // Handlers. Public so that a test can raise an event that has no widget
    // of its own to click (the timer's tick, start-up).
    void Form_Initialize();
    void Form_Load();
    void Form_Unload();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Command6_Click();
    void Command7_Click();
    void Command9_Click();
    void Label1_Click();
    void T_Timer();
    void H_Click();
    void H_MouseDown();
    void H_MouseUp();

signals:
    void unloaded();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // The player procedures: the only writers of IsPlaying.
    void mp_myopen();
    void mp_myplay();
    void mp_mypause();
    void mp_mystop();
    void mp_myclose();

    void buildControls(QWidget *video);
    void markClicked(MarkerLine *line, int offset, std::int32_t &mark, QLabel *readOut);
    void tellPlayerFailed(const PlayerError &e);
    void setEditingEnabled(bool enabled);
    void openInBrowser(const QUrl &address);
    // Lets window events run for about ms milliseconds, or until the window
    // closes.
    void letEventsRunFor(int ms);

    MediaPlayer &player_;
    Dialogs &dialogs_;
    WebPanel &web_;
    ClipCutter *activeCut_ = nullptr;
    bool unloaded_ = false;
};

} // namespace morvane
