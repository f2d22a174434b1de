#pragma once
// MediaPlayer on Qt Multimedia (GStreamer back end).
//
// Positions are reported from the file's first presentation time: MPEG
// program streams, and above all VOBs cut out of a longer title, start at an
// arbitrary timestamp, which GStreamer passes through. The player measures
// where the file starts and hides that offset everywhere, so a freshly
// opened, stopped or rewound file reads exactly 0, a seek to 0 shows the first
// picture, and a file that has played to its end reads exactly duration().

#include "playback/MediaPlayer.h"

#include <QMediaPlayer>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QObject;
class QTemporaryDir;
class QUrl;

namespace morvane {

class ServedTitle;

class QtMediaPlayer final : public MediaPlayer {
public:
    // videoOutput: a QVideoWidget, QGraphicsVideoItem or QVideoSink, or null
    // for a player without a picture (tests, the command-line tool). Sound is
    // only attached with a video output and an audio device present; the
    // back end clocks the picture by the system clock either way.
    explicit QtMediaPlayer(QObject *videoOutput = nullptr);
    ~QtMediaPlayer() override;

    QtMediaPlayer(const QtMediaPlayer &) = delete;
    QtMediaPlayer &operator=(const QtMediaPlayer &) = delete;

    // Blocks (running the event loop) until the duration is known, for at
    // most loadTimeoutMs; throws PlayerError, whose text is the reason alone,
    // when the file is refused. Naming the open file again rewinds it, even
    // if it was renamed or moved since it was opened.
    // A title plays through a private folder of links to its parts, which
    // the back end's split-file source reads as one stream.
    using MediaPlayer::setFileName;
    void setFileName(const QStringList &files) override;
    // A title plays from the engine's title stream through a source element
    // of this process (TitleSource.h); its time stamps run on across VOB IDs
    // from the title's first one, which is second 0.
    void setTitle(const QByteArray &discPath, int number) override;
    void pause() override;
    void play() override;
    // Harmless without a file: closing is also the teardown path.
    void close() override;
    double duration() override;
    double currentPosition() override;
    void seek(double seconds) override;

    bool isOpen() const { return !m_path.isEmpty(); }

    static constexpr int loadTimeoutMs = 8000;

private:
    void requireOpen(const char *operation) const;
    void attachVideoOutput();
    bool waitFor(const std::function<bool()> &done, int timeoutMs);
    // Sets source and waits until it is loaded; throws PlayerError.
    void load(const QUrl &source);
    bool rewindIfOpen(const QString &path);
    qint64 durationMs() const;

    std::unique_ptr<QMediaPlayer> m_player;
    QPointer<QObject> m_videoOutput;
    std::unique_ptr<QTemporaryDir> m_titleLinks; // while a title of parts is open
    std::unique_ptr<ServedTitle> m_title;        // while a DVD title is open
    qint64 m_titleDurationMs = 0;                // its duration from its tables and NAV packs
    QString m_path;                              // the open file, or a title's parts one per line
    qint64 m_originMs = 0;                       // backend position of the file's first picture
    qint64 m_seekTargetMs = -1;                  // backend position the last seek asked for
    double m_seekSeconds = 0;                    // ... and the seconds it was asked in
};

// Opens the files (one, or a title's parts) with a player without picture or
// sound and returns the duration in seconds; throws PlayerError when they
// cannot be played. Works without a GUI: creates a QCoreApplication for the
// call if the process has none.
double readDuration(const QStringList &files);
inline double readDuration(const QString &path) { return readDuration(QStringList{path}); }

} // namespace morvane
