// Play Selected: plays the marked range once. The handler stays in a polling
// loop that lets window events run, so Pause, Stop, Mark End and even another
// Play Selected work while it runs; the caption of Play/Pause is its stop
// signal.

#include "app/ui/Form1.h"
#include "state/TimeText.h"

namespace morvane {

void Form1::Command9_Click()
{
    const std::int32_t start = state.StartSecond;
    if (!state.selectionValid()) {
        dialogs_.message(QStringLiteral("Wrong Selection"));
        return;
    }
    if (!state.fileOpen())
        return;
    try {
        mp_myplay();
        showPauseCaption();
        player_.seek(double(start));
        T->start();

        for (;;) {
            letEventsRunFor(200);
            if (unloaded_)
                return; // the program is ending; the player is closed
            if (captionSaysPlay())
                break;
            Label4->setText(FormatHms(H->value()));
            // The end mark is read on every pass: Mark End moves the stop.
            if (!(player_.currentPosition() < double(state.EndSecond)))
                break;
        }
        mp_mypause();
        T->stop();
        showPlayCaption();
    } catch (const std::exception &e) {
        // Ends where it failed; the player may go on playing.
        endQuietly("Play Selected", e);
    }
}

} // namespace morvane
