#pragma once
// A player without media, on a scripted clock, that records its commands.

#include "playback/MediaPlayer.h"

#include <QHash>
#include <QSet>
#include <QStringList>
#include <algorithm>
#include <functional>

namespace morvane::test {

class ScriptedPlayer : public MediaPlayer {
public:
    enum class State { Closed, Stopped, Playing, Paused };

    QHash<QString, double> durations;   // what setFileName reports for a path; 100 s for others
    QSet<QString> refused;              // setFileName throws for these
    double step = 0;                    // each read while playing moves on by this first, stopping at the end
    std::function<void(double)> onRead; // sees the position each read returns
    std::function<void()> whileLoading; // runs once inside the next setFileName, as the real player loads

    QStringList commands; // e.g. "FileName(/a.vob)", "Play", "Seek(0)"; not reads
    State state = State::Closed;
    double position = 0; // without the step of a read

    using MediaPlayer::setFileName;
    void setFileName(const QStringList &files) override;           // a title's parts are named as "a + b"
    void setTitle(const QByteArray &discPath, int number) override // named as "path#number"
    {
        setFileName(QStringLiteral("%1#%2").arg(QString::fromUtf8(discPath)).arg(number));
    }
    void pause() override
    {
        command("Pause");
        if (state != State::Stopped)
            state = state == State::Playing ? State::Paused : State::Playing;
    }
    void play() override
    {
        command("Play");
        position = 0;
        state = State::Playing;
    }
    void close() override
    {
        commands << QStringLiteral("Close");
        state = State::Closed;
        position = 0;
    }
    double duration() override
    {
        requireFile();
        return duration_;
    }
    double currentPosition() override;
    void seek(double seconds) override
    {
        command(QStringLiteral("Seek(%1)").arg(seconds));
        position = std::clamp(seconds, 0.0, duration_);
    }

private:
    void requireFile() const
    {
        if (state == State::Closed)
            throw PlayerError("no file is open");
    }
    void command(const QString &name) // recorded even when refused
    {
        commands << name;
        requireFile();
    }

    double duration_ = 0;
};

} // namespace morvane::test
