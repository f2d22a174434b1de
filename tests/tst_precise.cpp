#include "files/engine/ByteSource.h"
#include "files/engine/DvdPacks.h"
#include "files/engine/PrecisePlan.h"

#include <QtTest>
#include <fcntl.h>
#include <unistd.h>

using namespace morvane;
using Bytes = QByteArray;
using Damage = std::function<void(Bytes &)>; // changes a source's bytes
Q_DECLARE_METATYPE(Damage)

static QString media(const QString &name) { return QStringLiteral(MORVANE_TEST_MEDIA "/") + name; }
static const std::uint8_t *u8(const Bytes &b) { return reinterpret_cast<const std::uint8_t *>(b.constData()); }
static void set(Bytes &b, int at, quint32 v, int width = 4) // big-endian
{
    for (int i = 0; i < width; ++i)
        b[at + i] = char(v >> 8 * (width - 1 - i));
}
static quint32 get16(const Bytes &b, int at) { return quint32(u8(b)[at] << 8 | u8(b)[at + 1]); }
static Bytes with(Bytes b, int at, quint32 v, int width = 4) { return set(b, at, v, width), b; }
static quint32 get32(const Bytes &b, int at) { return get16(b, at) << 16 | get16(b, at + 2); }
static Bytes fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : Bytes();
}
static QString show(const PreciseClip &c)
{
    return QString("%1 + %2, %3 s to %4 s of %5, nav %6")
        .arg(c.offset)
        .arg(c.length)
        .arg(c.startTime)
        .arg(c.endTime)
        .arg(c.streamEnd)
        .arg(c.navPacks);
}
static PreciseClip planOf(const QString &files, int start, int end, bool pointers = true) // files: parts, spaced
{
    std::vector<std::unique_ptr<QFile>> open;
    std::vector<SourcePart> parts;
    for (const QString &file : files.split(' ')) {
        open.push_back(std::make_unique<QFile>(media(file)));
        if (!open.back()->open(QIODevice::ReadOnly))
            throw std::runtime_error("cannot open " + file.toStdString());
        parts.push_back({open.back()->handle(), open.back()->size(), file.toStdString()});
    }
    JoinedByteSource source(parts);
    return planPreciseClip(source, start, end, PlanOptions{pointers});
}

// Every second read of the sector at `at` finds it zeroed, as when something rewrites it meanwhile.
struct Flickering : ByteSource {
    Bytes bytes;
    qint64 at;
    int covered = 0;
    Flickering(Bytes b, qint64 sector) : bytes(std::move(b)), at(sector) {}
    std::int64_t size() const override { return bytes.size(); }
    std::string name() const override { return "flicker.vob"; }
    std::size_t read(std::int64_t offset, void *buf, std::size_t len) override
    {
        len = std::size_t(std::clamp<qint64>(bytes.size() - offset, 0, qint64(len)));
        std::memcpy(buf, bytes.constData() + offset, len);
        const std::int64_t from = std::max<std::int64_t>(offset, at),
                           to = std::min<std::int64_t>(offset + len, at + 2048);
        if (from < to && covered++ % 2)
            std::memset(static_cast<char *>(buf) + (from - offset), 0, std::size_t(to - from));
        return len;
    }
};
template <class F>
static void expectThrow(F f, const QString &text)
{
    try {
        f();
        QFAIL(qPrintable("no error, wanted: " + text));
    } catch (const std::exception &e) {
        QVERIFY2(QString(e.what()).contains(text), qPrintable(QString(e.what()) + " lacks: " + text));
    }
}

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
    set(b, 0x2D, 1000), set(b, 0x40B, 1000), set(b, 0x39, start), set(b, 0x3D, end), set(b, 0x40F, 40);
    set(b, 0x41F, 3, 2), b[0x422] = 2;
    for (int i = 0; i < 42; ++i)
        set(b, 0x4F1 + 4 * i, 0x80000000u | quint32(100 + i));
    return b;
}

enum Title { Plain, WrappingClock, NoPointers, TwoVobs, VobIdsBackwards, SecondVobFromZero };

// Twelve VOBUs of one second, each a NAV pack and three padding packs, pointers set as authoring tools set them.
static Bytes syntheticTitle(Title kind)
{
    const quint32 origin = kind == WrappingClock ? 0xFFFF'FFFFu - 5 * 90'000u : 900'000;
    const Bytes pad = with(packHeader() + Bytes("\0\0\1\xBE\0\0", 6), 18, 2028, 2) + Bytes(2028, '\xFF');
    Bytes all;
    for (int k = 0; k < 12; ++k) {
        const bool later = k >= 6;
        const quint32 start = origin + quint32(kind == SecondVobFromZero && later ? k - 6 : k) * 90'000u;
        Bytes nav = navPack(start, start + 90'000);
        set(nav, 0x2D, quint32(k * 4)), set(nav, 0x40B, quint32(k * 4)), set(nav, 0x40F, 3);
        const bool two = kind == TwoVobs || kind == SecondVobFromZero;
        set(nav, 0x41F, two ? 1 + later : kind == VobIdsBackwards ? 2 - later : 1, 2);
        auto word = [&](int to) {
            return to < 0 || to > 11 || kind == NoPointers ? 0x3FFFFFFFu : 0x80000000u | quint32(std::abs(to - k) * 4);
        };
        for (int i = 0; i < 19; ++i) { // whole VOBUs in the step, rounded down
            const int half = dvd::kForwardHalfSeconds[std::size_t(i)];
            set(nav, 0x4F1 + 4 * (1 + i), word(k + half / 2)), set(nav, 0x4F1 + 4 * (40 - i), word(k - (half + 1) / 2));
        }
        set(nav, 0x4F1 + 4 * 20, word(k + 1)), set(nav, 0x4F1 + 4 * 21, word(k - 1));
        all += nav + pad + pad + pad;
    }
    return all;
}

static Bytes ptsBytes(qint64 t)
{
    const char b[] = {char(0x21 | (t >> 29 & 0x0E)), char(t >> 22), char(t >> 14 | 1), char(t >> 7), char(t << 1 | 1)};
    return Bytes(b, 5);
}
// An MPEG-2 video PES holding payload, with a PTS when pts >= 0.
static Bytes videoPes(const Bytes &payload, qint64 pts = -1)
{
    const Bytes head = pts >= 0 ? Bytes("\x81\x80\x05", 3) + ptsBytes(pts) : Bytes("\x81\x00\x00", 3);
    return with(Bytes("\0\0\1\xE0\0\0", 6), 4, quint32(head.size() + payload.size()), 2) + head + payload;
}
static const Bytes kSequence("\x00\x00\x01\xB3\x2D\x02\x40\x33\xFF\xFF", 10); // 720x576, 4:3, 25 fps
static const Bytes kPicture("\x00\x00\x01\x00\x00\x0F\xFF\xF8", 8);

// The video packets' time stamps as ffprobe reads them, in file order, in its seconds.
static QList<double> ffprobe(const QString &path, const QStringList &more = {})
{
    QProcess p;
    p.start("ffprobe",
            QStringList{"-v", "error", "-select_streams", "v:0", "-show_entries", "packet=pts_time", "-of", "csv=p=0"}
                + more + QStringList{path});
    QList<double> times;
    for (const QByteArray &line : p.waitForFinished(60'000) ? p.readAllStandardOutput().split('\n') : QByteArrayList())
        if (bool ok = false; (line.split(',')[0].toDouble(&ok), ok))
            times.append(line.split(',')[0].toDouble());
    return times;
}

struct Unit {
    qint64 offset, time, end = 0; // from the first NAV pack's start or first video PTS; end: a NAV pack's VOBU_E_PTM
};

// Every place a clip may start, read through the whole file.
static QList<Unit> unitsOf(const Bytes &all, bool nav)
{
    QList<Unit> units;
    std::optional<qint64> origin;
    for (qint64 at = all.indexOf(Bytes("\0\0\1\xBA", 4)); at >= 0 && at < all.size();) {
        const std::size_t left = std::size_t(all.size() - at);
        dvd::PackContents pack;
        if (nav) {
            if (const auto p = dvd::parseNavPack(u8(all) + at, left)) {
                origin = origin.value_or(p->startPtm);
                units.append({at, quint32(p->startPtm - quint32(*origin)), quint32(p->endPtm - quint32(*origin))});
            }
            at = all.indexOf(Bytes("\0\0\1\xBA", 4), at + 1);
        } else if (dvd::parsePack(u8(all) + at, left, true, pack) == dvd::PackParse::Ok) {
            if (!origin)
                origin = pack.videoPts;
            const qint64 wrap = 1LL << 33;
            if (pack.sequencePts)
                units.append({at, ((*pack.sequencePts - *origin + wrap / 2) % wrap + wrap) % wrap - wrap / 2});
            at += qint64(pack.length);
        } else {
            break;
        }
    }
    return units;
}

class PreciseTest : public QObject {
    Q_OBJECT
private slots:
    void navPackReader_data()
    {
        QTest::addColumn<Bytes>("pack");
        QTest::addColumn<bool>("valid");
        Bytes zeroFilled = navPack(); // as encoders leave it before authoring
        zeroFilled.replace(0x2D, 0x3D3, Bytes(0x3D3, 0)).replace(0x407, 0x3F9, Bytes(0x3F9, 0));
        QTest::newRow("as authored") << navPack() << true;
        QTest::newRow("VOBU across the clock's wrap") << navPack(0xFFFF'0000u, 0x0000'5000u) << true;
        QTest::newRow("zero-filled") << zeroFilled << false;
        QTest::newRow("truncated") << navPack().left(2047) << false;
        QTest::newRow("PCI length") << with(navPack(), 0x2A, 0x3D3, 2) << false;
        QTest::newRow("DSI length") << with(navPack(), 0x404, 0x3FB, 2) << false;
        QTest::newRow("system header length") << with(navPack(), 0x12, 0x13, 2) << false;
        QTest::newRow("DSI sub-stream 0") << with(navPack(), 0x406, 0, 1) << false;
        QTest::newRow("PCI sub-stream 1") << with(navPack(), 0x2C, 1, 1) << false;
        QTest::newRow("PCI and DSI sectors differ") << with(navPack(), 0x40B, 1001) << false;
        QTest::newRow("VOBU of no time") << navPack(900'000, 900'000) << false;
        QTest::newRow("VOBU of four seconds") << navPack(900'000, 1'260'000) << false;
        QTest::newRow("vobu_ea 0") << with(navPack(), 0x40F, 0) << false;
        QTest::newRow("stuffed pack header") << packHeader(1) + navPack().mid(14, 2034) << false;
        QTest::newRow("MPEG-1 pack header") << with(navPack(), 4, 0x21, 1) << false;
        QTest::newRow("marker bit clear") << with(navPack(), 9, 0, 1) << false;
        QTest::newRow("not a pack") << Bytes(2048, '\x47') << false;
        QTest::newRow("system header first") << with(navPack(), 3, 0xBB, 1) << false;
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
        // words in order: next_video, fwda 120 s .. 0.5 s, next_vobu, prev_vobu, bwda 0.5 s .. 120 s, prev_video
        const QList<quint32> got{nav->lbn,
                                 nav->startPtm,
                                 nav->endPtm,
                                 nav->vobuEa,
                                 nav->vobId,
                                 nav->cellId,
                                 nav->fwda[0] & 0xFFFF,
                                 nav->fwda[18] & 0xFFFF,
                                 nav->nextVobu & 0xFFFF,
                                 nav->prevVobu & 0xFFFF,
                                 nav->bwda[0] & 0xFFFF,
                                 nav->bwda[18] & 0xFFFF,
                                 quint32(dvd::kForwardHalfSeconds[0]),
                                 quint32(dvd::kForwardHalfSeconds[3]),
                                 quint32(dvd::kForwardHalfSeconds[18])};
        QCOMPARE(got, (QList<quint32>{1000, get32(pack, 0x39), get32(pack, 0x3D), 40, 3, 2, 101, 119, 120, 121, 122,
                                      140, 240, 20, 1}));
    }

    void vobuPointer() // from sector 100 of 2000; -1: none
    {
        for (auto [word, forward, to] : {std::tuple{0x3FFFFFFFu, true, -1LL},
                                         {0xBFFFFFFFu, true, -1LL},
                                         {0x7FFFFFFFu, false, -1LL},
                                         {0xC0000219u, true, 100LL + 0x219},
                                         {0x80000018u, false, 76LL},
                                         {0x80000000u, true, 100LL},
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
        QTest::addColumn<QString>("want"); // result; when Ok: length, video PTS, sequence PTS, frame rate code
        const Bytes seq5 = packHeader() + videoPes(kSequence, 5), mpeg1 = Bytes("\0\0\1\xE0\0\x12\xFF\x40\0", 9);
        QTest::newRow("sequence header first")
            << packHeader() + videoPes(kSequence + kPicture, 123'456) + Bytes("\0\0\1\xBA", 4) << false
            << "0 46 123456 123456 3";
        QTest::newRow("stuffed, largest PTS")
            << packHeader(3) + videoPes(kSequence, (1LL << 33) - 1) << true << "0 41 8589934591 8589934591 3";
        QTest::newRow("picture first") << packHeader() + videoPes(kPicture + kSequence, 9'000) << true
                                       << "0 46 9000 -1 0";
        QTest::newRow("no PTS") << packHeader() + videoPes(kSequence) << true << "0 33 -1 -1 0";
        const Bytes audio("\0\0\1\xC0\0\x03\x81\0\0\0\0\1\xBE\0\x02\xFF\xFF\0\0\1\xB9", 21); // and padding, end code
        QTest::newRow("audio") << packHeader() + audio << true << "0 35 -1 -1 0";
        QTest::newRow("MPEG-1") << Bytes("\0\0\1\xBA\x21\0\1\0\1\x80\0\1", 12) + mpeg1 + ptsBytes(77'000) + kSequence
                                << true << "0 36 77000 77000 3";
        QTest::newRow("past what was read") << with(seq5, 18, 200, 2) << false << "1";
        QTest::newRow("past the end") << with(seq5, 18, 200, 2) << true << "2";
        QTest::newRow("PTS in a 3-byte header") << with(seq5, 22, 3, 1) << true << "2";
        QTest::newRow("PES header too long") << with(seq5, 22, 40, 1) << true << "2";
        QTest::newRow("PTS marker bit clear") << with(seq5, 27, 0x0A, 1) << true << "2";
        QTest::newRow("garbage") << packHeader() + Bytes(40, '\x55') << true << "2";
        QTest::newRow("not a pack") << Bytes(64, '\0') << true << "2";
    }

    void packWalk()
    {
        QFETCH(Bytes, bytes);
        QFETCH(bool, atEnd);
        dvd::PackContents p;
        QString got = QString::number(int(dvd::parsePack(u8(bytes), std::size_t(bytes.size()), atEnd, p)));
        if (got == "0")
            got += QString(" %1 %2 %3 %4")
                       .arg(p.length)
                       .arg(p.videoPts.value_or(-1))
                       .arg(p.sequencePts.value_or(-1))
                       .arg(p.frameRateCode);
        QTEST(got, "want");
    }

    void plan_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::addColumn<bool>("nav");
        auto rows = [](const char *file, bool nav, std::initializer_list<std::pair<int, int>> marks) {
            for (auto [s, e] : marks)
                QTest::addRow("%s, %d to %d", file, s, e) << file << s << e << nav;
        };
        rows("vbr.vob", true, {{0, 5}, {3, 6}, {3, 11}, {8, 9}, {13, 20}, {17, 33}, {29, 36}, {22, 100}});
        rows("dvd.vob", true, {{0, 10}, {2, 7}, {9, 10}});
        rows("vbr-unauthored.mpg", false, {{3, 11}, {20, 30}}); // zero-filled NAV packs
        rows("plain.vob", false, {{0, 4}, {5, 11}});
        rows("wrap.vob", false, {{2, 9}, {7, 11}}); // time stamps pass 2^33
        rows("program.mpg", false, {{1, 8}});
        rows("split/VTS_01_2.VOB", true, {{0, 3}});
        rows("split/VTS_01_3.VOB", true, {{4, 9}});
    }

    // The clip is whole VOBUs around the marks, found in a few small reads; the search pointers and a binary
    // search over packs agree.
    void plan()
    {
        QFETCH(QString, file);
        QFETCH(int, start);
        QFETCH(int, end);
        QFETCH(bool, nav);
        QFile f(media(file));
        QVERIFY(f.open(QIODevice::ReadOnly));
        FileByteSource source(f.handle(), file.toStdString());
        const PreciseClip clip = planPreciseClip(source, start, end);
        QVERIFY2(source.bytesRead() <= (nav ? 128'000 : 2'000'000), qPrintable(QString::number(source.bytesRead())));
        const Bytes all = fileBytes(media(file));
        const QList<Unit> units = unitsOf(all, nav);
        QVERIFY(!units.isEmpty());
        Unit from = units.first(); // the last unit at or before the start mark, the first at or after the end mark
        std::optional<Unit> to;
        for (const Unit &u : units) {
            if (u.time <= start * 90'000LL)
                from = u;
            if (u.time >= end * 90'000LL && !to)
                to = u;
        }
        double streamEnd = units.last().end / 90'000.0; // the last VOBU's end, however much of it this file holds
        if (!nav) { // one frame after the latest picture, whose time stamp may be implied rather than written
            const QList<double> times = ffprobe(media(file)), head = ffprobe(media(file), {"-read_intervals", "%+#1"});
            QVERIFY(!times.isEmpty() && !head.isEmpty());
            const double latest = *std::max_element(times.begin(), times.end()) - head.first();
            QVERIFY2(clip.streamEnd >= latest - 0.001 && clip.streamEnd <= latest + 0.041,
                     qPrintable(show(clip) + ", latest picture " + QString::number(latest)));
            streamEnd = clip.streamEnd;
        }
        const qint64 stop = to ? to->offset : all.size();
        QCOMPARE(show(clip), show({from.offset, stop - from.offset, from.time / 90'000.0,
                                   to ? to->time / 90'000.0 : streamEnd, streamEnd, nav}));
        QVERIFY2(clip.startTime > start - 1 && clip.endTime < end + 1, qPrintable(show(clip)));
        QCOMPARE(show(planOf(file, start, end, false)), show(clip));
    }

    void damaged_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<Damage>("damage");
        QTest::addColumn<qint64>("size"); // the damaged file made this long with a hole; 0: as it is
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        auto eachNav = [](std::function<void(Bytes &, int)> change) {
            return Damage([change](Bytes &b) {
                for (int at = 0; at + 2048 <= b.size(); at += 2048)
                    if (dvd::parseNavPack(u8(b) + at, 2048))
                        change(b, at);
            });
        };
        auto words = [eachNav](quint32 w) {
            return eachNav([w](Bytes &b, int at) {
                for (int i = 0; i < 42; ++i)
                    set(b, at + 0x4F1 + 4 * i, w);
            });
        };
        auto rows = [](const char *tag, const char *file, const Damage &damage,
                       std::initializer_list<std::pair<int, int>> marks, qint64 size = 0) {
            for (auto [s, e] : marks)
                QTest::addRow("%s, %d to %d", tag, s, e) << file << damage << size << s << e;
        };
        const auto vbr = {std::pair{0, 5}, {8, 9}, {13, 33}, {31, 34}};
        rows("search pointers 3 sectors on", "vbr.vob", words(0x80000003), vbr);
        rows("no search pointers", "vbr.vob", words(0x3FFFFFFF), vbr);
        rows("vobu_ea 1 short", "vbr.vob",
             eachNav([](Bytes &b, int at) { set(b, at + 0x40F, get16(b, at + 0x411) - 1); }), vbr);
        rows("vobu_ea past the end", "vbr.vob", eachNav([](Bytes &b, int at) { set(b, at + 0x40F, 0x00FFFFFF); }), vbr);
        rows("vobu_ea and next_vobu skip a VOBU", "vbr.vob", eachNav([](Bytes &b, int at) {
                 const int next = at + int(get32(b, at + 0x40F) + 1) * 2048;
                 if (next + 2048 > b.size())
                     return;
                 const quint32 skip = get32(b, at + 0x40F) + 1 + get32(b, next + 0x40F);
                 set(b, at + 0x40F, skip), set(b, at + 0x4F1 + 4 * 20, 0x80000000 | (skip + 1));
             }),
             vbr);
        rows("a byte after the first NAV pack", "dvd.vob", [](Bytes &b) { b[2048] = char(0xA2); }, {{4, 5}});
        rows("first two NAV packs zeroed", "dvd.vob",
             [](Bytes &b) {
                 for (int n = 0, at = 0; n < 2; at = b.indexOf(Bytes("\0\0\1\xBA\x44", 5), at + 2048))
                     if (dvd::parseNavPack(u8(b) + at, 2048))
                         b.replace(at, 2048, Bytes(2048, 0)), ++n;
             },
             {{2, 4}, {4, 5}});
        rows("padding after the stream", "program.mpg", [](Bytes &b) { b += Bytes(300 << 10, 0); }, {{1, 8}});
        rows(
            "8 GiB sparse file", "dvd.vob", [](Bytes &) {}, {{2, 7}}, 8LL << 30);
    }

    void damaged() // the plan finds the same range as in the file undamaged, in a few reads
    {
        QFETCH(QString, file);
        QFETCH(Damage, damage);
        QFETCH(qint64, size);
        QFETCH(int, start);
        QFETCH(int, end);
        Bytes all = fileBytes(media(file));
        damage(all);
        QTemporaryFile damaged;
        QVERIFY(damaged.open() && damaged.write(all) == all.size() && damaged.flush()
                && damaged.resize(size ? size : all.size()));
        FileByteSource bad(damaged.handle(), "damaged");
        QString got;
        try {
            got = show(planPreciseClip(bad, start, end));
        } catch (const std::exception &e) {
            got = e.what();
        }
        QCOMPARE(got, show(planOf(file, start, end)));
        QVERIFY2(bad.bytesRead() < 2'000'000, qPrintable(QString("%1 bytes read").arg(bad.bytesRead())));
    }

    void changingBytes_data()
    {
        QTest::addColumn<qint64>("sector"); // of dvd.vob, read zeroed every second time
        QTest::newRow("first NAV pack") << 0LL;
    }

    void changingBytes() // an error that says so, never a crash or a plan from both versions
    {
        QFETCH(qint64, sector);
        Flickering source(fileBytes(media("dvd.vob")), sector * 2048);
        expectThrow([&] { planPreciseClip(source, 2, 4); },
                    "The source \"flicker.vob\" changed while it was being read.");
    }

    void joinedParts() // the split title reads, and cuts, byte for byte as the file it was split from
    {
        QFile files[3], whole(media("vbr.vob"));
        std::vector<SourcePart> parts;
        for (int i = 0; i < 3; ++i) {
            files[i].setFileName(media(QString("split/VTS_01_%1.VOB").arg(i + 1)));
            QVERIFY(files[i].open(QIODevice::ReadOnly));
            parts.push_back({files[i].handle(), files[i].size(), files[i].fileName().toStdString()});
        }
        QVERIFY(whole.open(QIODevice::ReadOnly));
        JoinedByteSource joined(parts);
        FileByteSource file(whole.handle(), "vbr.vob");
        QCOMPARE(joined.size(), file.size());
        QVERIFY(joined.name().find("VTS_01_1.VOB and 2 more") != std::string::npos);
        const qint64 one = parts[0].size, two = one + parts[1].size;
        for (auto [at, n] :
             {std::pair{one - 5, 10LL}, {one - 3000, two - one + 6000}, {two, 3LL}, {file.size() - 7, 99LL}}) {
            Bytes a(n, '\0'), b(n, '\0');
            QCOMPARE(joined.read(at, a.data(), std::size_t(n)), file.read(at, b.data(), std::size_t(n)));
            QVERIFY2(a == b, qPrintable(QString("bytes %1 + %2 differ").arg(at).arg(n)));
        }
        QCOMPARE(joined.reads(), 4);
        for (auto [s, e] : {std::pair{0, 36}, {10, 14}, {23, 30}}) {
            joined.resetCounters();
            QCOMPARE(show(planPreciseClip(joined, s, e)), show(planPreciseClip(file, s, e)));
            QVERIFY2(joined.bytesRead() < 128'000, qPrintable(QString::number(joined.bytesRead())));
        }
        parts[1].size += 1; // a part shorter than it was
        JoinedByteSource shrunk(parts);
        char buf[64];
        expectThrow([&] { shrunk.read(two - 10, buf, sizeof buf); }, "VTS_01_2.VOB\" ended after");
        const int folder = ::open(QFile::encodeName(media("split")).constData(), O_RDONLY);
        FileByteSource source(folder, 4096, "split");
        expectThrow([&] { source.read(0, buf, 16); }, QString("Could not read \"split\": %1.").arg(strerror(EISDIR)));
        ::close(folder);
    }

    void refused_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::addColumn<QString>("reason");
        QTest::newRow("random bytes") << "random.bin" << 0 << 5 << "\"random.bin\" is not an MPEG program stream";
        QTest::newRow("empty") << "empty.vob" << 0 << 5 << "\"empty.vob\" is empty";
        QTest::newRow("two VOBs from 0")
            << "twovobs.vob" << 1 << 3
            << "time stamps in \"twovobs.vob\" start again part way through (near byte 552960)";
        QTest::newRow("start past the end")
            << "dvd.vob" << 11 << 12
            << "start mark (11 s) lies at or past the end of the video in \"dvd.vob\" (10.01 s)";
        QTest::newRow("the same VOB twice") << "dvd.vob dvd.vob" << 2 << 4
                                            << "time stamps in \"dvd.vob and 1 more\" start again part way through "
                                               "(near byte 1370112)";
    }

    void refused()
    {
        QFETCH(QString, file);
        QFETCH(int, start);
        QFETCH(int, end);
        QFETCH(QString, reason);
        expectThrow([&] { planOf(file, start, end); }, reason);
    }

    void synthetic_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("stop"); // VOBUs; first -1: refused
        const char *name[] = {"plain", "clock wraps", "no pointers", "two VOBs"};
        for (Title kind : {Plain, WrappingClock, NoPointers, TwoVobs})
            for (auto [s, e, f, t] : {std::array{3, 7, 3, 7},
                                      {0, 1, 0, 1},
                                      {2, 11, 2, 11},
                                      {11, 12, 11, 12},
                                      {5, 40, 5, 12},
                                      {12, 13, -1, 0}})
                QTest::addRow("%s, %d to %d", name[kind], s, e) << int(kind) << s << e << f << t;
        QTest::newRow("VOB ids going backwards") << int(VobIdsBackwards) << 3 << 7 << -1 << 0;
        QTest::newRow("second VOB's clock from 0") << int(SecondVobFromZero) << 3 << 7 << -1 << 0;
    }

    void synthetic() // marks on VOBU starts, both ends of the title, and joins between VOBs
    {
        QFETCH(int, kind);
        QFETCH(int, start);
        QFETCH(int, end);
        QFETCH(int, first);
        QFETCH(int, stop);
        const Bytes title = syntheticTitle(Title(kind));
        QTemporaryFile file;
        QVERIFY(file.open() && file.write(title) == title.size() && file.flush());
        FileByteSource source(file.handle(), "title.vob");
        QString got = "refused";
        try {
            got = show(planPreciseClip(source, start, end));
        } catch (const PlanError &e) {
            qInfo("%s", e.what());
        }
        const PreciseClip want{first * 8192LL, (stop - first) * 8192LL, double(first), double(stop), 12.0, true};
        QCOMPARE(got, first < 0 ? "refused" : show(want));
    }

    void commandLine_data() // run in a folder holding copies of the sources named
    {
        QTest::addColumn<QString>("args"); // after morvane-cut; $P: the parts of vbr.vob, VTS_01_1..3.VOB in order
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");  // the start of stderr
        QTest::addColumn<qint64>("offset"); // of c.vob in vbr.vob; -1: none written
        QTest::addColumn<qint64>("length");
        auto precise = [](const char *row, const char *args, int s, int e) {
            const PreciseClip p = planOf("vbr.vob", s, e);
            QTest::newRow(row) << args << 0
                               << QString::asprintf("morvane-cut: the clip covers %.2f s to %.2f s, "
                                                    "%lld bytes.\n",
                                                    p.startTime, p.endTime, (long long)p.length)
                               << qint64(p.offset) << qint64(p.length);
        };
        precise("precise, the title", "--precise --start 13 --end 20 vbr.vob c.vob", 13, 20);
        precise("precise, its parts", "--precise --start=05 --end 33 $P c.vob", 5, 33);
        // 219648 bytes a second over 36 s: 5 to 33 s is 1501 blocks and a byte from byte 1098240
        QTest::newRow("byte rate, its parts")
            << "--duration 36 --start 5 --end 33 $P c.vob" << 0 << "" << 1'098'239LL << 4096 * 1502 + 1LL;
        QTest::newRow("random bytes") << "--precise --start 0 --end 5 random.bin c.vob" << 1
                                      << "morvane-cut: \"random.bin\" is not an MPEG program stream" << -1LL << 0LL;
        const QString inUse = "morvane-cut: Cannot overwrite file in use: \"%1\" is the source file, or cannot be "
                              "told apart from it.\n";
        QTest::newRow("precise onto a part")
            << "--precise --force --start 1 --end 3 $P VTS_01_2.VOB" << 2 << inUse.arg("VTS_01_2.VOB") << -1LL << 0LL;
        QTest::newRow("byte rate onto a part")
            << "--duration 36 --start 1 --end 3 $P ./VTS_01_3.VOB" << 2 << inUse.arg("./VTS_01_3.VOB") << -1LL << 0LL;
        QTest::newRow("onto the first part, no --force")
            << "--precise --start 1 --end 3 $P VTS_01_1.VOB" << 2 << inUse.arg("VTS_01_1.VOB") << -1LL << 0LL;
    }

    // Several sources are one stream: the same clip as from the file they were split from; the sources stay as
    // they were.
    void commandLine()
    {
        QFETCH(QString, args);
        QFETCH(QString, said);
        QFETCH(qint64, offset);
        QFETCH(qint64, length);
        const QStringList parts{"VTS_01_1.VOB", "VTS_01_2.VOB", "VTS_01_3.VOB"};
        args.replace("$P", parts.join(' '));
        auto source = [](const QString &name) { return media((name.startsWith("VTS") ? "split/" : "") + name); };
        QTemporaryDir dir;
        QStringList named; // the files copied in
        for (const QString &name : parts + QStringList{"vbr.vob", "random.bin"})
            if (args.contains(name))
                QVERIFY(QFile::copy(source(named.emplace_back(name)), dir.filePath(name)));
        QProcess cut;
        cut.setWorkingDirectory(dir.path());
        cut.start(MORVANE_CUT_PATH, args.split(' '));
        QVERIFY(cut.waitForFinished(60'000) && cut.exitStatus() == QProcess::NormalExit);
        QTEST(cut.exitCode(), "exitCode");
        const QString err = cut.readAllStandardError();
        QVERIFY2(said.isEmpty() ? err.isEmpty() : err.startsWith(said), qPrintable(err));
        const Bytes clip = fileBytes(dir.filePath("c.vob"));
        QVERIFY2(offset < 0 || clip == fileBytes(media("vbr.vob")).mid(offset, length),
                 qPrintable(QString("%1 bytes, not %2 from %3").arg(clip.size()).arg(length).arg(offset)));
        QStringList listed = named + (offset < 0 ? QStringList() : QStringList{"c.vob"});
        listed.sort();
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name), listed);
        for (const QString &name : named)
            QVERIFY2(fileBytes(dir.filePath(name)) == fileBytes(source(name)), qPrintable(name + " changed"));
    }
};

QTEST_GUILESS_MAIN(PreciseTest)
#include "tst_precise.moc"
