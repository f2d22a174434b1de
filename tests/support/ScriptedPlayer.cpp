#include "support/ScriptedPlayer.h"

#include <algorithm>
#include <utility>

namespace morvane::test {

void ScriptedPlayer::requireFile() const
{
    if (state_ == State::Closed)
        throw PlayerError("no file is open");
}

void ScriptedPlayer::setFileName(const QStringList &files)
{
    const QString path = files.join(QStringLiteral(" + "));
    commands << QStringLiteral("FileName(%1)").arg(path);
    if (const auto events = std::exchange(whileLoading, nullptr))
        events();
    state_ = refused.contains(path) ? State::Closed : State::Stopped;
    if (state_ == State::Closed)
        throw PlayerError("the file is not a playable video");
    fileName_ = path;
    duration_ = durations.value(path, defaultDuration);
    position_ = 0;
}

void ScriptedPlayer::setTitle(const QByteArray &discPath, int number)
{
    setFileName(QStringLiteral("%1#%2").arg(QString::fromUtf8(discPath)).arg(number));
}

void ScriptedPlayer::pause()
{
    commands << QStringLiteral("Pause");
    requireFile();
    if (state_ == State::Playing || state_ == State::Paused)
        state_ = state_ == State::Playing ? State::Paused : State::Playing;
}

void ScriptedPlayer::play()
{
    commands << QStringLiteral("Play");
    requireFile();
    position_ = 0;
    state_ = State::Playing;
}

void ScriptedPlayer::close()
{
    commands << QStringLiteral("Close");
    state_ = State::Closed;
    fileName_.clear();
    position_ = 0;
}

double ScriptedPlayer::duration()
{
    requireFile();
    return duration_;
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

void ScriptedPlayer::seek(double seconds)
{
    commands << QStringLiteral("Seek(%1)").arg(seconds);
    requireFile();
    position_ = std::clamp(seconds, 0.0, duration_);
}

} // namespace morvane::test
