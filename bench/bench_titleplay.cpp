// The window's player on a DVD title: how soon the first picture shows after
// the title is chosen, how soon the right picture shows after a seek, and
// the CPU that playing the title costs against playing its bytes from a file.
//   bench_titleplay DVD_FOLDER [SECONDS_OF_PLAY]

#include "files/engine/TitleStream.h"
#include "playback/media/QtMediaPlayer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <QVideoFrame>
#include <QVideoSink>

#include <cstdio>
#include <ctime>
#include <vector>

using namespace morvane;

namespace {

void waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs) {
        QEventLoop loop;
        QTimer::singleShot(2, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}

// CPU seconds per second of play, from second 30 on.
double playCost(QtMediaPlayer &player, int seconds)
{
    player.play();
    player.seek(30);
    waitUntil([] { return false; }, 1000); // past the seek's decoding
    const double before = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    waitUntil([] { return false; }, seconds * 1000);
    const double cost = (cpuSeconds() - before) / (clock.elapsed() / 1000.0);
    player.pause();
    return cost;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_titleplay DVD_FOLDER [SECONDS_OF_PLAY]\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QGuiApplication app(argc, argv);
    const QByteArray folder = argv[1];
    const int playSeconds = argc > 2 ? std::atoi(argv[2]) : 10;

    // The sink outlives the player that feeds it.
    QVideoSink sink;
    qint64 lastFrameUs = -1;
    QObject::connect(&sink, &QVideoSink::videoFrameChanged, [&](const QVideoFrame &f) { lastFrameUs = f.startTime(); });
    QtMediaPlayer player(&sink);

    QElapsedTimer clock;
    clock.start();
    player.setTitle(folder, 1);
    player.play();
    waitUntil([&] { return lastFrameUs >= 0; }, 5000);
    std::printf("first picture of title 1 (%.0f s): %lld ms after it was chosen\n", player.duration(), clock.elapsed());

    // The right picture: one whose time is within a frame of the target.
    player.pause();
    waitUntil([] { return false; }, 300);
    const OpenTitle title(folder, 1);
    const double originUs = title.timeline().firstTimeStamp() / 0.09;
    std::vector<qint64> times;
    for (const double target : {20.0, 100.0, 400.0, 799.0, 1000.0, 1541.0, 1599.0, 10.0}) {
        if (target >= player.duration())
            continue;
        lastFrameUs = -1;
        clock.restart();
        player.seek(target);
        const double wantUs = originUs + target * 1e6;
        waitUntil([&] { return lastFrameUs >= 0 && std::abs(lastFrameUs - wantUs) < 60000; }, 3000);
        const bool right = lastFrameUs >= 0 && std::abs(lastFrameUs - wantUs) < 60000;
        times.push_back(right ? clock.elapsed() : -1);
        std::printf("seek to %6.0f s: %s\n", target,
                    right ? qPrintable(QStringLiteral("right picture after %1 ms").arg(clock.elapsed()))
                          : "no right picture within 3 s");
    }

    const double titleCost = playCost(player, playSeconds);
    player.close();

    // The same bytes, the title stream as the player read it, from a file.
    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/morvane-bench-XXXXXX"));
    const QString copy = dir.filePath(QStringLiteral("title.vob"));
    {
        OpenTitle source(folder, 1);
        QFile out(copy);
        if (!out.open(QIODevice::WriteOnly))
            return 1;
        std::vector<char> buffer(1 << 20);
        for (std::int64_t at = 0; at < source.stream().size();) {
            const std::size_t got = source.stream().read(at, buffer.data(), buffer.size());
            out.write(buffer.data(), qint64(got));
            at += std::int64_t(got);
        }
    }
    player.setFileName(copy);
    const double fileCost = playCost(player, playSeconds);
    player.close();
    std::printf("CPU while playing %d s: title %.1f%%, the same bytes from a file %.1f%%, ratio %.2f\n", playSeconds,
                titleCost * 100, fileCost * 100, titleCost / fileCost);
    return 0;
}
