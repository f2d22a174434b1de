#pragma once
// MediaPlayer on Qt Multimedia (GStreamer back end).
//
// Positions are reported from the first frame of the file: MPEG program
// streams, and above all VOBs cut out of a longer title, start at an arbitrary
// timestamp, which GStreamer passes through. The player remembers where the
// file starts and hides that offset, so a freshly opened or rewound file
// reads exactly 0 and one that has played to its end reads exactly duration().

#include "playback/MediaPlayer.h"

#include <QMediaPlayer>
#include <QString>

#include <functional>

class QAudioOutput;
class QObject;

namespace morvane {

class QtMediaPlayer final : public MediaPlayer {
public:
    // videoOutput: a QVideoWidget, QGraphicsVideoItem or QVideoSink, or null
    // for a player without a picture (tests, the command-line tool). Sound is
    // only attached with a video output and an audio device present.
    explicit QtMediaPlayer(QObject *videoOutput = nullptr);
    ~QtMediaPlayer() override;

    QtMediaPlayer(const QtMediaPlayer &) = delete;
    QtMediaPlayer &operator=(const QtMediaPlayer &) = delete;

    // Blocks (running the event loop) until the duration is known, for at
    // most loadTimeoutMs; throws PlayerError when the file is refused.
    void setFileName(const QString &path) override;
    void pause() override;
    void play() override;
    // Harmless without a file: closing is also the teardown path.
    void close() override;
    double duration() override;
    double currentPosition() override;
    void seek(double seconds) override;

    bool isOpen() const { return !m_path.isEmpty(); }
    QString fileName() const { return m_path; }

    static constexpr int loadTimeoutMs = 8000;

private:
    void requireOpen(const char *operation) const;
    bool waitFor(const std::function<bool()> &done, int timeoutMs);

    QMediaPlayer *m_player = nullptr;
    QAudioOutput *m_audio = nullptr;
    QString m_path;
    qint64 m_originMs = 0;      // backend position of the file's first frame
    qint64 m_seekTargetMs = -1; // backend position the last seek asked for
    double m_seekSeconds = 0;   // ... and the seconds it was asked in
};

// Opens path with a player without picture or sound and returns its duration
// in seconds; throws PlayerError when it cannot be played. Works without a
// GUI: creates a QCoreApplication for the call if the process has none.
double readDuration(const QString &path);

} // namespace morvane
