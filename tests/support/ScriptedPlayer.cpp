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

void ScriptedPlayer::fail(const QString &op) const
{
    if (failing.contains(op))
        throw PlayerError(op.toStdString() + " failed");
}

void ScriptedPlayer::requireFile(const QString &op) const
{
    fail(op);
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
    fail(QStringLiteral("FileName"));
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
    requireFile(QStringLiteral("Pause"));
    settle();
    if (state_ == State::Playing || state_ == State::Paused)
        state_ = state_ == State::Playing ? State::Paused : State::Playing;
}

void ScriptedPlayer::play()
{
    calls << QStringLiteral("Play");
    requireFile(QStringLiteral("Play"));
    base_ = 0;
    state_ = State::Playing;
    clock_.restart();
}

void ScriptedPlayer::close()
{
    calls << QStringLiteral("Close");
    fail(QStringLiteral("Close"));
    state_ = State::Closed;
    fileName_.clear();
    base_ = 0;
}

double ScriptedPlayer::duration()
{
    calls << QStringLiteral("Duration");
    requireFile(QStringLiteral("Duration"));
    return duration_;
}

double ScriptedPlayer::currentPosition()
{
    calls << QStringLiteral("CurrentPosition");
    requireFile(QStringLiteral("CurrentPosition"));
    settle();
    return base_;
}

void ScriptedPlayer::seek(double seconds)
{
    calls << QStringLiteral("Seek(%1)").arg(seconds);
    requireFile(QStringLiteral("Seek"));
    settle();
    base_ = std::clamp(seconds, 0.0, duration_);
}

} // namespace morvane::test
