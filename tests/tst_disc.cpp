// DVD folders read through their tables: titles, title time to place, the title stream, and cuts in title time.
#include "files/engine/DvdDisc.h"
#include "files/engine/TitleStream.h"
#include "support/Cut.h"
#include "support/DiscMedia.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace morvane;
using namespace morvane::test;

namespace {

struct TitleShape {
    int titles = 0;
    double seconds = 0;
    QList<double> chapters; // start of each, in seconds
    QList<int> vobIds;      // of each cell, in play order
};

// A first picture from `source` showing a second in [earliest, latest].
struct Opening {
    int source = 0;
    int earliest = 0;
    int latest = 0;
};

enum class Cut { Precise, ByteRate, Chapters };

double seconds(std::int64_t ticks) { return double(ticks) / 90000.0; }

// The SCR base of the MPEG-2 pack header at byte at.
std::int64_t scr(const QByteArray &bytes, qsizetype at)
{
    const auto b = [&](int i) { return std::int64_t(quint8(bytes[at + i])); };
    return (b(4) >> 3 & 7) << 30 | (b(4) & 3) << 28 | b(5) << 20 | (b(6) >> 3) << 15 | (b(6) & 3) << 13 | b(7) << 5
           | b(8) >> 3;
}

} // namespace

Q_DECLARE_METATYPE(TitleShape)
Q_DECLARE_METATYPE(Opening)
Q_DECLARE_METATYPE(Cut)

class TestDisc : public QObject {
    Q_OBJECT
private slots:
    void model_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("title");
        QTest::addColumn<TitleShape>("shape");
        QTest::newRow("episode 2, from VIDEO_TS.IFO")
            << "episodes/VIDEO_TS/VIDEO_TS.IFO" << 2 << TitleShape{2, 6, {0}, {2}};
        QTest::newRow("two VOB IDs, from VIDEO_TS")
            << "movie/VIDEO_TS" << 1 << TitleShape{1, 12, {0, 3, 6, 9}, {1, 1, 2, 2}};
        QTest::newRow("out of storage order, from a VOB")
            << "shuffled/VIDEO_TS/VTS_01_1.VOB" << 1 << TitleShape{1, 12, {0, 6}, {2, 1}};
        QTest::newRow("an angle block: the first angle's time only")
            << "angles" << 1 << TitleShape{2, 4, {0, 4}, {1, 1}};
    }
    void model()
    {
        QFETCH(QString, path);
        QFETCH(int, title);
        QFETCH(TitleShape, shape);
        const Disc got = openDisc(QFile::encodeName(disc(path)));
        QCOMPARE(int(got.titles.size()), shape.titles);
        const DiscTitle &t = got.title(title);
        QCOMPARE(t.number, title);
        QCOMPARE(seconds(t.durationTicks), shape.seconds);
        QList<double> chapters;
        for (const DiscChapter &chapter : t.chapters)
            chapters << seconds(chapter.startTicks);
        QCOMPARE(chapters, shape.chapters);
        QList<int> vobIds;
        for (const DiscCell &cell : t.cells)
            vobIds << cell.vobId;
        QCOMPARE(vobIds, shape.vobIds);
        QVERIFY(got.titleSet(t.titleSet).vobuStarts.size() > 10);
    }

    // Each damage gives a sentence naming the file.
    void damaged_data()
    {
        QTest::addColumn<QStringList>("files"); // of the episodes' VIDEO_TS
        QTest::addColumn<int>("size");          // they are cut to; -1 removes them
        QTest::addColumn<QString>("message");
        QTest::newRow("truncated title set tables")
            << QStringList{"VTS_01_0.IFO", "VTS_01_0.BUP"} << 300
            << "The tables of title set 1, \"%1/VTS_01_0.IFO\", are missing or damaged";
        QTest::newRow("a cell past the end")
            << QStringList{"VTS_01_1.VOB"} << 300000
            << "Title 1 in \"%1/VTS_01_0.IFO\", cell 2, ends at sector 167, past the end of its video (146 sectors).";
        QTest::newRow("no VIDEO_TS.IFO") << QStringList{"VIDEO_TS.IFO", "VIDEO_TS.BUP"} << -1
                                         << "The table of titles \"%1/VIDEO_TS.IFO\" is missing.";
        QTest::newRow("no video") << QStringList{"VTS_01_1.VOB"} << -1
                                  << "The video of title set 1, \"%1/VTS_01_1.VOB\", is missing.";
    }
    void damaged()
    {
        QFETCH(QStringList, files);
        QFETCH(int, size);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString videoTs = copyOfDisc("episodes", dir.path());
        for (const QString &file : files)
            QVERIFY(size < 0 ? QFile::remove(videoTs + "/" + file) : QFile::resize(videoTs + "/" + file, size));
        try {
            openDisc(QFile::encodeName(dir.filePath("episodes")));
            QFAIL("the damaged folder opened");
        } catch (const DiscError &e) {
            QVERIFY2(QString(e.what()).startsWith(message.arg(videoTs)), e.what());
        }
    }

    // The VOBU found for a title time holds it.
    void place_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<double>("at");
        QTest::addColumn<int>("cell");
        QTest::newRow("last VOBU") << "movie" << 11.95 << 3;
        QTest::newRow("VOB ID 2 played first") << "shuffled" << 1.0 << 0;
        QTest::newRow("VOB ID 1 played second") << "shuffled" << 7.5 << 1;
    }
    void place()
    {
        QFETCH(QString, path);
        QFETCH(double, at);
        QFETCH(int, cell);
        OpenTitle title(QFile::encodeName(disc(path)), 1);
        const std::int64_t ticks = std::llround(at * 90000);
        const TitlePlace place = title.place(ticks);
        QCOMPARE(int(title.timeline().spans()[place.span].cell), cell);
        QVERIFY2(place.startTicks <= ticks && ticks < place.endTicks,
                 qPrintable(QString("%1 s to %2 s").arg(seconds(place.startTicks)).arg(seconds(place.endTicks))));
        QVERIFY(place.offset < place.nextOffset);
        // The stream there opens with that VOBU's NAV pack.
        char pack[2048];
        QCOMPARE(title.stream().read(place.offset, pack, sizeof pack), sizeof pack);
        const auto nav = dvd::parseNavPack(reinterpret_cast<const std::uint8_t *>(pack), sizeof pack);
        QVERIFY(nav && nav->lbn == place.sector);
    }

    // Read in odd pieces across VOB IDs and files, the stream plays as one time line, whatever the pieces.
    void stream()
    {
        OpenTitle title(QFile::encodeName(disc("movie")), 1);
        TitleStream &stream = title.stream();
        QByteArray whole;
        for (std::int64_t at = 0; at < stream.size();) {
            char piece[7777];
            const std::size_t got = stream.read(at, piece, sizeof piece);
            QVERIFY(got > 0);
            whole.append(piece, qsizetype(got));
            at += std::int64_t(got);
        }
        QCOMPARE(whole.size(), stream.size());
        // At a VOB ID boundary the system clock steps back only by the new VOB ID's lead over its first picture.
        for (qsizetype at = 2048; at < whole.size(); at += 2048)
            QVERIFY2(scr(whole, at) > scr(whole, at - 2048) - 45000, qPrintable(QString("pack at %1").arg(at)));
    }

    // Titles of a DVD folder, and a VOB without its tables (title 0) whose VOB IDs each start their time stamps again.
    void cut_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("title");
        QTest::addColumn<Cut>("method");
        QTest::addColumn<int>("from"); // a mark or chapter
        QTest::addColumn<int>("to");
        QTest::addColumn<Opening>("opening");
        QTest::addColumn<bool>("plain"); // the VOB set's own bytes, unchanged
        QTest::newRow("out of storage order") << "shuffled" << 1 << Cut::Precise << 5 << 9 << Opening{4, 4, 5} << false;
        QTest::newRow("byte rate across VOB IDs")
            << "movie" << 1 << Cut::ByteRate << 3 << 9 << Opening{3, 0, 5} << false;
        QTest::newRow("loose VOB, across VOB IDs")
            << "loose.vob" << 0 << Cut::Precise << 4 << 8 << Opening{3, 3, 4} << false;
        QTest::newRow("loose VOB, second VOB ID")
            << "loose.vob" << 0 << Cut::Precise << 8 << 11 << Opening{4, 1, 2} << true;
        QTest::newRow("chapter 2") << "movie" << 1 << Cut::Chapters << 2 << 2 << Opening{3, 3, 3} << true;
        QTest::newRow("chapters 3 and 4") << "movie" << 1 << Cut::Chapters << 3 << 4 << Opening{4, 0, 0} << true;
    }
    void cut()
    {
        QFETCH(QString, path);
        QFETCH(int, title);
        QFETCH(Cut, method);
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(Opening, opening);
        QFETCH(bool, plain);
        QTemporaryDir dir;
        const QString clipFile = dir.filePath("clip.vob");
        const CutMethod how = method == Cut::ByteRate ? CutMethod::ByteRate : CutMethod::Precise;
        const CutRequest request = titleCut(QFile::encodeName(disc(path)), title, how, method == Cut::Chapters, from,
                                            to, QFile::encodeName(clipFile));
        NullProgress progress;
        ClipCutter cutter(progress, {});
        const CutResult result = cutter.cut(request);
        const QByteArray clip = readFile(clipFile);
        QCOMPARE(clip.size(), result.length);
        const Picture picture = firstPicture(clipFile);
        QCOMPARE(picture.source, opening.source);
        QVERIFY2(opening.earliest <= picture.second && picture.second <= opening.latest,
                 qPrintable(QString::number(picture.second)));
        const VideoTimes times = videoTimes(clipFile);
        QVERIFY2(times.widestGap < 0.5, qPrintable(QString::number(times.widestGap)));
        QCOMPARE(times.decodingSteppedBack, 0);
        if (method == Cut::Precise)
            QVERIFY(result.startTime <= from && to <= result.endTime);
        if (method != Cut::ByteRate)
            QVERIFY(std::abs(times.span - (result.endTime - result.startTime)) < 0.5);
        QByteArray vobSet;
        if (title == 0)
            vobSet = readFile(disc(path));
        for (const QFileInfo &vob : QDir(disc(path + "/VIDEO_TS")).entryInfoList({"VTS_01_?.VOB"}, QDir::Files))
            vobSet += readFile(vob.filePath());
        QCOMPARE(vobSet.contains(clip), plain);
    }
};

QTEST_GUILESS_MAIN(TestDisc)
#include "tst_disc.moc"
