#include "files/engine/ByteSource.h"
#include "files/engine/DvdPacks.h"
#include "files/engine/PrecisePlan.h"
#include "support/Cut.h"

#include <QtTest>
#include <fcntl.h>
#include <unistd.h>

using namespace morvane;
using namespace morvane::test;
using Bytes = QByteArray;
using Damage = std::function<void(Bytes &)>;
// offset, length; start, end and stream end in 90 kHz ticks; whether cut at NAV packs
using Plan = std::tuple<qint64, qint64, qint64, qint64, qint64, bool>;
// parsePack's result; when Ok, length, video PTS, sequence PTS (-1: none) and frame rate code
using Walk = std::tuple<int, qint64, qint64, qint64, int>;
Q_DECLARE_METATYPE(Walk)

// A source written to a file, planned on, and what comes of it.
struct Case {
    QString name;
    std::function<Bytes()> bytes;
    int start, end;
    Plan want;
    QString error; // what the refusal says, in part
    qint64 hole;   // zero bytes after the source's, that cost no disk
};
Q_DECLARE_METATYPE(Case)

static Plan ticks(const PreciseClip &c)
{
    const auto t = [](double seconds) { return qRound64(seconds * 90'000); };
    return {c.offset, c.length, t(c.startTime), t(c.endTime), t(c.streamEnd), c.navPacks};
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

// Every second read of dvd.vob's first sector finds it zeroed, as when something rewrites it meanwhile.
struct Flickering : ByteSource {
    Bytes bytes = readFile(media("dvd.vob"));
    int covered = 0;
    std::int64_t size() const override { return bytes.size(); }
    std::string name() const override { return "flicker.vob"; }
    std::size_t read(std::int64_t offset, void *buf, std::size_t len) override
    {
        len = std::size_t(std::clamp<qint64>(bytes.size() - offset, 0, qint64(len)));
        std::memcpy(buf, bytes.constData() + offset, len);
        if (offset < 2048 && covered++ % 2)
            std::memset(buf, 0, std::size_t(std::min<qint64>(2048 - offset, len)));
        return len;
    }
};

static Bytes packHeader(quint8 stuffing = 0) // MPEG-2, SCR 0, every marker bit set
{
    return Bytes("\x00\x00\x01\xBA\x44\x00\x04\x00\x04\x01\x01\x89\xC3", 13) + char(0xF8 | stuffing)
           + Bytes(stuffing, char(0xFF));
}

// A NAV pack as the format lays it out; vobu_ea 40, VOB 3, cell 2, sector 1000, search word i = 100 + i.
static Bytes navPack(quint32 start = 900'000, quint32 end = 945'000)
{
    Bytes b = packHeader() + Bytes("\x00\x00\x01\xBB\x00\x12", 6) + Bytes(18, '\x80');
    b += Bytes("\x00\x00\x01\xBF\x03\xD4\x00", 7) + Bytes(0x3D3, '\0');
    b += Bytes("\x00\x00\x01\xBF\x03\xFA\x01", 7) + Bytes(0x3F9, '\0');
    set(b, 0x2D, 1000);
    set(b, 0x40B, 1000);
    set(b, 0x39, start);
    set(b, 0x3D, end);
    set(b, 0x40F, 40);
    set(b, 0x41F, 3, 2);
    b[0x422] = 2;
    for (int i = 0; i < 42; ++i)
        set(b, 0x4F1 + 4 * i, 0x80000000u | quint32(100 + i));
    return b;
}

// Twelve VOBUs of one second from origin, each a NAV pack and three padding packs, without search pointers. VOBUs
// 6 to 11 are VOB `second`, whose clock starts again at origin when `restart`.
static Bytes syntheticTitle(quint32 origin, int first, int second, bool restart)
{
    const Bytes pad = with(packHeader() + Bytes("\0\0\1\xBE\0\0", 6), 18, 2028, 2) + Bytes(2028, '\xFF');
    Bytes all;
    for (int k = 0; k < 12; ++k) {
        const bool later = k >= 6;
        const quint32 start = origin + quint32(restart && later ? k - 6 : k) * 90'000u;
        Bytes nav = navPack(start, start + 90'000);
        set(nav, 0x2D, quint32(k * 4));
        set(nav, 0x40B, quint32(k * 4));
        set(nav, 0x40F, 3);
        set(nav, 0x41F, quint32(later ? second : first), 2);
        for (int i = 0; i < 42; ++i)
            set(nav, 0x4F1 + 4 * i, dvd::kNoVobu);
        all += nav + pad + pad + pad;
    }
    return all;
}

static Bytes ptsBytes(qint64 t)
{
    const char b[] = {char(0x21 | (t >> 29 & 0x0E)), char(t >> 22), char(t >> 14 | 1), char(t >> 7), char(t << 1 | 1)};
    return Bytes(b, 5);
}

// A pack of one MPEG-2 video PES holding payload, with a PTS when pts >= 0.
static Bytes videoPack(const Bytes &payload, qint64 pts = -1, quint8 stuffing = 0)
{
    const Bytes head = pts >= 0 ? Bytes("\x81\x80\x05", 3) + ptsBytes(pts) : Bytes("\x81\x00\x00", 3);
    const Bytes pes = with(Bytes("\0\0\1\xE0\0\0", 6), 4, quint32(head.size() + payload.size()), 2);
    return packHeader(stuffing) + pes + head + payload;
}

static const Bytes kSequence("\x00\x00\x01\xB3\x2D\x02\x40\x33\xFF\xFF", 10); // 720x576, 4:3, 25 fps
static const Bytes kPicture("\x00\x00\x01\x00\x00\x0F\xFF\xF8", 8);

class PreciseTest : public QObject {
    Q_OBJECT
private slots:
    void navPackReader_data()
    {
        QTest::addColumn<Bytes>("pack");
        QTest::addColumn<bool>("valid");
        QTest::newRow("as authored") << navPack() << true;
        QTest::newRow("VOBU across the clock's wrap") << navPack(0xFFFF'0000u, 0x0000'5000u) << true;
        QTest::newRow("truncated") << navPack().left(2047) << false;
        QTest::newRow("VOBU of no time") << navPack(900'000, 900'000) << false;
        QTest::newRow("VOBU of four seconds") << navPack(900'000, 1'260'000) << false;
        QTest::newRow("stuffed pack header") << packHeader(1) + navPack().mid(14, 2034) << false;
        QTest::newRow("system header first") << with(navPack(), 3, 0xBB, 1) << false;
        QTest::newRow("marker bit clear") << with(navPack(), 9, 0, 1) << false;
        QTest::newRow("system header length") << with(navPack(), 0x12, 0x13, 2) << false;
        QTest::newRow("PCI length") << with(navPack(), 0x2A, 0x3D3, 2) << false;
        QTest::newRow("PCI sub-stream 1") << with(navPack(), 0x2C, 1, 1) << false;
        QTest::newRow("DSI length") << with(navPack(), 0x404, 0x3FB, 2) << false;
        QTest::newRow("DSI sub-stream 0") << with(navPack(), 0x406, 0, 1) << false;
        QTest::newRow("PCI and DSI sectors differ") << with(navPack(), 0x40B, 1001) << false;
        QTest::newRow("vobu_ea 0") << with(navPack(), 0x40F, 0) << false;
    }

    void navPackReader()
    {
        QFETCH(Bytes, pack);
        QFETCH(bool, valid);
        const auto nav = dvd::parseNavPack(u8(pack), std::size_t(pack.size()));
        QCOMPARE(nav.has_value(), valid);
        if (!valid)
            return;
        QVERIFY(dvd::mayBeNavPack(u8(pack), 0x30)); // the cheap first look lets every NAV pack through
        // words: next_video, fwda 120 s .. 0.5 s, next_vobu, prev_vobu, bwda 0.5 s .. 120 s, prev_video
        const QList<quint32> got{nav->lbn,      nav->startPtm, nav->endPtm,  nav->vobuEa,
                                 nav->vobId,    nav->cellId,   nav->fwda[0], nav->fwda[18],
                                 nav->nextVobu, nav->prevVobu, nav->bwda[0], nav->bwda[18]};
        const quint32 w = 0x80000000u;
        QCOMPARE(got, (QList<quint32>{1000, get32(pack, 0x39), get32(pack, 0x3D), 40, 3, 2, w | 101, w | 119, w | 120,
                                      w | 121, w | 122, w | 140}));
        const std::array<int, 19> halves{240, 120, 60, 20, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1};
        QVERIFY(dvd::kForwardHalfSeconds == halves);
    }

    void vobuPointer() // from sector 100 of 2000; -1: none
    {
        for (auto [word, forward, to] : {std::tuple{0x7FFFFFFFu, false, -1LL},
                                         {0xC0000219u, true, 100LL + 0x219},
                                         {0x80000018u, false, 76LL},
                                         {0x0000076Bu, true, 1999LL},
                                         {0x0000076Cu, true, -1LL},
                                         {0x80000065u, false, -1LL}}) {
            const qint64 got = dvd::vobuTarget(100, word, forward, 2000).value_or(-1);
            QVERIFY2(got == to, qPrintable(QString("%1 %2: %3 not %4").arg(word, 0, 16).arg(forward).arg(got).arg(to)));
        }
    }

    void packWalk_data()
    {
        QTest::addColumn<Bytes>("bytes");
        QTest::addColumn<bool>("atEnd");
        QTest::addColumn<Walk>("want");
        const Bytes seq5 = videoPack(kSequence, 5);
        const qint64 last = (1LL << 33) - 1;
        const int ok = int(dvd::PackParse::Ok);
        const Walk invalid{int(dvd::PackParse::Invalid), 0, 0, 0, 0};
        QTest::newRow("sequence header first") << videoPack(kSequence + kPicture, 123'456) + Bytes("\0\0\1\xBA", 4)
                                               << false << Walk{ok, 46, 123'456, 123'456, 3};
        QTest::newRow("stuffed, largest PTS") << videoPack(kSequence, last, 3) << true << Walk{ok, 41, last, last, 3};
        QTest::newRow("picture first") << videoPack(kPicture + kSequence, 9'000) << true << Walk{ok, 46, 9'000, -1, 0};
        QTest::newRow("no PTS") << videoPack(kSequence) << true << Walk{ok, 33, -1, -1, 0};
        const Bytes audio("\0\0\1\xC0\0\x03\x81\0\0\0\0\1\xBE\0\x02\xFF\xFF\0\0\1\xB9", 21); // and padding, end code
        QTest::newRow("audio") << packHeader() + audio << true << Walk{ok, 35, -1, -1, 0};
        const Bytes mpeg1("\0\0\1\xBA\x21\0\1\0\1\x80\0\1\0\0\1\xE0\0\x12\xFF\x40\0", 21);
        QTest::newRow("MPEG-1") << mpeg1 + ptsBytes(77'000) + kSequence << true << Walk{ok, 36, 77'000, 77'000, 3};
        QTest::newRow("past what was read")
            << with(seq5, 18, 200, 2) << false << Walk{int(dvd::PackParse::NeedMore), 0, 0, 0, 0};
        QTest::newRow("past the end") << with(seq5, 18, 200, 2) << true << invalid;
        QTest::newRow("PTS in a 3-byte header") << with(seq5, 22, 3, 1) << true << invalid;
        QTest::newRow("PTS marker bit clear") << with(seq5, 27, 0x0A, 1) << true << invalid;
    }

    void packWalk()
    {
        QFETCH(Bytes, bytes);
        QFETCH(bool, atEnd);
        dvd::PackContents p;
        Walk got{int(dvd::parsePack(u8(bytes), std::size_t(bytes.size()), atEnd, p)), 0, 0, 0, 0};
        if (std::get<0>(got) == int(dvd::PackParse::Ok))
            got = {std::get<0>(got), qint64(p.length), p.videoPts.value_or(-1), p.sequencePts.value_or(-1),
                   p.frameRateCode};
        QTEST(got, "want");
    }

    void plan_data()
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
        const Marks vbr{{0, 5, {0, 208'896, 0, 486'000, 3'240'000, true}},
                        {3, 11, {112'640, 3'776'512, 270'000, 990'000, 3'240'000, true}},
                        {17, 33, {4'438'016, 3'184'640, 1'530'000, 2'970'000, 3'240'000, true}},
                        {22, 100, {4'646'912, 3'260'416, 1'962'000, 3'240'000, 3'240'000, true}}};
        const Marks dvd{{2, 7, {227'328, 735'232, 162'000, 648'000, 900'960, true}}};
        const Marks program{{1, 8, {67'584, 641'024, 86'400, 734'400, 892'800, false}}};
        rows("as made", "vbr.vob", vbr);
        rows("as made", "dvd.vob", dvd);
        rows("as made", "program.mpg", program);
        rows("zero-filled NAV packs", "vbr-unauthored.mpg",
             {{20, 30, {4'571'136, 2'809'856, 1'800'000, 2'718'000, 3'240'000, false}}});
        rows("no NAV packs", "plain.vob", {{5, 11, {1'019'904, 1'300'480, 432'000, 1'026'000, 1'080'000, false}}});
        rows("time stamps pass 2^33", "wrap.vob", {{2, 9, {389'120, 1'456'128, 162'000, 810'000, 1'080'000, false}}});
        rows("its first VOBU in the part before", "split/VTS_01_2.VOB",
             {{0, 3, {5'367, 1'439'744, 0, 306'000, 1'296'000, true}}});

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
        rows("vobu_ea past the end", "vbr.vob", vbr, eachNav([](Bytes &b, int at) { set(b, at + 0x40F, 0xFFFFFF); }));
        rows("vobu_ea and next_vobu skip a VOBU", "vbr.vob", vbr, eachNav([](Bytes &b, int at) {
                 const int next = at + int(get32(b, at + 0x40F) + 1) * 2048;
                 if (next + 2048 > b.size())
                     return;
                 const quint32 skip = get32(b, at + 0x40F) + 1 + get32(b, next + 0x40F);
                 set(b, at + 0x40F, skip);
                 set(b, at + 0x4F1 + 4 * 20, 0x80000000 | (skip + 1));
             }));
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

        // Marks on VOBU starts and both ends of a title; joins between VOBs.
        const quint32 wraps = 0xFFFF'FFFFu - 5 * 90'000u;
        for (auto [tag, origin, second] :
             {std::tuple{"title", 900'000u, 1}, {"title, clock wraps", wraps, 1}, {"title of two VOBs", 900'000u, 2}}) {
            for (auto [s, e] : {std::pair{3, 7}, {0, 1}, {11, 12}, {5, 40}}) {
                const int stop = std::min(e, 12);
                const Plan want{s * 8192, (stop - s) * 8192, s * 90'000, stop * 90'000, 12 * 90'000, true};
                add(tag, {"title.vob", [=] { return syntheticTitle(origin, 1, second, false); }, s, e, want, "", 0});
            }
        }
        auto badTitle = [&](const char *tag, int first, int second, bool restart, int s, const char *error) {
            add(tag,
                {"title.vob", [=] { return syntheticTitle(900'000, first, second, restart); }, s, s + 4, {}, error, 0});
        };
        badTitle("title", 1, 1, false, 12, "lies at or past the end");
        badTitle("title, VOB ids backwards", 2, 1, false, 3, "start again");
        badTitle("title, second VOB's clock from 0", 1, 2, true, 3, "start again");
    }

    // Whole VOBUs around the marks, found in a few small reads; the search pointers and a binary search agree.
    void plan()
    {
        QFETCH(Case, c);
        const Bytes bytes = c.bytes();
        QTemporaryFile file;
        QVERIFY(file.open() && writeFile(file.fileName(), bytes, bytes.size() + c.hole));
        FileByteSource source(file.handle(), c.name.toStdString());
        Plan got;
        const QString error = outcomeOf([&] { got = ticks(planPreciseClip(source, c.start, c.end)); });
        QVERIFY2(error.contains(c.error) && error.isEmpty() == c.error.isEmpty(), qPrintable(error));
        if (!error.isEmpty())
            return;
        QCOMPARE(got, c.want);
        const qint64 most = std::get<5>(c.want) && !c.hole ? 140'000 : 2'000'000; // a few sectors or GOPs a mark
        QVERIFY2(source.bytesRead() <= most, qPrintable(QString::number(source.bytesRead())));
        QCOMPARE(ticks(planPreciseClip(source, c.start, c.end, PlanOptions{false})), c.want);
    }

    void changingBytes() // an error that says so, never a crash or a plan from both versions
    {
        Flickering source;
        QCOMPARE(outcomeOf([&] { planPreciseClip(source, 2, 4); }),
                 "The source \"flicker.vob\" changed while it was being read.");
    }

    void joinedParts() // the split title reads, and plans, as the file it was split from
    {
        QFile files[3];
        std::vector<SourcePart> parts;
        for (int i = 0; i < 3; ++i) {
            files[i].setFileName(media(QString("split/VTS_01_%1.VOB").arg(i + 1)));
            QVERIFY(files[i].open(QIODevice::ReadOnly));
            parts.push_back({files[i].handle(), files[i].size(), files[i].fileName().toStdString()});
        }
        JoinedByteSource joined(parts);
        const Bytes whole = readFile(media("vbr.vob"));
        QCOMPARE(joined.size(), whole.size());
        QVERIFY(joined.name().find("VTS_01_1.VOB and 2 more") != std::string::npos);
        const qint64 from = parts[0].size - 3000;
        Bytes got(parts[1].size + 6000, '\0'); // into part 3
        QCOMPARE(joined.read(from, got.data(), std::size_t(got.size())), std::size_t(got.size()));
        QVERIFY(got == whole.mid(from, got.size()));
        QCOMPARE(joined.read(whole.size() - 7, got.data(), 99), 7u);
        QCOMPARE(joined.reads(), 2);
        joined.resetCounters();
        QCOMPARE(ticks(planPreciseClip(joined, 3, 11)), (Plan{112'640, 3'776'512, 270'000, 990'000, 3'240'000, true}));
        QVERIFY2(joined.bytesRead() < 128'000, qPrintable(QString::number(joined.bytesRead())));
        parts[1].size += 1; // a part shorter than it was
        JoinedByteSource shrunk(parts);
        const QString ended = outcomeOf([&] { shrunk.read(parts[0].size + parts[1].size - 10, got.data(), 64); });
        QVERIFY2(ended.contains("VTS_01_2.VOB\" ended after"), qPrintable(ended));
        const int folder = ::open(QFile::encodeName(media("split")).constData(), O_RDONLY);
        FileByteSource source(folder, 4096, "split");
        const QString error = outcomeOf([&] { source.read(0, got.data(), 16); });
        QCOMPARE(error, QString("Could not read \"split\": %1.").arg(strerror(EISDIR)));
        ::close(folder);
    }
};

QTEST_GUILESS_MAIN(PreciseTest)
#include "tst_precise.moc"
