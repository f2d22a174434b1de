#include "playback/media/QtMediaPlayer.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QMediaDevices>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <memory>

namespace morvane {

namespace {

// Qt 6.4's FFmpeg back end crashes on machines without an audio device;
// GStreamer plays DVD program streams fine everywhere.
void preferGStreamer()
{
    if (!qEnvironmentVariableIsSet("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "gstreamer");
}

[[noreturn]] void fail(const QString &message)
{
    throw PlayerError(message.toStdString());
}

} // namespace

QtMediaPlayer::QtMediaPlayer(QObject *videoOutput)
{
    preferGStreamer();
    m_player = new QMediaPlayer;
    if (videoOutput) {
        m_player->setVideoOutput(videoOutput);
        // Without a device GStreamer's audio sink only logs failures; the
        // picture is clocked by the video sink either way.
        if (!QMediaDevices::audioOutputs().isEmpty()) {
            m_audio = new QAudioOutput(m_player);
            m_player->setAudioOutput(m_audio);
        }
    }
}

QtMediaPlayer::~QtMediaPlayer()
{
    delete m_player;
}

void QtMediaPlayer::requireOpen(const char *operation) const
{
    if (m_path.isEmpty())
        fail(QStringLiteral("Cannot %1: no file is open").arg(QLatin1String(operation)));
}

bool QtMediaPlayer::waitFor(const std::function<bool()> &done, int timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    const auto check = [&] {
        if (done())
            loop.quit();
    };
    QObject::connect(m_player, &QMediaPlayer::mediaStatusChanged, &loop, check);
    QObject::connect(m_player, &QMediaPlayer::durationChanged, &loop, check);
    QObject::connect(m_player, &QMediaPlayer::errorOccurred, &loop, check);
    timer.start(timeoutMs);
    loop.exec();
    return done();
}

void QtMediaPlayer::setFileName(const QString &path)
{
    if (path.isEmpty())
        fail(QStringLiteral("No file name given"));
    const QFileInfo info(path);
    // The back end reports a missing file only as a generic state-change
    // failure, so name the common causes here.
    if (!info.exists())
        fail(QStringLiteral("File not found: %1").arg(path));
    if (!info.isFile())
        fail(QStringLiteral("Not a file: %1").arg(path));
    if (!info.isReadable())
        fail(QStringLiteral("File cannot be read: %1").arg(path));
    const QString absolute = info.absoluteFilePath();

    // Naming the open file again only rewinds it; reloading would blank the
    // picture for nothing.
    if (absolute == m_path && m_player->duration() > 0
        && m_player->mediaStatus() != QMediaPlayer::InvalidMedia) {
        m_player->stop();
        m_seekTargetMs = -1;
        return;
    }

    close();
    QString reason;
    bool refused = false;
    const auto errors = QObject::connect(
        m_player, &QMediaPlayer::errorOccurred, m_player,
        [&](QMediaPlayer::Error, const QString &text) {
            refused = true;
            if (reason.isEmpty())
                reason = text; // later messages are generic follow-ups
        });
    m_player->setSource(QUrl::fromLocalFile(absolute));
    const auto loaded = [&] {
        const auto status = m_player->mediaStatus();
        return m_player->duration() > 0
               && (status == QMediaPlayer::LoadedMedia || status == QMediaPlayer::BufferedMedia);
    };
    bool inTime = waitFor([&] {
        return refused || m_player->mediaStatus() == QMediaPlayer::InvalidMedia || loaded();
    }, loadTimeoutMs);
    // The pipeline is shared between sources, and the trailing error of a
    // file refused just before can still arrive and mark this one invalid
    // too; a good file then loads regardless. Waiting a moment tells the
    // two apart, and for a bad file it lets its own trailing errors drain.
    if (inTime && !loaded())
        inTime = waitFor(loaded, 300) || refused
                 || m_player->mediaStatus() == QMediaPlayer::InvalidMedia;
    QObject::disconnect(errors);

    if (!inTime || !loaded()) {
        if (reason.isEmpty())
            reason = inTime ? QStringLiteral("not a playable media file")
                            : QStringLiteral("no duration after %1 s").arg(loadTimeoutMs / 1000);
        m_player->setSource(QUrl());
        fail(QStringLiteral("Cannot play %1: %2").arg(path, reason));
    }
    m_originMs = m_player->position();
    m_path = absolute;
}

void QtMediaPlayer::pause()
{
    requireOpen("pause");
    if (m_player->playbackState() == QMediaPlayer::PlayingState)
        m_player->pause();
    else
        m_player->play(); // paused or stopped: carry on from where it stands
}

void QtMediaPlayer::play()
{
    requireOpen("play");
    m_seekTargetMs = -1;
    m_player->stop();
    // stop() rewinds a played file but leaves a seek made while stopped.
    if (m_player->position() > m_originMs)
        m_player->setPosition(m_originMs);
    m_player->play();
}

void QtMediaPlayer::close()
{
    m_player->stop();
    m_player->setSource(QUrl());
    m_path.clear();
    m_originMs = 0;
    m_seekTargetMs = -1;
}

double QtMediaPlayer::duration()
{
    requireOpen("read the duration");
    return m_player->duration() / 1000.0;
}

double QtMediaPlayer::currentPosition()
{
    requireOpen("read the position");
    const qint64 durationMs = m_player->duration();
    // At the end the back end's clock stands wherever the last packet ended,
    // which may be short of or past the duration it reported.
    if (m_player->mediaStatus() == QMediaPlayer::EndOfMedia)
        return durationMs / 1000.0;
    const qint64 positionMs = m_player->position();
    if (m_seekTargetMs >= 0 && positionMs == m_seekTargetMs)
        return m_seekSeconds; // not moved since the seek: give back what was asked
    return std::clamp(positionMs - m_originMs, qint64(0), durationMs) / 1000.0;
}

void QtMediaPlayer::seek(double seconds)
{
    requireOpen("seek");
    if (!std::isfinite(seconds))
        fail(QStringLiteral("Cannot seek to %1").arg(seconds));
    const double target = std::clamp(seconds, 0.0, duration());
    const qint64 targetMs = m_originMs + std::llround(target * 1000.0);
    m_player->setPosition(targetMs);
    m_seekTargetMs = targetMs;
    m_seekSeconds = target;
}

double readDuration(const QString &path)
{
    // Qt Multimedia needs an application object for its event dispatch.
    static int argc = 1;
    static char name[] = "morvane";
    static char *argv[] = {name, nullptr};
    std::unique_ptr<QCoreApplication> ownApp;
    if (!QCoreApplication::instance())
        ownApp = std::make_unique<QCoreApplication>(argc, argv);

    QtMediaPlayer player;
    player.setFileName(path);
    const double seconds = player.duration();
    if (!(seconds > 0))
        fail(QStringLiteral("Cannot play %1: it has no duration").arg(path));
    return seconds;
}

} // namespace morvane
