#include "support/ScriptedPlayer.h"

#include <utility>

namespace morvane::test {

void ScriptedPlayer::setFileName(const QStringList &files)
{
    const QString path = files.join(QStringLiteral(" + "));
    commands << QStringLiteral("FileName(%1)").arg(path);
    if (const auto events = std::exchange(whileLoading, nullptr))
        events();
    state_ = refused.contains(path) ? State::Closed : State::Stopped;
    if (state_ == State::Closed)
        throw PlayerError("the file is not a playable video");
    duration_ = durations.value(path, 100.0);
    position_ = 0;
}

double ScriptedPlayer::currentPosition()
{
    requireFile();
    if (state_ == State::Playing) {
        position_ = std::min(duration_, position_ + step);
        if (position_ >= duration_)
            state_ = State::Stopped; // played to the end: stops there
    }
    if (onRead)
        onRead(position_);
    return position_;
}

} // namespace morvane::test
