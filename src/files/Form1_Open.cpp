// Open: the only way a source file enters the program.

#include "app/ui/Form1.h"
#include "selection/MarkerTrack.h"
#include "state/TimeText.h"

#include <QScopeGuard>

namespace morvane {

void Form1::Command4_Click()
{
    try {
        mp_mystop();
        showPlayCaption();
        T->stop();
        Cdlg.Filter = QStringLiteral("VOB Files (*.vob)|*.vob|All Files (*.*)|*.*");
        Cdlg.ShowOpen(); // a cancel leaves the previous file loaded, stopped

        H->setValue(0);
        mp_myclose();
        Label7->setText(ResetText);
        Label9->setText(ResetText);
        Label3->setText(ResetText);
        state.StartSecond = 0;
        state.EndSecond = 0;
        {
            // The player runs window events while it loads; nothing may start
            // another Open or act on the half-open file in that time.
            setEditingEnabled(false);
            const auto unlock = qScopeGuard([this] {
                if (!unloaded_)
                    setEditingEnabled(true);
            });
            try {
                player_.setFileName(Cdlg.FileName);
            } catch (const PlayerError &e) {
                if (!unloaded_) // closed while loading: the program is ending
                    dialogs_.message(QStringLiteral("Cannot play \"%1\".\n%2").arg(Cdlg.FileName, QString::fromUtf8(e.what())));
                return;
            }
        }
        if (unloaded_)
            return;
        state.SourceFile = Cdlg.FileName;
        Cdlg.FileName = QString();
        mp_myopen();
        showPauseCaption();
        T->start();

        H->setMaximum(RoundSeconds(player_.duration()));
        if (H->maximum() == 0)
            return; // a file without length: no scale, and the lines stay where they were
        state.MarkScale = markScale(H->maximum());
        Line1->setX1(StartLineOffset);
        Line1->setX2(StartLineOffset);
        Line2->setX1(TrackEnd);
        Line2->setX2(TrackEnd);
    } catch (const DialogCancelled &) {
        // The previous file stays loaded, stopped.
    } catch (const std::exception &e) {
        // The player refused to start, or the duration is out of range: what
        // was done stays done.
        endQuietly("Open", e);
    }
}

} // namespace morvane
