// Open: the only way a source file enters the program.

#include "app/ui/Form1.h"
#include "selection/MarkerTrack.h"
#include "state/TimeText.h"

namespace morvane {

void Form1::Command4_Click()
{
    try {
        mp_mystop();
        Command1->setText(QStringLiteral("Play"));
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
        try {
            player_.setFileName(Cdlg.FileName);
        } catch (const PlayerError &e) {
            dialogs_.message(QStringLiteral("Cannot play \"%1\".\n%2").arg(Cdlg.FileName, QString::fromUtf8(e.what())));
            return;
        }
        state.SourceFile = Cdlg.FileName;
        Cdlg.FileName = QString();
        mp_myopen();
        Command1->setText(QStringLiteral("Pause"));
        T->start();

        H->setMaximum(RoundSeconds(player_.duration()));
        state.MarkScale = markScale(H->maximum()); // a file without length ends here
        Line1->setX1(StartLineOffset);
        Line1->setX2(StartLineOffset);
        Line2->setX1(TrackEnd);
        Line2->setX2(TrackEnd);
    } catch (const std::exception &) {
        // Ends quietly; what was done stays done.
    }
}

} // namespace morvane
