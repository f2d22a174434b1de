#pragma once
// The seven operations the window needs from a media player. Everything else
// (demultiplexing, decoding, output) belongs to the implementation.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <stdexcept>

namespace morvane {

// A player operation that could not be carried out.
class PlayerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class MediaPlayer {
public:
    virtual ~MediaPlayer() = default;

    // Opens what play() will start: one file, or the parts of a DVD title
    // played one after another as one stream. Throws PlayerError when it
    // cannot be played.
    virtual void setFileName(const QStringList &files) = 0;
    void setFileName(const QString &path) { setFileName(QStringList{path}); }
    // Opens title number of the DVD whose folder discPath names, holds or
    // lies in (bytes, as the file system has them). Positions, seeks and the
    // duration are then in title time. Throws PlayerError.
    virtual void setTitle(const QByteArray &discPath, int number) = 0;
    // Pauses a playing file; resumes a paused one where it stands.
    virtual void pause() = 0;
    // Plays the named file from its beginning.
    virtual void play() = 0;
    virtual void close() = 0;
    // Seconds. duration() is above 0 once a playable file is open;
    // currentPosition() equals duration() once playback ran to the end.
    virtual double duration() = 0;
    virtual double currentPosition() = 0;
    // Afterwards currentPosition() reads the new position.
    virtual void seek(double seconds) = 0;
};

} // namespace morvane
