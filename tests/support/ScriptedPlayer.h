#pragma once
// A player without media, on a scripted clock.

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

    QHash<QString, double> durations; // by path; else 100 s
    QSet<QString> refused;            // setFileName throws
    double step = 0;                  // per read while playing, up to the end
    std::function<void(double)> onRead;
    std::function<void()> whileLoading; // once, inside setFileName, as loading does

    QStringList commands; // not reads
    State state = State::Closed;
    double position = 0; // before a read's step

    using MediaPlayer::setFileName;
    void setFileName(const QStringList &files) override; // parts as "a + b"
    void setTitle(const QByteArray &discPath, int number) override
    {
        setFileName(QString("%1#%2").arg(QString::fromUtf8(discPath)).arg(number));
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
        commands << "Close";
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
        command(QString("Seek(%1)").arg(seconds));
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
