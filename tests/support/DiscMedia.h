#pragma once
// Test discs, and what ffmpeg sees in clips.

#include "support/Files.h"

#include <algorithm>

namespace morvane::test {

inline QString disc(const QString &name) { return media("discs/" + name); }

// for a test to damage.
inline QString copyOfDisc(const QString &name, const QString &dir)
{
    const QString folder = dir + "/" + name + "/VIDEO_TS";
    QDir().mkpath(folder);
    for (const QString &file : QDir(disc(name + "/VIDEO_TS")).entryList(QDir::Files))
        QFile::copy(disc(name + "/VIDEO_TS/" + file), folder + "/" + file);
    return folder;
}

// source (1-4): grey of the luma's top half; second: the bottom's; 0, -1: none decoded
struct Picture {
    int source = 0;
    int second = -1;
};

inline Picture pictureOf(const uchar *luma, int width, int height, qsizetype bytesPerLine)
{
    const auto grey = [&](int y) { return luma[y * bytesPerLine + width / 2]; };
    return {(grey(height / 4) - 40 + 20) / 40, (grey(height * 3 / 4) - 16 + 3) / 6};
}

inline Picture firstPicture(const QString &file)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-v", "quiet", "-i", file, "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "yuv420p", "-"});
    ffmpeg.waitForFinished(60000);
    const QByteArray y = ffmpeg.readAllStandardOutput();
    if (y.size() < 720 * 576)
        return {};
    return pictureOf(reinterpret_cast<const uchar *>(y.constData()), 720, 576, 720);
}

// ffprobe: PTS span, widest sorted gap, DTS steps back
struct VideoTimes {
    double span = 0;
    double widestGap = 0;
    int decodingSteppedBack = 0;
};

inline VideoTimes videoTimes(const QString &file)
{
    const QStringList args{
        "-v", "quiet", "-select_streams", "v:0", "-show_entries", "packet=pts_time,dts_time", "-of", "csv=p=0", file};
    QList<double> times;
    VideoTimes result;
    double lastDts = -1;
    for (const QString &line : run("ffprobe", args).out.split('\n', Qt::SkipEmptyParts)) {
        const QStringList fields = line.split(',');
        bool ok = false;
        if (const double pts = fields[0].toDouble(&ok); ok)
            times << pts;
        if (const double dts = fields.value(1).toDouble(&ok); ok) {
            result.decodingSteppedBack += dts < lastDts;
            lastDts = dts;
        }
    }
    std::sort(times.begin(), times.end());
    for (qsizetype i = 1; i < times.size(); ++i)
        result.widestGap = std::max(result.widestGap, times[i] - times[i - 1]);
    if (!times.isEmpty())
        result.span = times.last() - times.first();
    return result;
}

} // namespace morvane::test
