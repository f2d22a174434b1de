#include "files/engine/ByteSource.h"
#include "files/engine/DvdPacks.h"
#include "files/engine/PrecisePlan.h"
#include "support/Cut.h"

#include <QtTest>
#include <deque>

using namespace morvane;
using namespace morvane::test;
using Bytes = QByteArray;
using Damage = std::function<void(Bytes &)>;
// seconds, to the 90 kHz tick; cut at NAV packs
using Plan = std::tuple<qint64, qint64, double, double, double, bool>;

struct Case {
    QString name;
    std::function<Bytes()> bytes;
    int start, end;
    Plan want;
    QString error; // part of the refusal
    qint64 hole;   // sparse zeros after the source
};
Q_DECLARE_METATYPE(Case)

static Plan ticks(const Plan &p)
{
    const auto &[offset, length, start, end, streamEnd, navPacks] = p;
    const auto t = [](double seconds) { return double(qRound64(seconds * 90'000)); };
    return {offset, length, t(start), t(end), t(streamEnd), navPacks};
}

static Plan ticks(const PreciseClip &c)
{
    return ticks(Plan{c.offset, c.length, c.startTime, c.endTime, c.streamEnd, c.navPacks});
}

static const std::uint8_t *u8(const Bytes &b) { return reinterpret_cast<const std::uint8_t *>(b.constData()); }

static void set(Bytes &b, int at, quint32 v, int width = 4) // big-endian
{
    for (int i = 0; i < width; ++i)
        b[at + i] = char(v >> 8 * (width - 1 - i));
}

static Bytes with(Bytes b, int at, quint32 v, int width = 4)
{
    set(b, at, v, width);
    return b;
}

static quint32 get32(const Bytes &b, int at) { return qFromBigEndian<quint32>(b.constData() + at); }

static Damage eachNav(const std::function<void(Bytes &, int)> &change) // at each NAV pack
{
    return [change](Bytes &b) {
        for (int at = 0; at + 2048 <= b.size(); at += 2048)
            if (dvd::parseNavPack(u8(b) + at, 2048))
                change(b, at);
    };
}

static Bytes packHeader(quint8 stuffing = 0) // MPEG-2, SCR 0, markers set
{
    return Bytes("\0\0\1\xBA\x44\0\4\0\4\1\1\x89\xC3", 13) + char(0xF8 | stuffing) + Bytes(stuffing, '\xFF');
}

// vobu_ea 40, VOB 3, cell 2, sector 1000, search word i = 100 + i.
static Bytes navPack(quint32 start = 900'000, quint32 end = 945'000)
{
    Bytes b = packHeader() + Bytes("\0\0\1\xBB\0\x12", 6) + Bytes(18, '\x80');
    b += Bytes("\0\0\1\xBF\3\xD4\0", 7) + Bytes(0x3D3, '\0') + Bytes("\0\0\1\xBF\3\xFA\1", 7) + Bytes(0x3F9, '\0');
    for (auto [at, v] :
         {std::pair{0x2D, 1000u}, {0x40B, 1000u}, {0x39, start}, {0x3D, end}, {0x40F, 40u}, {0x41F, 0x00030002u}})
        set(b, at, v);
    for (int i = 0; i < 42; ++i)
        set(b, 0x4F1 + 4 * i, 0x80000000u | quint32(100 + i));
    return b;
}

// Twelve 1 s VOBUs, no search pointers; 6 to 11 are VOB `second`, its clock from origin if `restart`.
static Bytes syntheticTitle(quint32 origin, int first, int second, bool restart)
{
    const Bytes pad = with(packHeader() + Bytes("\0\0\1\xBE\0\0", 6), 18, 2028, 2) + Bytes(2028, '\xFF');
    Bytes all;
    for (int k = 0; k < 12; ++k) {
        const bool later = k >= 6;
        const quint32 start = origin + quint32(restart && later ? k - 6 : k) * 90'000u;
        Bytes nav = with(with(navPack(start, start + 90'000), 0x2D, k * 4), 0x40B, k * 4);
        nav = with(with(nav, 0x40F, 3), 0x41F, later ? second : first, 2);
        for (int i = 0; i < 42; ++i)
            set(nav, 0x4F1 + 4 * i, dvd::kNoVobu);
        all += nav + pad + pad + pad;
    }
    return all;
}

// every second read finds the first NAV pack zeroed
struct Flickering : FileByteSource {
    using FileByteSource::FileByteSource;
    int reads = 0;
    std::size_t read(std::int64_t offset, void *buf, std::size_t len) override
    {
        len = FileByteSource::read(offset, buf, len);
        if (offset < 2048 && reads++ % 2)
            std::memset(buf, 0, std::min<std::size_t>(len, std::size_t(2048 - offset)));
        return len;
    }
};

class PreciseTest : public QObject {
    Q_OBJECT
private slots:
    void navPackReader_data();
    void navPackReader();
    void plan_data();
    // PES: no flags; stuffing, buffer size, time stamps.
    void mpeg1Pack();
    // Split titles read as one file; a shrunk part or changing source stops the plan.
    void sources();
    // Whole VOBUs round the marks in few small reads; pointers and binary search agree.
    void plan();
};

void PreciseTest::navPackReader_data()
{
    QTest::addColumn<Bytes>("pack");
    QTest::addColumn<bool>("valid");
    QTest::newRow("as authored") << navPack() << true;
    QTest::newRow("VOBU across the clock's wrap") << navPack(0xFFFF'0000u, 0x0000'5000u) << true;
    QTest::newRow("truncated") << navPack().left(2047) << false;
    QTest::newRow("VOBU of four seconds") << navPack(900'000, 1'260'000) << false;
    QTest::newRow("stuffed pack header") << packHeader(1) + navPack().mid(14, 2034) << false;
    QTest::newRow("marker bit clear") << with(navPack(), 9, 0, 1) << false;
    QTest::newRow("DSI length") << with(navPack(), 0x404, 0x3FB, 2) << false;
    QTest::newRow("PCI and DSI sectors differ") << with(navPack(), 0x40B, 1001) << false;
    QTest::newRow("vobu_ea 0") << with(navPack(), 0x40F, 0) << false;
}

void PreciseTest::navPackReader()
{
    QFETCH(Bytes, pack);
    QFETCH(bool, valid);
    const auto nav = dvd::parseNavPack(u8(pack), std::size_t(pack.size()));
    QCOMPARE(nav.has_value(), valid);
    if (!valid)
        return;
    QVERIFY(dvd::mayBeNavPack(u8(pack), 0x30));
    // word i: 1 to 19 fwda 120 s .. 0.5 s, 20 next_vobu, 21 prev_vobu, 22 to 40 bwda 0.5 s .. 120 s
    const QList<quint32> got{nav->lbn,     nav->startPtm, nav->endPtm,   nav->vobuEa,   nav->vobId,   nav->cellId,
                             nav->fwda[0], nav->fwda[18], nav->nextVobu, nav->prevVobu, nav->bwda[0], nav->bwda[18]};
    const quint32 w = 0x80000000u;
    QCOMPARE(got, (QList<quint32>{1000, get32(pack, 0x39), get32(pack, 0x3D), 40, 3, 2, w | 101, w | 119, w | 120,
                                  w | 121, w | 122, w | 140}));
    const auto to = [](quint32 word, bool forward) { return dvd::vobuTarget(100, word, forward, 2000).value_or(-1); };
    QCOMPARE((QList<qint64>{to(0xC0000219u, true), to(0x80000018u, false), to(0x7FFFFFFFu, false), to(0x76Bu, true),
                            to(0x76Cu, true), to(0x80000065u, false)}),
             (QList<qint64>{100 + 0x219, 76, -1, 1999, -1, -1})); // sector 100 of 2000; -1: nowhere
}

void PreciseTest::plan_data()
{
    QTest::addColumn<Case>("c");
    auto add = [](const QString &tag, const Case &c) {
        QTest::addRow("%s, %d to %d", qPrintable(tag), c.start, c.end) << c;
    };
    using Marks = std::vector<std::tuple<int, int, Plan>>;
    auto rows = [&](const char *tag, const QString &name, const Marks &marks, const Damage &damage = {},
                    qint64 hole = 0, const QString &error = "") {
        const auto bytes = [=] {
            Bytes b = readFile(media(name));
            if (damage)
                damage(b);
            return b;
        };
        for (auto [s, e, want] : marks)
            add(tag + (", " + name), {name, bytes, s, e, want, error, hole});
    };
    const Marks vbr{{0, 5, {0, 208'896, 0, 5.4, 36, true}},
                    {3, 11, {112'640, 3'776'512, 3, 11, 36, true}},
                    {17, 33, {4'438'016, 3'184'640, 17, 33, 36, true}},
                    {22, 100, {4'646'912, 3'260'416, 21.8, 36, 36, true}}};
    const Marks dvd{{2, 7, {227'328, 735'232, 1.8, 7.2, 10.010667, true}}};
    const Marks program{{1, 8, {67'584, 641'024, 0.96, 8.16, 9.92, false}}};
    rows("as made", "vbr.vob", vbr);
    rows("as made", "dvd.vob", dvd);
    rows("as made", "program.mpg", program);
    rows("zero-filled NAV packs", "vbr-unauthored.mpg", {{20, 30, {4'571'136, 2'809'856, 20, 30.2, 36, false}}});
    rows("no NAV packs", "plain.vob", {{5, 11, {1'019'904, 1'300'480, 4.8, 11.4, 12, false}}});
    rows("time stamps pass 2^33", "wrap.vob", {{2, 9, {389'120, 1'456'128, 1.8, 9, 12, false}}});
    rows("first VOBU in the part before", "split/VTS_01_2.VOB", {{0, 3, {5'367, 1'439'744, 0, 3.4, 14.4, true}}});

    auto words = [](quint32 w) {
        return eachNav([w](Bytes &b, int at) {
            for (int i = 0; i < 42; ++i)
                set(b, at + 0x4F1 + 4 * i, w);
        });
    };
    rows("search pointers 3 sectors on", "vbr.vob", vbr, words(0x80000003));
    rows("no search pointers", "vbr.vob", vbr, words(dvd::kNoVobu));
    rows("vobu_ea 1 short", "vbr.vob", vbr,
         eachNav([](Bytes &b, int at) { set(b, at + 0x40F, get32(b, at + 0x40F) - 1); }));
    rows("a byte after the first NAV pack", "dvd.vob", dvd, [](Bytes &b) { b[2048] = char(0xA2); });
    rows("first two NAV packs zeroed", "dvd.vob", dvd, eachNav([zeroed = 0](Bytes &b, int at) mutable {
             if (zeroed++ < 2)
                 b.replace(at, 2048, Bytes(2048, 0));
         }));
    rows("padding after the stream", "program.mpg", program, {}, 300 << 10);
    rows("8 GiB sparse file", "dvd.vob", dvd, {}, 8LL << 30);

    auto refused = [&](const char *name, int s, int e, const QString &error, const Damage &damage = {}) {
        rows("refused", name, {{s, e, {}}}, damage, 0, error);
    };
    const QString again = "time stamps in \"%1\" start again part way through (near byte %2)";
    refused("random.bin", 0, 5, "\"random.bin\" is not an MPEG program stream");
    refused("empty.vob", 0, 5, "\"empty.vob\" is empty");
    refused("twovobs.vob", 1, 3, again.arg("twovobs.vob").arg(552'960));
    refused("dvd.vob", 2, 4, again.arg("dvd.vob").arg(1'370'112), [](Bytes &b) { b += b; }); // the VOB twice
    refused("dvd.vob", 11, 12, "start mark (11 s) lies at or past the end of the video in \"dvd.vob\" (10.01 s)");

    // VOBU starts, title ends, joins between VOBs.
    const quint32 wraps = 0xFFFF'FFFFu - 5 * 90'000u;
    for (auto [tag, origin, second] :
         {std::tuple{"title", 900'000u, 1}, {"title, clock wraps", wraps, 1}, {"title of two VOBs", 900'000u, 2}}) {
        for (auto [s, e] : {std::pair{3, 7}, {0, 1}, {11, 12}, {5, 40}}) {
            const int stop = std::min(e, 12);
            const Plan want{s * 8192, (stop - s) * 8192, s, stop, 12, true};
            add(tag, {"title.vob", [=] { return syntheticTitle(origin, 1, second, false); }, s, e, want, "", 0});
        }
    }
    for (auto [tag, first, second, restart, s, error] :
         {std::tuple{"title", 1, 1, false, 12, "lies at or past the end"},
          {"title, VOB ids backwards", 2, 1, false, 3, "start again"},
          {"title, second VOB's clock from 0", 1, 2, true, 3, "start again"}})
        add(tag,
            {"title.vob", [=] { return syntheticTitle(900'000, first, second, restart); }, s, s + 4, {}, error, 0});
}

void PreciseTest::mpeg1Pack()
{
    const Bytes pts("\x21\x00\x05\x59\x91", 5); // 77000
    const Bytes sequence("\0\0\1\xB3\x2D\x02\x40\x33\xFF\xFF", 10);
    const Bytes pack = Bytes("\0\0\1\xBA\x21\0\1\0\1\x80\0\1\0\0\1\xE0\0\x12\xFF\x40\0", 21) + pts + sequence;
    dvd::PackContents got;
    QCOMPARE(dvd::parsePack(u8(pack), std::size_t(pack.size()), true, got), dvd::PackParse::Ok);
    QCOMPARE((QList<qint64>{qint64(got.length), got.mpeg2, got.videoPts.value_or(-1), got.sequencePts.value_or(-1)}),
             (QList<qint64>{pack.size(), false, 77'000, 77'000}));
}

void PreciseTest::sources()
{
    std::deque<QFile> files; // kept open while read
    std::vector<SourcePart> parts;
    for (int i = 1; i <= 3; ++i) {
        QFile &file = files.emplace_back(media(QString("split/VTS_01_%1.VOB").arg(i)));
        QVERIFY(file.open(QIODevice::ReadOnly));
        parts.push_back({file.handle(), file.size(), file.fileName().toStdString()});
    }
    const Bytes whole = readFile(media("vbr.vob"));
    JoinedByteSource joined(parts);
    QCOMPARE(joined.size(), whole.size());
    QVERIFY2(joined.name().ends_with("/VTS_01_1.VOB and 2 more"), joined.name().c_str());
    const qint64 one = parts[0].size;
    const qint64 two = one + parts[1].size;
    for (auto [at, n] : {std::pair{one - 5, 10LL}, {one - 3000, two - one + 6000}, {whole.size() - 7, 99LL}}) {
        Bytes got(n, '\0');
        got.truncate(qsizetype(joined.read(at, got.data(), std::size_t(n))));
        QCOMPARE(got, whole.mid(at, n));
    }
    parts[1].size += 1;
    char buf[64];
    const QString shorter = outcomeOf([&] { JoinedByteSource(parts).read(two - 10, buf, sizeof buf); });
    const QString ended = "VTS_01_2.VOB\" ended after %1 bytes, not the %2 it had.";
    QVERIFY2(shorter.endsWith(ended.arg(parts[1].size - 1).arg(parts[1].size)), qPrintable(shorter));
    QFile dvd(media("dvd.vob"));
    QVERIFY(dvd.open(QIODevice::ReadOnly));
    Flickering flickering(dvd.handle(), "flicker.vob");
    QCOMPARE(outcomeOf([&] { planPreciseClip(flickering, 2, 4); }),
             "The source \"flicker.vob\" changed while it was being read.");
}

void PreciseTest::plan()
{
    QFETCH(Case, c);
    const Bytes bytes = c.bytes();
    QTemporaryFile file;
    QVERIFY(file.open() && writeFile(file.fileName(), bytes, bytes.size() + c.hole));
    FileByteSource source(file.handle(), c.name.toStdString());
    Plan got;
    const QString error = outcomeOf([&] { got = ticks(planPreciseClip(source, c.start, c.end)); });
    QVERIFY2(says(error, c.error), qPrintable(error));
    if (!error.isEmpty())
        return;
    QCOMPARE(got, ticks(c.want));
    const qint64 most = std::get<5>(c.want) && !c.hole ? 140'000 : 2'000'000;
    QCOMPARE_LE(source.bytesRead(), most);
    QCOMPARE(ticks(planPreciseClip(source, c.start, c.end, PlanOptions{false})), ticks(c.want));
}

QTEST_GUILESS_MAIN(PreciseTest)
#include "tst_precise.moc"
