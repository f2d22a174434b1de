#include "support/ScriptedPlayer.h"

#include <algorithm>

namespace morvane::test {

QStringList ScriptedPlayer::commands() const
{
    QStringList out = calls;
    out.removeAll(QStringLiteral("Duration"));
    out.removeAll(QStringLiteral("CurrentPosition"));
    return out;
}

void ScriptedPlayer::requireFile() const
{
    if (state_ == State::Closed)
        throw PlayerError("no file is open");
}

double ScriptedPlayer::position() const
{
    const double moved = state_ == State::Playing ? speed * clock_.elapsed() / 1000.0 : 0;
    return std::min(duration_, base_ + moved);
}

void ScriptedPlayer::settle()
{
    base_ = position();
    clock_.restart();
    if (state_ == State::Playing && base_ >= duration_)
        state_ = State::Stopped; // played to the end: stops there
}

void ScriptedPlayer::setPosition(double seconds)
{
    base_ = seconds;
    settle();
}

void ScriptedPlayer::setFileName(const QString &path)
{
    calls << QStringLiteral("FileName(%1)").arg(path);
    state_ = refused.contains(path) ? State::Closed : State::Stopped;
    if (state_ == State::Closed)
        throw PlayerError("the file is not a playable video");
    fileName_ = path;
    duration_ = durations.value(path, defaultDuration);
    base_ = 0;
}

void ScriptedPlayer::pause()
{
    calls << QStringLiteral("Pause");
    requireFile();
    settle();
    if (state_ == State::Playing || state_ == State::Paused)
        state_ = state_ == State::Playing ? State::Paused : State::Playing;
}

void ScriptedPlayer::play()
{
    calls << QStringLiteral("Play");
    requireFile();
    base_ = 0;
    state_ = State::Playing;
    clock_.restart();
}

void ScriptedPlayer::close()
{
    calls << QStringLiteral("Close");
    state_ = State::Closed;
    fileName_.clear();
    base_ = 0;
}

double ScriptedPlayer::duration()
{
    calls << QStringLiteral("Duration");
    requireFile();
    return duration_;
}

double ScriptedPlayer::currentPosition()
{
    calls << QStringLiteral("CurrentPosition");
    requireFile();
    settle();
    return base_;
}

void ScriptedPlayer::seek(double seconds)
{
    calls << QStringLiteral("Seek(%1)").arg(seconds);
    requireFile();
    settle();
    base_ = std::clamp(seconds, 0.0, duration_);
}

} // namespace morvane::test
