#pragma once
// The real player's picture, read from the frames its video sink is given.

#include "playback/media/QtMediaPlayer.h"
#include "support/Files.h"

#include <QVideoFrame>
#include <QVideoSink>
#include <QtTest>
#include <functional>
#include <vector>

namespace morvane::test {

// Second 0 of a test file, as make-test-media lists it: the time of its first picture.
inline double startOf(const QString &name)
{
    for (const QByteArray &line : readFile(media("start-times.txt")).split('\n'))
        if (line.startsWith(name.toUtf8() + ' '))
            return line.mid(name.size() + 1).toDouble();
    return -1;
}

constexpr double anywhere = -1;

struct Step {
    const char *what;
    std::function<void()> act;
    double at; // where it puts the picture and the position, or anywhere
    bool running;
};

// After each step and a moment later, the picture within two frames of the position; running, it moves on.
inline void followSteps(const std::vector<Step> &steps, const QVideoSink &sink, double origin, QtMediaPlayer &player)
{
    const double frame = 0.04;
    const auto picture = [&] { return sink.videoFrame().startTime() / 1e6 - origin; };
    for (const Step &step : steps) {
        step.act();
        QTest::qWait(500);
        const double shown = picture();
        const double at = player.currentPosition();
        QTest::qWait(400);
        const double later = picture();
        const double laterAt = player.currentPosition();
        const QByteArray values =
            QString::asprintf("%s: picture %g s at %g s, then %g s at %g s", step.what, shown, at, later, laterAt)
                .toUtf8();
        QVERIFY2(qAbs(shown - at) <= 2 * frame && qAbs(later - laterAt) <= 2 * frame, values);
        QVERIFY2(step.at == anywhere || (qAbs(shown - step.at) <= frame / 2 && at == step.at), values);
        QVERIFY2(step.running ? later - shown >= 0.2 : later == shown && laterAt == at, values);
    }
}

} // namespace morvane::test
