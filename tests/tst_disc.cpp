// DVD tables: titles, time to place, stream, title-time cuts.
#include "files/engine/DvdDisc.h"
#include "files/engine/TitleStream.h"
#include "support/Cut.h"
#include "support/DiscMedia.h"

#include <QtTest>

using namespace morvane;
using namespace morvane::test;

namespace {

enum class Cut { Precise, ByteRate, Chapters };

struct TitleCut {
    QString path;
    int title; // 0: a bare VOB, time stamps restarting per VOB ID
    Cut method;
    int from, to;                 // marks or chapters
    int source, earliest, latest; // first picture's source and second range
    bool plain;                   // the VOB set's bytes unchanged
};

QString seconds(std::int64_t ticks) { return QString::number(double(ticks) / 90000.0, 'g', 10); }

// MPEG-2 pack header's SCR base
std::int64_t scr(const QByteArray &bytes, qsizetype at)
{
    const auto b = [&](int i) { return std::int64_t(quint8(bytes[at + i])); };
    return (b(4) >> 3 & 7) << 30 | (b(4) & 3) << 28 | b(5) << 20 | (b(6) >> 3) << 15 | (b(6) & 3) << 13 | b(7) << 5
           | b(8) >> 3;
}

}

Q_DECLARE_METATYPE(TitleCut)

class TestDisc : public QObject {
    Q_OBJECT
private slots:
    void model_data();
    void model();
    // Each damage: a sentence naming the file.
    void damaged_data();
    void damaged();
    // The found VOBU holds the time and opens with a NAV pack: last VOBU, and around VOB ID 2 before 1.
    void place();
    // Odd-sized reads across VOB IDs and files give one time line.
    void stream();
    void cut_data();
    void cut();
};

void TestDisc::model_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("title");
    QTest::addColumn<QString>("shape"); // titles; seconds; chapter starts; cells' VOB IDs in play order
    QTest::newRow("episode 2, from VIDEO_TS.IFO") << "episodes/VIDEO_TS/VIDEO_TS.IFO" << 2 << "2; 6 s; 0; 2";
    QTest::newRow("two VOB IDs, from VIDEO_TS") << "movie/VIDEO_TS" << 1 << "1; 12 s; 0 3 6 9; 1 1 2 2";
    QTest::newRow("out of storage order, from a VOB") << "shuffled/VIDEO_TS/VTS_01_1.VOB" << 1 << "1; 12 s; 0 6; 2 1";
    QTest::newRow("an angle block: the first angle's time only") << "angles" << 1 << "2; 4 s; 0 4; 1 1";
}

void TestDisc::model()
{
    QFETCH(QString, path);
    QFETCH(int, title);
    const Disc got = openDisc(QFile::encodeName(disc(path)));
    const DiscTitle &t = got.title(title);
    QCOMPARE(t.number, title);
    QString shape = QString("%1; %2 s;").arg(got.titles.size()).arg(seconds(t.durationTicks));
    for (const DiscChapter &chapter : t.chapters)
        shape += " " + seconds(chapter.startTicks);
    shape += ";";
    for (const DiscCell &cell : t.cells)
        shape += " " + QString::number(cell.vobId);
    QTEST(shape, "shape");
    QVERIFY(got.titleSet(t.titleSet).vobuStarts.size() > 10);
}

void TestDisc::damaged_data()
{
    QTest::addColumn<QStringList>("files"); // episodes' VIDEO_TS
    QTest::addColumn<int>("size");          // -1: removed
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

void TestDisc::damaged()
{
    QFETCH(QStringList, files);
    QFETCH(int, size);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString videoTs = copyOfDisc("episodes", dir.path());
    for (const QString &file : files)
        QVERIFY(size < 0 ? QFile::remove(videoTs + "/" + file) : QFile::resize(videoTs + "/" + file, size));
    const QString outcome = outcomeOf([&] { openDisc(QFile::encodeName(dir.filePath("episodes"))); });
    QVERIFY2(outcome.startsWith(message.arg(videoTs)), qPrintable(outcome));
}

void TestDisc::place()
{
    for (auto [path, at, cell] : {std::tuple{"movie", 11.95, 3}, {"shuffled", 1.0, 0}, {"shuffled", 7.5, 1}}) {
        OpenTitle title(QFile::encodeName(disc(path)), 1);
        const std::int64_t ticks = std::llround(at * 90000);
        const TitlePlace place = title.place(ticks);
        QCOMPARE(int(title.timeline().spans()[place.span].cell), cell);
        QCOMPARE_LE(place.startTicks, ticks);
        QCOMPARE_LT(ticks, place.endTicks);
        QVERIFY(place.offset < place.nextOffset);
        char pack[2048];
        QCOMPARE(title.stream().read(place.offset, pack, sizeof pack), sizeof pack);
        const auto nav = dvd::parseNavPack(reinterpret_cast<const std::uint8_t *>(pack), sizeof pack);
        QVERIFY(nav && nav->lbn == place.sector);
    }
}

void TestDisc::stream()
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
    // At VOB ID joins the SCR steps back only by the new lead over its first picture.
    for (qsizetype at = 2048; at < whole.size(); at += 2048)
        QCOMPARE_GT(scr(whole, at), scr(whole, at - 2048) - 45000);
}

void TestDisc::cut_data()
{
    QTest::addColumn<TitleCut>("c");
    QTest::newRow("out of storage order") << TitleCut{"shuffled", 1, Cut::Precise, 5, 9, 4, 4, 5, false};
    QTest::newRow("byte rate across VOB IDs") << TitleCut{"movie", 1, Cut::ByteRate, 3, 9, 3, 0, 5, false};
    QTest::newRow("loose VOB, across VOB IDs") << TitleCut{"loose.vob", 0, Cut::Precise, 4, 8, 3, 3, 4, false};
    QTest::newRow("loose VOB, second VOB ID") << TitleCut{"loose.vob", 0, Cut::Precise, 8, 11, 4, 1, 2, true};
    QTest::newRow("chapter 2") << TitleCut{"movie", 1, Cut::Chapters, 2, 2, 3, 3, 3, true};
    QTest::newRow("chapters 3 and 4") << TitleCut{"movie", 1, Cut::Chapters, 3, 4, 4, 0, 0, true};
}

void TestDisc::cut()
{
    QFETCH(TitleCut, c);
    const auto &[path, title, method, from, to, source, earliest, latest, plain] = c;
    QTemporaryDir dir;
    const QString clipFile = dir.filePath("clip.vob");
    const CutMethod how = method == Cut::ByteRate ? CutMethod::ByteRate : CutMethod::Precise;
    const CutRequest request = titleCut(QFile::encodeName(disc(path)), title, how, method == Cut::Chapters, from, to,
                                        QFile::encodeName(clipFile));
    const CutResult result = engineCut(request);
    const QByteArray clip = readFile(clipFile);
    QCOMPARE(clip.size(), result.length);
    const Picture picture = firstPicture(clipFile);
    QCOMPARE(picture.source, source);
    QCOMPARE_GE(picture.second, earliest);
    QCOMPARE_LE(picture.second, latest);
    const VideoTimes times = videoTimes(clipFile);
    QCOMPARE_LT(times.widestGap, 0.5);
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

QTEST_GUILESS_MAIN(TestDisc)
#include "tst_disc.moc"
