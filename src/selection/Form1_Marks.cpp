// Mark Start and Mark End: the mark comes from the player's position, the
// line from the slider value the last tick wrote.

#include "app/ui/Form1.h"
#include "selection/MarkerTrack.h"
#include "state/TimeText.h"

#include <algorithm>
#include <cmath>

namespace morvane {

void Form1::Command5_Click() { markClicked(Line1, StartLineOffset, state.StartSecond, state.StartChapter, Label7); }

void Form1::Command6_Click() { markClicked(Line2, EndLineOffset, state.EndSecond, state.EndChapter, Label9); }

void Form1::markClicked(MarkerLine *line, int offset, std::int32_t &mark, int &chapter, ReadOut *readOut)
{
    if (!state.fileOpen())
        return;
    const float x = float(markerX(offset, H->value(), H->maximum()));
    line->setX1(x);
    line->setX2(x);
    try {
        const double position = player_.currentPosition();
        mark = RoundSeconds(position);
        // A mark taken where a chapter jump put the player: a precise cut
        // then starts or ends at that chapter's own first VOBU, which the
        // whole second alone may miss by one.
        // The player may stand a frame or two off the start it was sent to.
        const auto near = [position](double start) { return std::abs(position - start) < 0.1; };
        const auto found = std::find_if(state.ChapterSeconds.cbegin(), state.ChapterSeconds.cend(), near);
        chapter = found == state.ChapterSeconds.cend() ? -1 : int(found - state.ChapterSeconds.cbegin());
        if (chapter < 0 && state.Title > 0 && near(player_.duration()))
            chapter = int(state.ChapterSeconds.size());
        readOut->setText(FormatHms(mark));
        if (state.selectionValid())
            Label3->setText(FormatHms(state.EndSecond - state.StartSecond));
        else
            Label3->setText(ResetText);
    } catch (const std::exception &e) {
        // The player gave no usable position: the line has moved and stays.
        endQuietly("Mark", e);
    }
}

} // namespace morvane
