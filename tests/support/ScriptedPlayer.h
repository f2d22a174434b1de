#pragma once
// A player without media: tests set what it reports and read back the
// commands it was given, in order.

#include "playback/MediaPlayer.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QStringList>

namespace morvane::test {

class ScriptedPlayer : public MediaPlayer {
public:
    enum class State { Closed, Stopped, Playing, Paused };

    // What setFileName reports for a path; unknown paths get defaultDuration.
    QHash<QString, double> durations;
    double defaultDuration = 100.0;
    QSet<QString> refused;            // setFileName throws for these
    double speed = 0.0;               // media seconds per wall-clock second while playing;
                                      // 0 keeps the position where tests put it

    // Every call, e.g. "FileName(/a.vob)", "Play", "Seek(0)", "Duration".
    QStringList calls;
    // The calls that change the player: no Duration or CurrentPosition.
    QStringList commands() const;
    void clearCalls() { calls.clear(); }

    State state() const { return state_; }
    QString fileName() const { return fileName_; }
    // Moves the media position as if playback had got there.
    void setPosition(double seconds);

    void setFileName(const QString &path) override;
    void pause() override;
    void play() override;
    void close() override;
    double duration() override;
    double currentPosition() override;
    void seek(double seconds) override;

private:
    void requireFile() const;
    double position() const;
    void settle(); // turns elapsed playing time into position

    State state_ = State::Closed;
    QString fileName_;
    double duration_ = 0;
    double base_ = 0;
    QElapsedTimer clock_;
};

} // namespace morvane::test
