#include "support/ScriptedPlayer.h"

#include <utility>

namespace morvane::test {

void ScriptedPlayer::setFileName(const QStringList &files)
{
    const QString path = files.join(" + ");
    commands << QString("FileName(%1)").arg(path);
    if (const auto events = std::exchange(whileLoading, nullptr))
        events();
    state = refused.contains(path) ? State::Closed : State::Stopped;
    if (state == State::Closed)
        throw PlayerError("the file is not a playable video");
    duration_ = durations.value(path, 100.0);
    position = 0;
}

double ScriptedPlayer::currentPosition()
{
    requireFile();
    if (state == State::Playing) {
        position = std::min(duration_, position + step);
        if (position >= duration_)
            state = State::Stopped; // at the end, as the real one
    }
    if (onRead)
        onRead(position);
    return position;
}

} // namespace morvane::test
