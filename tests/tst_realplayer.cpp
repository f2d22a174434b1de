// The Qt Multimedia player on real MPEG-2 program streams and an authored DVD
// title, as made by scripts/make-test-media.

#include "playback/media/QtMediaPlayer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QVideoFrame>
#include <QVideoSink>
#include <QtTest>

using morvane::PlayerError;
using morvane::QtMediaPlayer;

namespace {

QString media(const QString &name)
{
    return QStringLiteral(MORVANE_TEST_MEDIA "/") + name;
}

// Refusals must come from the back end's verdict, well inside the load timeout.
constexpr qint64 promptMs = 5000;

} // namespace

class RealPlayerTest : public QObject {
    Q_OBJECT

    QHash<QString, double> m_expected; // ffprobe's durations, in seconds

    double expectedDuration(const QString &name) const
    {
        return m_expected.value(name, -1.0);
    }

private slots:
    void initTestCase();

    void opensWithDuration_data();
    void opensWithDuration();
    void playsPausesSeeksAndEnds_data();
    void playsPausesSeeksAndEnds();
    void seekReadsBackAtOnce_data();
    void seekReadsBackAtOnce();
    void rewindReadsZeroAfterEvents();
    void openingAnotherFileReplacesTheFirst();
    void refusesUnplayableFiles_data();
    void refusesUnplayableFiles();
    void operationsNeedAFile_data();
    void operationsNeedAFile();
    void deliversPictureToVideoOutput();
    void readDuration_data();
    void readDuration();
    void readDurationRefuses_data();
    void readDurationRefuses();
};

void RealPlayerTest::initTestCase()
{
    QFile list(media(QStringLiteral("durations.txt")));
    QVERIFY2(list.open(QIODevice::ReadOnly | QIODevice::Text),
             "test media missing: run scripts/make-test-media");
    while (!list.atEnd()) {
        const auto fields = QString::fromUtf8(list.readLine()).simplified().split(u' ');
        if (fields.size() == 2)
            m_expected.insert(fields[0], fields[1].toDouble());
    }
    for (const char *name : {"program.mpg", "long.mpg", "dvd.vob"})
        QVERIFY2(expectedDuration(QString::fromLatin1(name)) > 0, name);
}

void RealPlayerTest::opensWithDuration_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("ffmpeg program stream, MP2") << QStringLiteral("program.mpg");
    QTest::newRow("ffmpeg program stream, AC3, 30 s") << QStringLiteral("long.mpg");
    QTest::newRow("dvdauthor title VOB") << QStringLiteral("dvd.vob");
}

void RealPlayerTest::opensWithDuration()
{
    QFETCH(QString, name);
    QtMediaPlayer player;
    player.setFileName(media(name));
    // setFileName waits for the duration, so it is there without any event.
    const double duration = player.duration();
    QVERIFY2(qAbs(duration - expectedDuration(name)) <= 0.1,
             qPrintable(QStringLiteral("duration %1, ffprobe %2").arg(duration).arg(expectedDuration(name))));
    QCOMPARE(player.currentPosition(), 0.0);
    QTest::qWait(300);
    QCOMPARE(player.currentPosition(), 0.0); // opening does not start playback
}

void RealPlayerTest::playsPausesSeeksAndEnds_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("ffmpeg program stream") << QStringLiteral("program.mpg");
    QTest::newRow("dvdauthor title VOB") << QStringLiteral("dvd.vob");
}

void RealPlayerTest::playsPausesSeeksAndEnds()
{
    QFETCH(QString, name);
    QtMediaPlayer player;
    player.setFileName(media(name));
    const double duration = player.duration();

    player.play();
    QTest::qWait(1000);
    const double played = player.currentPosition();
    QVERIFY2(played > 0.4 && played < 2.0, qPrintable(QString::number(played)));

    player.pause();
    QTest::qWait(100);
    const double held = player.currentPosition();
    QTest::qWait(700);
    QVERIFY2(qAbs(player.currentPosition() - held) < 0.05,
             qPrintable(QStringLiteral("%1 -> %2").arg(held).arg(player.currentPosition())));

    player.pause(); // resumes
    QTest::qWait(800);
    const double resumed = player.currentPosition();
    QVERIFY2(resumed > held + 0.4 && resumed < held + 1.5,
             qPrintable(QStringLiteral("%1 -> %2").arg(held).arg(resumed)));

    // Seeking while playing: read back at once, and playback goes on from there.
    player.seek(3.0);
    QCOMPARE(player.currentPosition(), 3.0);
    QTest::qWait(600);
    const double afterSeek = player.currentPosition();
    QVERIFY2(afterSeek > 3.1 && afterSeek < 4.2, qPrintable(QString::number(afterSeek)));

    // Near the end; the position must reach the duration exactly and stay.
    // GStreamer ends a stream that was sought into up to a second early, so
    // leave enough to see it play.
    const double nearEnd = duration - 2.5;
    player.seek(nearEnd);
    QCOMPARE(player.currentPosition(), nearEnd);
    QElapsedTimer toEnd;
    toEnd.start();
    QTRY_COMPARE_WITH_TIMEOUT(player.currentPosition(), duration, 6000);
    QVERIFY2(toEnd.elapsed() > 700, qPrintable(QString::number(toEnd.elapsed()))); // it played there
    QTest::qWait(300);
    QCOMPARE(player.currentPosition(), duration);
    QCOMPARE(player.duration(), duration);

    // Naming the file again and playing starts it from the beginning.
    player.setFileName(media(name));
    QCOMPARE(player.duration(), duration);
    player.play();
    QTest::qWait(600);
    const double restarted = player.currentPosition();
    QVERIFY2(restarted > 0.2 && restarted < 1.5, qPrintable(QString::number(restarted)));

    player.close();
    QVERIFY_THROWS_EXCEPTION(PlayerError, player.currentPosition());
    QVERIFY_THROWS_EXCEPTION(PlayerError, player.play());
}

void RealPlayerTest::seekReadsBackAtOnce_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<double>("target");
    QTest::addColumn<double>("expected"); // negative: the file's duration
    for (const char *state : {"opened", "playing", "paused", "ended"}) {
        const QByteArray s(state);
        QTest::newRow(s + ", zero") << QString::fromLatin1(state) << 0.0 << 0.0;
        QTest::newRow(s + ", whole second") << QString::fromLatin1(state) << 4.0 << 4.0;
        QTest::newRow(s + ", fraction") << QString::fromLatin1(state) << 2.3456 << 2.3456;
        QTest::newRow(s + ", before start") << QString::fromLatin1(state) << -3.0 << 0.0;
        QTest::newRow(s + ", past end") << QString::fromLatin1(state) << 99.0 << -1.0;
    }
}

void RealPlayerTest::seekReadsBackAtOnce()
{
    QFETCH(QString, state);
    QFETCH(double, target);
    QFETCH(double, expected);
    QtMediaPlayer player;
    player.setFileName(media(QStringLiteral("program.mpg")));
    if (expected < 0)
        expected = player.duration();
    if (state != QLatin1String("opened")) {
        player.play();
        QTest::qWait(300);
    }
    if (state == QLatin1String("paused"))
        player.pause();
    if (state == QLatin1String("ended")) {
        player.seek(player.duration() - 0.3);
        QTRY_COMPARE_WITH_TIMEOUT(player.currentPosition(), player.duration(), 5000);
    }
    player.seek(target);
    QCOMPARE(player.currentPosition(), expected);
}

void RealPlayerTest::rewindReadsZeroAfterEvents()
{
    // A stopped file is recognised by a position of exactly 0 some time
    // after the rewind, so it must not drift to the first frame's timestamp.
    QtMediaPlayer player;
    player.setFileName(media(QStringLiteral("dvd.vob")));
    player.play();
    QTest::qWait(700);
    player.seek(0);
    player.pause();
    QCOMPARE(player.currentPosition(), 0.0);
    QTest::qWait(500);
    QCOMPARE(player.currentPosition(), 0.0);
    player.pause(); // resumes from the beginning
    QTest::qWait(600);
    QVERIFY(player.currentPosition() > 0.2);
}

void RealPlayerTest::openingAnotherFileReplacesTheFirst()
{
    QtMediaPlayer player;
    player.setFileName(media(QStringLiteral("program.mpg")));
    player.play();
    QTest::qWait(500);
    player.setFileName(media(QStringLiteral("long.mpg")));
    QVERIFY(qAbs(player.duration() - expectedDuration(QStringLiteral("long.mpg"))) <= 0.1);
    QCOMPARE(player.currentPosition(), 0.0);

    // A refused file leaves nothing open, not the previous one.
    QVERIFY_THROWS_EXCEPTION(PlayerError, player.setFileName(media(QStringLiteral("random.bin"))));
    QVERIFY_THROWS_EXCEPTION(PlayerError, player.duration());
    player.setFileName(media(QStringLiteral("dvd.vob")));
    QVERIFY(player.duration() > 9);
}

void RealPlayerTest::refusesUnplayableFiles_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("random bytes") << media(QStringLiteral("random.bin"));
    QTest::newRow("empty file") << media(QStringLiteral("empty.vob"));
    QTest::newRow("missing file") << media(QStringLiteral("no-such-file.vob"));
    QTest::newRow("directory") << QStringLiteral(MORVANE_TEST_MEDIA);
    QTest::newRow("empty name") << QString();
}

void RealPlayerTest::refusesUnplayableFiles()
{
    QFETCH(QString, path);
    QtMediaPlayer player;
    QElapsedTimer clock;
    clock.start();
    QString message;
    try {
        player.setFileName(path);
        QFAIL("opened an unplayable file");
    } catch (const PlayerError &e) {
        message = QString::fromStdString(e.what());
    }
    QVERIFY2(clock.elapsed() < promptMs, qPrintable(QString::number(clock.elapsed())));
    QVERIFY2(message.size() > 10, qPrintable(message));
    QVERIFY_THROWS_EXCEPTION(PlayerError, player.duration());
    QVERIFY_THROWS_EXCEPTION(PlayerError, player.play());
}

void RealPlayerTest::operationsNeedAFile_data()
{
    QTest::addColumn<bool>("afterClose");
    QTest::addColumn<int>("operation");
    const char *names[] = {"pause", "play", "duration", "currentPosition", "seek"};
    for (int op = 0; op < 5; ++op) {
        QTest::newRow(QByteArray("never opened, ") + names[op]) << false << op;
        QTest::newRow(QByteArray("closed, ") + names[op]) << true << op;
    }
}

void RealPlayerTest::operationsNeedAFile()
{
    QFETCH(bool, afterClose);
    QFETCH(int, operation);
    QtMediaPlayer player;
    if (afterClose) {
        player.setFileName(media(QStringLiteral("program.mpg")));
        player.play();
        player.close();
    }
    switch (operation) {
    case 0: QVERIFY_THROWS_EXCEPTION(PlayerError, player.pause()); break;
    case 1: QVERIFY_THROWS_EXCEPTION(PlayerError, player.play()); break;
    case 2: QVERIFY_THROWS_EXCEPTION(PlayerError, player.duration()); break;
    case 3: QVERIFY_THROWS_EXCEPTION(PlayerError, player.currentPosition()); break;
    case 4: QVERIFY_THROWS_EXCEPTION(PlayerError, player.seek(1.0)); break;
    }
    player.close(); // closing again is harmless
}

void RealPlayerTest::deliversPictureToVideoOutput()
{
    QVideoSink sink;
    QSize frameSize;
    int frames = 0;
    connect(&sink, &QVideoSink::videoFrameChanged, this, [&](const QVideoFrame &frame) {
        if (frame.isValid()) {
            ++frames;
            frameSize = frame.size();
        }
    });
    QtMediaPlayer player(&sink);
    player.setFileName(media(QStringLiteral("dvd.vob")));
    player.play();
    QTRY_VERIFY_WITH_TIMEOUT(frames > 5, 3000);
    QCOMPARE(frameSize, QSize(720, 576));
}

void RealPlayerTest::readDuration_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("ffmpeg program stream") << QStringLiteral("program.mpg");
    QTest::newRow("ffmpeg program stream, 30 s") << QStringLiteral("long.mpg");
    QTest::newRow("dvdauthor title VOB") << QStringLiteral("dvd.vob");
}

void RealPlayerTest::readDuration()
{
    QFETCH(QString, name);
    const double seconds = morvane::readDuration(media(name));
    QVERIFY2(qAbs(seconds - expectedDuration(name)) <= 0.1, qPrintable(QString::number(seconds)));
}

void RealPlayerTest::readDurationRefuses_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("random bytes") << QStringLiteral("random.bin");
    QTest::newRow("empty file") << QStringLiteral("empty.vob");
    QTest::newRow("missing file") << QStringLiteral("no-such-file.vob");
}

void RealPlayerTest::readDurationRefuses()
{
    QFETCH(QString, name);
    QElapsedTimer clock;
    clock.start();
    QVERIFY_THROWS_EXCEPTION(PlayerError, morvane::readDuration(media(name)));
    QVERIFY(clock.elapsed() < promptMs);
}

// No GUI application: the command-line tool reads durations the same way.
QTEST_GUILESS_MAIN(RealPlayerTest)
#include "tst_realplayer.moc"
