#pragma once
// A player without media, on a scripted clock, that records its commands.

#include "playback/MediaPlayer.h"

#include <QHash>
#include <QSet>
#include <QStringList>
#include <functional>

namespace morvane::test {

class ScriptedPlayer : public MediaPlayer {
public:
    enum class State { Closed, Stopped, Playing, Paused };

    // What setFileName reports for a path; unknown paths get defaultDuration.
    QHash<QString, double> durations;
    double defaultDuration = 100.0;
    QSet<QString> refused; // setFileName throws for these
    // Each position read while playing first moves on by step seconds, stopping at the end.
    double step = 0;
    std::function<void(double)> onRead; // sees the position each read returns
    // Window events that run once inside the next setFileName, as while the real player loads.
    std::function<void()> whileLoading;

    // Every command, e.g. "FileName(/a.vob)", "Play", "Seek(0)"; not reads.
    QStringList commands;

    State state() const { return state_; }
    QString fileName() const { return fileName_; }
    double position() const { return position_; } // without the step of a read
    void setPosition(double seconds) { position_ = seconds; }

    using MediaPlayer::setFileName;
    void setFileName(const QStringList &files) override;            // a title's parts are named as "a + b"
    void setTitle(const QByteArray &discPath, int number) override; // named as "path#number"
    void pause() override;
    void play() override;
    void close() override;
    double duration() override;
    double currentPosition() override;
    void seek(double seconds) override;

private:
    void requireFile() const;

    State state_ = State::Closed;
    QString fileName_;
    double duration_ = 0;
    double position_ = 0;
};

} // namespace morvane::test
