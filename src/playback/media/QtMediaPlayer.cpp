#include "playback/media/QtMediaPlayer.h"

#include "files/engine/FileName.h"
#include "files/engine/TitleStream.h"
#include "playback/media/ProgramStreamSeek.h"
#include "playback/media/TitleSource.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMediaDevices>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane {

namespace {

// A freshly loaded file may not have shown its first picture yet, and until it
// has the back end reads position 0 whatever the file's first timestamp; with
// a video widget that can take over a second.
constexpr int originWaitMs = 1000;

// Qt 6.4's FFmpeg back end crashes on machines without an audio device;
// GStreamer plays DVD program streams fine everywhere.
void preferGStreamer()
{
    if (!qEnvironmentVariableIsSet("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "gstreamer");
}

[[noreturn]] void fail(QString reason)
{
    // The caller names the file; the text is the reason as one sentence.
    if (!reason.endsWith(QLatin1Char('.')))
        reason += QLatin1Char('.');
    throw PlayerError(reason.toStdString());
}

[[noreturn]] void failErrno(int error) { fail(QString::fromLocal8Bit(std::strerror(error))); }

// The back end reports a missing or unreadable file only as a generic
// state-change failure, so ask the system first.
void requirePlayableFile(const QString &path)
{
    try {
        requireReadableFile(QFile::encodeName(path));
    } catch (const UnreadableFile &e) {
        fail(QString::fromUtf8(e.what()));
    }
}

// The back end's split-file source takes a pattern, and VTS_01_*.VOB would
// also take the menu file VTS_01_0.VOB; a private folder of links to exactly
// the parts, named in their order, leaves nothing to match by mistake.
std::unique_ptr<QTemporaryDir> linkParts(const QStringList &parts)
{
    auto folder = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/morvane-title-XXXXXX"));
    if (!folder->isValid())
        fail(QStringLiteral("No folder for the title's links: %1").arg(folder->errorString()));
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QByteArray link = QFile::encodeName(folder->filePath(QStringLiteral("%1.VOB").arg(i + 1)));
        if (::symlink(QFile::encodeName(parts[i]).constData(), link.constData()) != 0)
            failErrno(errno);
    }
    return folder;
}

} // namespace

QtMediaPlayer::QtMediaPlayer(QObject *videoOutput) : m_videoOutput(videoOutput)
{
    preferGStreamer();
    installProgramStreamSeek(); // without it seeks still work, only less exactly
    installTitleSource();
    m_player = std::make_unique<QMediaPlayer>();
    // Qt's pipeline runs on the system clock whether or not it has an audio
    // sink, so without a device there is nothing to attach.
    if (videoOutput && !QMediaDevices::audioOutputs().isEmpty())
        m_player->setAudioOutput(new QAudioOutput(m_player.get()));
}

QtMediaPlayer::~QtMediaPlayer() = default;

qint64 QtMediaPlayer::durationMs() const
{
    // A title's is the time its NAV packs span, not the demuxer's estimate
    // from the stream's last time stamps.
    return m_title ? m_titleDurationMs : m_player->duration();
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
    QTimer timeout, poll;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    const auto check = [&] {
        if (done())
            loop.quit();
    };
    QObject::connect(m_player.get(), &QMediaPlayer::mediaStatusChanged, &loop, check);
    QObject::connect(m_player.get(), &QMediaPlayer::durationChanged, &loop, check);
    QObject::connect(m_player.get(), &QMediaPlayer::errorOccurred, &loop, check);
    QObject::connect(&poll, &QTimer::timeout, &loop, check); // the position has no signal of its own
    timeout.start(timeoutMs);
    poll.start(10);
    loop.exec();
    return done();
}

void QtMediaPlayer::setFileName(const QStringList &files)
{
    if (files.isEmpty() || files.contains(QString()))
        fail(QStringLiteral("No file name was given"));
    QStringList parts;
    for (const QString &file : files)
        parts << QFileInfo(file).absoluteFilePath();
    const QString absolute = parts.join(QLatin1Char('\n'));

    // Naming the open file again only rewinds it: reloading would blank the
    // picture for nothing, and the back end still holds the file open even
    // if it has been renamed or moved since.
    if (rewindIfOpen(absolute))
        return;

    for (const QString &part : parts)
        requirePlayableFile(part);
    close();
    attachVideoOutput();
    // The name the demuxer reports the stream's start under.
    std::string file = QFile::encodeName(parts.front()).toStdString();
    QUrl source = QUrl::fromLocalFile(parts.front());
    if (parts.size() > 1) {
        m_titleLinks = linkParts(parts);
        file = QFile::encodeName(m_titleLinks->filePath(QStringLiteral("*.VOB"))).toStdString();
        source = QUrl::fromEncoded("splitfile://" + QUrl::toPercentEncoding(QByteArray::fromStdString(file), "/*"));
    }
    const std::uint64_t mark = programStreamMark();
    load(source);
    // Second 0 is the stream's first timestamp. The program stream demuxer
    // tells it as it starts reading; other formats only through the
    // position, once their first picture is shown, and one that starts at 0
    // waits here for nothing.
    std::optional<std::int64_t> startNs;
    waitFor(
        [&] {
            startNs = programStreamStartNs(file, mark);
            return startNs || m_player->position() > 0;
        },
        originWaitMs);
    m_originMs = startNs ? *startNs / 1000000 : m_player->position();
    m_path = absolute;
}

bool QtMediaPlayer::rewindIfOpen(const QString &path)
{
    if (path != m_path || m_player->duration() <= 0 || m_player->mediaStatus() == QMediaPlayer::InvalidMedia)
        return false;
    m_player->stop();
    m_seekTargetMs = -1;
    return true;
}

void QtMediaPlayer::setTitle(const QByteArray &discPath, int number)
{
    if (discPath.isEmpty())
        fail(QStringLiteral("No file name was given"));
    // Bytes kept whole: a name that is not UTF-8 still names its own title.
    const QString path =
        QStringLiteral("title %1 of ").arg(number) + QString::fromLatin1(discPath.toPercentEncoding("/"));
    if (rewindIfOpen(path))
        return;
    close();
    attachVideoOutput();
    std::shared_ptr<OpenTitle> title;
    try {
        title = std::make_shared<OpenTitle>(discPath, number);
    } catch (const std::exception &e) { // its tables, or its VOBs, do not read
        fail(QString::fromUtf8(e.what()));
    }
    m_title = std::make_unique<ServedTitle>(title);
    const TitleTimeline &timeline = title->timeline();
    load(m_title->url()); // closes again when refused
    // The stream's time stamps are the title's from its first VOBU on.
    m_originMs = timeline.firstTimeStamp() / 90;
    m_titleDurationMs = timeline.durationTicks() / 90;
    m_path = path;
}

void QtMediaPlayer::load(const QUrl &source)
{
    QString reason;
    bool refused = false;
    const auto errors = QObject::connect(m_player.get(), &QMediaPlayer::errorOccurred, m_player.get(),
                                         [&](QMediaPlayer::Error, const QString &text) {
                                             refused = true;
                                             if (reason.isEmpty())
                                                 reason = text; // later messages are generic follow-ups
                                         });
    m_player->setSource(source);
    const auto loaded = [&] {
        const auto status = m_player->mediaStatus();
        return m_player->duration() > 0
               && (status == QMediaPlayer::LoadedMedia || status == QMediaPlayer::BufferedMedia);
    };
    bool inTime = waitFor([&] { return refused || m_player->mediaStatus() == QMediaPlayer::InvalidMedia || loaded(); },
                          loadTimeoutMs);
    // The pipeline is shared between sources, and the trailing error of a
    // file refused just before can still arrive and mark this one invalid
    // too; a good file then loads regardless. Waiting a moment tells the
    // two apart, and for a bad file it lets its own trailing errors drain.
    if (inTime && !loaded())
        inTime = waitFor(loaded, 300) || refused || m_player->mediaStatus() == QMediaPlayer::InvalidMedia;
    QObject::disconnect(errors);

    if (!inTime || !loaded()) {
        if (reason.isEmpty())
            reason = inTime ? QStringLiteral("It is not a playable media file")
                            : QStringLiteral("It has no duration after %1 s").arg(loadTimeoutMs / 1000);
        close();
        fail(reason);
    }
}

void QtMediaPlayer::attachVideoOutput()
{
    // A video widget gives the back end its graphics context once it is
    // first drawn, and the back end then puts a new sink into the pipeline.
    // Put in while no file is loaded, that sink keeps a state of its own:
    // paused, the picture plays on through what is queued; resumed, it
    // stands. Attached afresh, with the pipeline idle, the sink follows it.
    if (!m_videoOutput)
        return;
    m_player->setVideoOutput(nullptr);
    m_player->setVideoOutput(m_videoOutput.data());
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
    m_titleLinks.reset();
    m_title.reset();
    m_titleDurationMs = 0;
    m_path.clear();
    m_originMs = 0;
    m_seekTargetMs = -1;
}

double QtMediaPlayer::duration()
{
    requireOpen("read the duration");
    return durationMs() / 1000.0;
}

double QtMediaPlayer::currentPosition()
{
    requireOpen("read the position");
    const qint64 durationMs = this->durationMs();
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

double readDuration(const QStringList &files)
{
    // Qt Multimedia needs an application object for its event dispatch.
    static int argc = 1;
    static char name[] = "morvane";
    static char *argv[] = {name, nullptr};
    std::unique_ptr<QCoreApplication> ownApp;
    if (!QCoreApplication::instance())
        ownApp = std::make_unique<QCoreApplication>(argc, argv);

    QtMediaPlayer player;
    player.setFileName(files);
    const double seconds = player.duration();
    if (!(seconds > 0))
        fail(QStringLiteral("It has no duration"));
    return seconds;
}

} // namespace morvane
