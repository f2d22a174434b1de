// The refresh timer and the slider: the slider value is the running
// position in whole seconds, and only the user's click on it seeks.

#include "app/ui/Form1.h"
#include "selection/MarkerTrack.h"
#include "state/TimeText.h"

namespace morvane {

void Form1::T_Timer()
{
    try {
        H->setValue(RoundSeconds(player_.currentPosition()));
        Label4->setText(FormatHms(H->value()));
        if (H->value() == H->maximum()) {
            // The end is seen as soon as the position rounds to it;
            // IsPlaying stays as it is.
            showPlayCaption();
            T->stop();
        }
    } catch (const std::exception &e) {
        // No position to show this second; the next tick tries again.
        endQuietly("Refresh", e);
    }
}

bool Form1::takeDuration()
{
    H->setMaximum(RoundSeconds(player_.duration()));
    if (H->maximum() == 0)
        return false;
    state.MarkScale = markScale(H->maximum());
    return true;
}

void Form1::H_Click()
{
    try {
        player_.seek(double(H->value()));
    } catch (const std::exception &e) {
        // No file, or the player refused: the slider just stays where it is.
        endQuietly("Slider", e);
    }
}

void Form1::H_MouseDown()
{
    // Keep the ticks from moving the thumb while the user holds it.
    T->stop();
}

void Form1::H_MouseUp()
{
    if (state.IsPlaying != False)
        T->start();
}

} // namespace morvane
