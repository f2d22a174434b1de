// The player procedures and the Play/Pause and Stop buttons. The procedures
// install no error handling of their own: a player failure ends them where it
// happens and reaches the calling handler.

#include "app/ui/Form1.h"
#include "state/TimeText.h"

#include <QFile>
#include <QScopeGuard>

namespace morvane {

void Form1::mp_myopen()
{
    if (!state.fileOpen())
        return;
    player_.play();
    state.IsPlaying = True;
}

void Form1::mp_myplay()
{
    if (!state.fileOpen())
        return;
    const double duration = player_.duration();
    const double position = player_.currentPosition();
    if (duration == position) { // standing at the end: rewind first
        state.IsPlaying = False;
        player_.seek(0);
    }
    if (state.IsPlaying == False) {
        if (player_.currentPosition() == 0) {
            // Stopped: name the file again and start it from the beginning.
            // The player may run window events while it loads, as in Open:
            // nothing may act on the file meanwhile.
            setEditingEnabled(false);
            const auto unlock = qScopeGuard([this] {
                if (!unloaded_)
                    setEditingEnabled(true);
            });
            nameSourceToPlayer();
            if (unloaded_)
                return; // closed while loading: the player is closed, nothing to start
            player_.play();
        } else {
            player_.pause(); // resumes where it was paused
        }
        state.IsPlaying = True;
    }
}

void Form1::mp_mypause()
{
    if (!state.fileOpen())
        return;
    if (state.IsPlaying != False) {
        state.IsPlaying = False;
        player_.pause();
    }
}

void Form1::mp_mystop()
{
    if (!state.fileOpen())
        return;
    if (state.IsPlaying != False) {
        player_.seek(0);
        state.IsPlaying = False;
        H->setValue(0);
        player_.pause();
    } else {
        // Pause on a paused player would resume it.
        player_.seek(0);
        H->setValue(0);
    }
}

void Form1::mp_myclose()
{
    if (!state.fileOpen())
        return;
    state.IsPlaying = False;
    player_.close();
    state.SourceFile = QString();
    state.SourceParts = QStringList();
    state.Title = 0;
    state.TitleCount = 0;
    state.ChapterSeconds.clear();
    state.StartChapter = -1;
    state.EndChapter = -1;
}

void Form1::nameSourceToPlayer()
{
    if (state.Title > 0)
        player_.setTitle(QFile::encodeName(state.SourceFile), state.Title);
    else
        player_.setFileName(state.sourceFiles());
}

void Form1::showPlayCaption() { Command1->setText(QStringLiteral("Play")); }

void Form1::showPauseCaption() { Command1->setText(QStringLiteral("Pause")); }

bool Form1::captionSaysPlay() const { return Command1->text() == QLatin1String("Play"); }

void Form1::Command1_Click()
{
    if (!state.fileOpen())
        return;
    try {
        if (captionSaysPlay()) {
            mp_myplay();
            if (unloaded_)
                return;
            T->start();
            if (!takeDuration())
                return; // a file without length: the caption stays "Play"
            if (player_.duration() > 0)
                showPauseCaption();
        } else {
            mp_mypause();
            T->stop();
            showPlayCaption();
        }
    } catch (const PlayerError &e) {
        tellCannotPlay(state.SourceFile, e); // replaced by something unplayable, say
    } catch (const std::exception &e) {
        // A time overflowed: what was done stays done.
        endQuietly("Play/Pause", e);
    }
}

void Form1::Command2_Click()
{
    if (!state.fileOpen())
        return;
    try {
        mp_mystop();
        showPlayCaption();
        T->stop();
        Label4->setText(ResetText);
    } catch (const PlayerError &e) {
        tellCannotPlay(state.SourceFile, e); // replaced by something unplayable, say
    } catch (const std::exception &e) {
        // The caption and timer stay as they were.
        endQuietly("Stop", e);
    }
}

void Form1::tellCannotPlay(const QString &path, const std::exception &e)
{
    dialogs_.message(QStringLiteral("Cannot play \"%1\".\n%2").arg(path, QString::fromUtf8(e.what())));
}

} // namespace morvane
