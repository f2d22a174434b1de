#include "files/engine/ByteSource.h"
#include "files/engine/DvdPacks.h"
#include "files/engine/PrecisePlan.h"

#include <QtTest>
#include <fcntl.h>
#include <unistd.h>

using namespace morvane;
using Bytes = QByteArray;

static QString media(const QString& name) { return QStringLiteral(MORVANE_TEST_MEDIA "/") + name; }
static const std::uint8_t* u8(const Bytes& b) { return reinterpret_cast<const std::uint8_t*>(b.constData()); }
static void put32(Bytes& b, int at, quint32 v)
{
    for (int i = 0; i < 4; ++i) b[at + i] = char(v >> (24 - 8 * i));
}
static quint32 get32(const Bytes& b, int at)
{
    return quint32(u8(b)[at] << 24 | u8(b)[at + 1] << 16 | u8(b)[at + 2] << 8 | u8(b)[at + 3]);
}
static void put16(Bytes& b, int at, quint32 v) { b[at] = char(v >> 8), b[at + 1] = char(v); }
static Bytes with32(Bytes b, int at, quint32 v) { return put32(b, at, v), b; }
static Bytes with16(Bytes b, int at, quint32 v) { return put16(b, at, v), b; }
static Bytes with8(Bytes b, int at, int v) { return b[at] = char(v), b; }

struct Fd { // a file opened by its bytes' name, closed with the test
    int fd;
    explicit Fd(const QString& path)
        : fd(::open(QFile::encodeName(path).constData(), O_RDONLY))
    {
    }
    ~Fd()
    {
        if (fd >= 0) ::close(fd);
    }
};

static Bytes packHeader(quint8 stuffing = 0) // MPEG-2, SCR 0, every marker bit set
{
    Bytes b("\x00\x00\x01\xBA\x44\x00\x04\x00\x04\x01\x01\x89\xC3\xF8", 14);
    b[13] = char(0xF8 | stuffing);
    return b + Bytes(stuffing, char(0xFF));
}

// A NAV pack as the format lays it out; vobu_ea 40, VOB 3, cell 2, sector 1000.
static Bytes navPack(quint32 start = 900'000, quint32 end = 945'000)
{
    Bytes b = packHeader() + Bytes("\x00\x00\x01\xBB\x00\x12", 6) + Bytes(18, '\x80');
    b += Bytes("\x00\x00\x01\xBF\x03\xD4\x00", 7) + Bytes(0x3D3, '\0');
    b += Bytes("\x00\x00\x01\xBF\x03\xFA\x01", 7) + Bytes(0x3F9, '\0');
    put32(b, 0x2D, 1000), put32(b, 0x40B, 1000), put32(b, 0x39, start), put32(b, 0x3D, end);
    put32(b, 0x40F, 40), put16(b, 0x41F, 3), b[0x422] = 2;
    for (int i = 0; i < 42; ++i) put32(b, 0x4F1 + 4 * i, 0x80000000u | quint32(100 + i)); // word i = 100 + i
    return b;
}

enum Title { Plain, WrappingClock, NoPointers, TwoVobs, VobIdsBackwards, SecondVobFromZero };

// Twelve VOBUs of one second, each a NAV pack and three padding packs, with search pointers as an authoring tool
// would set them; the title's clock starts at origin.
static Bytes syntheticTitle(Title kind, quint32 origin = 900'000)
{
    const int vobus = 12, sectors = 4;
    if (kind == WrappingClock) origin = 0xFFFF'FFFFu - 5 * 90'000u;
    Bytes padding = packHeader() + Bytes("\x00\x00\x01\xBE", 4) + Bytes(2, '\0');
    put16(padding, 18, 2048 - 20);
    padding += Bytes(2048 - 20, '\xFF');
    Bytes all;
    for (int k = 0; k < vobus; ++k) {
        const bool later = k >= vobus / 2;
        const quint32 start = origin + quint32(kind == SecondVobFromZero && later ? k - vobus / 2 : k) * 90'000u;
        Bytes nav = navPack(start, start + 90'000);
        put32(nav, 0x2D, quint32(k * sectors)), put32(nav, 0x40B, quint32(k * sectors)), put32(nav, 0x40F, sectors - 1);
        put16(nav, 0x41F,
            kind == TwoVobs || kind == SecondVobFromZero ? 1 + later
                : kind == VobIdsBackwards                ? 2 - later
                                                         : 1);
        auto word = [&](int to) {
            return to < 0 || to >= vobus || kind == NoPointers ? 0x3FFFFFFFu
                                                               : 0x80000000u | quint32(std::abs(to - k) * sectors);
        };
        for (int i = 0; i < 19; ++i) {
            const int steps = dvd::kForwardHalfSeconds[std::size_t(i)] / 2; // whole VOBUs in the step, rounded down
            put32(nav, 0x4F1 + 4 * (1 + i), word(k + steps)),
                put32(nav, 0x4F1 + 4 * (22 + 18 - i), word(k - (dvd::kForwardHalfSeconds[std::size_t(i)] + 1) / 2));
        }
        put32(nav, 0x4F1 + 4 * 20, word(k + 1)), put32(nav, 0x4F1 + 4 * 21, word(k - 1));
        all += nav + padding + padding + padding;
    }
    return all;
}

static quint8 ptsByte(int prefix, qint64 pts, int shift, int bits)
{
    return quint8((pts >> shift & ((1 << bits) - 1)) << 1 | 1) | quint8(prefix << 4);
}
static Bytes ptsBytes(qint64 pts, int prefix = 2)
{
    Bytes b(5, '\0');
    b[0] = char(ptsByte(prefix, pts, 30, 3)), b[1] = char(pts >> 22), b[2] = char(pts >> 14 | 1), b[3] = char(pts >> 7),
    b[4] = char(pts << 1 | 1);
    return b;
}

// An MPEG-2 video PES holding payload, with a PTS when pts >= 0.
static Bytes videoPes(const Bytes& payload, qint64 pts = -1)
{
    Bytes head = pts >= 0 ? Bytes("\x81\x80\x05", 3) + ptsBytes(pts) : Bytes("\x81\x00\x00", 3);
    Bytes b("\x00\x00\x01\xE0", 4);
    b += Bytes(2, '\0');
    put16(b, 4, quint32(head.size() + payload.size()));
    return b + head + payload;
}

static const Bytes kSequence("\x00\x00\x01\xB3\x2D\x02\x40\x33\xFF\xFF", 10); // 720x576, 4:3, 25 fps
static const Bytes kPicture("\x00\x00\x01\x00\x00\x0F\xFF\xF8", 8);

// What encoders write before authoring: the NAV pack's packets, all zeros.
static Bytes zeroFilledNav()
{
    Bytes b = navPack();
    b.replace(0x2D, 0x3D3, Bytes(0x3D3, 0));
    return b.replace(0x407, 0x3F9, Bytes(0x3F9, 0));
}

// An MPEG-1 pack with one video packet: stuffing, buffer size, PTS, sequence header.
static Bytes mpeg1Pack(qint64 pts)
{
    Bytes p = Bytes("\0\0\1\xE0\0\0\xFF\x40\x00", 9) + ptsBytes(pts) + kSequence;
    put16(p, 4, quint32(p.size() - 6));
    return Bytes("\x00\x00\x01\xBA\x21\x00\x01\x00\x01\x80\x00\x01", 12) + p;
}

Q_DECLARE_METATYPE(std::function<void(Bytes&)>)
using Damage = std::function<void(Bytes&)>;

// The time stamps of the video packets (or decoded frames) of one file as ffprobe reads them, in file order; times in
// its seconds.
static QList<double> ffprobePackets(const QString& path, const QStringList& more = {}, bool frames = false)
{
    QProcess p;
    const QString entries = frames ? "frame=pts_time" : "packet=pts_time";
    p.start("ffprobe",
        QStringList{"-v", "error", "-select_streams", "v:0", "-show_entries", entries, "-of", "csv=p=0"} + more
            + QStringList{path});
    if (!p.waitForFinished(60'000)) return {};
    QList<double> packets;
    for (const QByteArray& line : p.readAllStandardOutput().split('\n')) {
        bool ok = false;
        const double t = line.split(',').first().toDouble(&ok);
        if (ok) packets.append(t);
    }
    return packets;
}

static double latestOf(const QList<double>& times) { return *std::max_element(times.begin(), times.end()); }

static Bytes fileBytes(const QString& path, qint64 offset = 0, qint64 length = -1)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || !f.seek(offset)) return {};
    return length < 0 ? f.readAll() : f.read(length);
}

// The stream's first presentation time: the first NAV pack's start, or the first video PTS in file order.
static double originOf(const QString& path, bool nav)
{
    static QHash<QString, double> known; // ffprobe is slow to start: ask once per file
    if (known.contains(path)) return known[path];
    const Bytes all = fileBytes(path);
    double origin = -1;
    for (qint64 at = 0; nav && at < all.size() && origin < 0; ++at)
        if (const auto pack = dvd::parseNavPack(u8(all) + at, std::size_t(all.size() - at)))
            origin = pack->startPtm / 90'000.0;
    if (!nav) {
        const QList<double> packets = ffprobePackets(path, {"-read_intervals", "%+#1"});
        origin = packets.isEmpty() ? -1 : packets.first();
    }
    return known[path] = origin;
}

struct Unit {
    qint64 offset, time; // time from the first NAV pack's start, or from the first video PTS
    qint64 end = 0; // a NAV pack's VOBU_E_PTM, on the same clock
};

static QList<Unit> unitsOf(const Bytes& all, bool nav)
{
    QList<Unit> units;
    std::optional<qint64> origin;
    const qint64 wrap = 1LL << 33;
    for (qint64 at = all.indexOf(Bytes("\0\0\1\xBA", 4)); at >= 0 && at < all.size();) {
        const std::size_t left = std::size_t(all.size() - at);
        if (nav) {
            if (const auto pack = dvd::parseNavPack(u8(all) + at, left)) {
                origin = origin.value_or(pack->startPtm);
                units.append(
                    {at, quint32(pack->startPtm - quint32(*origin)), quint32(pack->endPtm - quint32(*origin))});
            }
            at = all.indexOf(Bytes("\0\0\1\xBA", 4), at + 1);
            continue;
        }
        dvd::PackContents pack;
        if (dvd::parsePack(u8(all) + at, left, true, pack) != dvd::PackParse::Ok) break;
        if (pack.videoPts && !origin) origin = pack.videoPts;
        if (pack.sequencePts)
            units.append({at, ((*pack.sequencePts - *origin + wrap / 2) % wrap + wrap) % wrap - wrap / 2});
        at += qint64(pack.length);
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
        QTest::newRow("as authored") << navPack() << true;
        QTest::newRow("VOBU across the 32-bit clock's wrap") << navPack(0xFFFF'0000u, 0x0000'5000u) << true;
        QTest::newRow("zero-filled, as encoders leave it") << zeroFilledNav() << false;
        QTest::newRow("truncated pack") << navPack().left(2047) << false;
        QTest::newRow("PCI length off by one") << with16(navPack(), 0x2A, 0x3D3) << false;
        QTest::newRow("DSI length off") << with16(navPack(), 0x404, 0x3FB) << false;
        QTest::newRow("system header length off") << with16(navPack(), 0x12, 0x13) << false;
        QTest::newRow("DSI sub-stream 0") << with8(navPack(), 0x406, 0) << false;
        QTest::newRow("PCI sub-stream 1") << with8(navPack(), 0x2C, 1) << false;
        QTest::newRow("PCI and DSI sectors differ") << with32(navPack(), 0x40B, 1001) << false;
        QTest::newRow("VOBU ends where it starts") << navPack(900'000, 900'000) << false;
        QTest::newRow("VOBU of four seconds") << navPack(900'000, 1'260'000) << false;
        QTest::newRow("vobu_ea 0") << with32(navPack(), 0x40F, 0) << false;
        QTest::newRow("pack header with stuffing") << packHeader(1) + navPack().mid(14, 2034) << false;
        QTest::newRow("MPEG-1 pack header") << with8(navPack(), 4, 0x21) << false;
        QTest::newRow("pack header marker bit clear") << with8(navPack(), 9, 0) << false;
        QTest::newRow("not a pack") << Bytes(2048, '\x47') << false;
        QTest::newRow("not a pack, but a system header where one goes") << with8(navPack(), 3, char(0xBB)) << false;
    }

    void navPackReader()
    {
        QFETCH(Bytes, pack);
        QFETCH(bool, valid);
        const auto nav = dvd::parseNavPack(u8(pack), std::size_t(pack.size()));
        QCOMPARE(nav.has_value(), valid);
        if (!valid) return;
        QVERIFY(dvd::mayBeNavPack(u8(pack), 0x30)); // the cheap first look lets every NAV pack through
        QCOMPARE(nav->lbn, 1000u);
        QCOMPARE(nav->startPtm, get32(pack, 0x39));
        QCOMPARE(nav->endPtm, get32(pack, 0x3D));
        QCOMPARE(nav->vobuEa, 40u);
        QCOMPARE(nav->vobId, 3);
        QCOMPARE(nav->cellId, 2);
        // words in order: next_video, fwda 120 s .. 0.5 s, next_vobu, prev_vobu, bwda 0.5 s .. 120 s, prev_video
        QCOMPARE(nav->fwda[0] & 0xFFFF, 101u);
        QCOMPARE(nav->fwda[18] & 0xFFFF, 119u);
        QCOMPARE(nav->nextVobu & 0xFFFF, 120u);
        QCOMPARE(nav->prevVobu & 0xFFFF, 121u);
        QCOMPARE(nav->bwda[0] & 0xFFFF, 122u);
        QCOMPARE(nav->bwda[18] & 0xFFFF, 140u);
        QCOMPARE(dvd::kForwardHalfSeconds.front(), 240);
        QCOMPARE(dvd::kForwardHalfSeconds[3], 20);
        QCOMPARE(dvd::kForwardHalfSeconds.back(), 1);
    }

    void vobuPointer_data()
    {
        QTest::addColumn<qint64>("from");
        QTest::addColumn<uint>("word");
        QTest::addColumn<bool>("forward");
        QTest::addColumn<qint64>("to"); // -1: none
        QTest::newRow("none") << 100LL << 0x3FFFFFFFu << true << -1LL;
        QTest::newRow("none, video bit set") << 100LL << 0xBFFFFFFFu << true << -1LL;
        QTest::newRow("none, bit 30 clear") << 100LL << 0x7FFFFFFFu << false << -1LL;
        QTest::newRow("ahead, video") << 100LL << 0x80000019u << true << 125LL;
        QTest::newRow("ahead, bit 30 set") << 100LL << 0xC0000219u << true << 100LL + 0x219;
        QTest::newRow("back") << 100LL << 0x80000018u << false << 76LL;
        QTest::newRow("itself") << 100LL << 0x80000000u << true << 100LL;
        QTest::newRow("last sector") << 100LL << 0x0000076Bu << true << 1999LL;
        QTest::newRow("past the file's end") << 100LL << 0x0000076Cu << true << -1LL;
        QTest::newRow("before the file's start") << 100LL << 0x80000065u << false << -1LL;
    }

    void vobuPointer()
    {
        QFETCH(qint64, from);
        QFETCH(uint, word);
        QFETCH(bool, forward);
        QFETCH(qint64, to);
        QCOMPARE(dvd::vobuTarget(from, word, forward, 2000).value_or(-1), to);
    }

    void packWalk_data()
    {
        QTest::addColumn<Bytes>("bytes");
        QTest::addColumn<bool>("atEnd");
        QTest::addColumn<int>("result"); // PackParse
        QTest::addColumn<int>("length");
        QTest::addColumn<qint64>("videoPts");
        QTest::addColumn<qint64>("sequencePts");
        QTest::addColumn<int>("rate");
        const Bytes gop = videoPes(kSequence + kPicture, 123'456), next("\x00\x00\x01\xBA", 4);
        QTest::newRow("sequence header opens the packet")
            << packHeader() + gop + next << false << 0 << 14 + int(gop.size()) << 123'456LL << 123'456LL << 3;
        QTest::newRow("stuffed header, largest PTS") << packHeader(3) + videoPes(kSequence, (1LL << 33) - 1) << true
                                                     << 0 << 17 + 24 << (1LL << 33) - 1 << (1LL << 33) - 1 << 3;
        QTest::newRow("a picture before the sequence header")
            << packHeader() + videoPes(kPicture + kSequence, 9'000) << true << 0 << 14 + 32 << 9'000LL << -1LL << 0;
        QTest::newRow("sequence header, no PTS")
            << packHeader() + videoPes(kSequence) << true << 0 << 14 + 19 << -1LL << -1LL << 0;
        QTest::newRow("audio and padding, then end code")
            << packHeader() + Bytes("\0\0\1\xC0\0\x03\x81\0\0", 9) + Bytes("\0\0\1\xBE\0\x02\xFF\xFF\0\0\1\xB9", 12)
            << true << 0 << 14 + 21 << -1LL << -1LL << 0;
        QTest::newRow("MPEG-1 pack and packet")
            << mpeg1Pack(77'000) << true << 0 << 12 + 24 << 77'000LL << 77'000LL << 3;
        QTest::newRow("packet runs past the stream's end")
            << with16(packHeader() + videoPes(kSequence, 5), 18, 200) << true << 2 << 0 << -1LL << -1LL << 0;
        QTest::newRow("PTS flag with a 3-byte header")
            << with8(packHeader() + videoPes(kSequence, 5), 22, 3) << true << 2 << 0 << -1LL << -1LL << 0;
        QTest::newRow("packet runs past what was read")
            << with16(packHeader() + videoPes(kSequence, 5), 18, 200) << false << 1 << 0 << -1LL << -1LL << 0;
        QTest::newRow("PES header longer than its packet")
            << with8(packHeader() + videoPes(kSequence, 5), 22, char(40)) << true << 2 << 0 << -1LL << -1LL << 0;
        QTest::newRow("PTS marker bit clear")
            << with8(packHeader() + videoPes(kSequence, 5), 27, 0x0A) << true << 2 << 0 << -1LL << -1LL << 0;
        QTest::newRow("garbage after the header")
            << packHeader() + Bytes(40, '\x55') << true << 2 << 0 << -1LL << -1LL << 0;
        QTest::newRow("not a pack") << Bytes(64, '\0') << true << 2 << 0 << -1LL << -1LL << 0;
    }

    void packWalk()
    {
        QFETCH(Bytes, bytes);
        QFETCH(bool, atEnd);
        QFETCH(int, result);
        QFETCH(int, length);
        QFETCH(qint64, videoPts);
        QFETCH(qint64, sequencePts);
        QFETCH(int, rate);
        dvd::PackContents pack;
        QCOMPARE(int(dvd::parsePack(u8(bytes), std::size_t(bytes.size()), atEnd, pack)), result);
        if (result != 0) return;
        QCOMPARE(int(pack.length), length);
        QCOMPARE(pack.videoPts.value_or(-1), videoPts);
        QCOMPARE(pack.sequencePts.value_or(-1), sequencePts);
        QCOMPARE(pack.frameRateCode, rate);
    }

    void plan_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::addColumn<bool>("nav");
        QTest::addColumn<qint64>("maxBytes");
        for (auto [s, e] : {std::pair{0, 5}, {3, 6}, {3, 11}, {8, 9}, {13, 20}, {17, 33}, {29, 36}, {22, 100}})
            QTest::addRow("variable rate, %d to %d", s, e) << "vbr.vob" << s << e << true << 128'000LL;
        for (auto [s, e] : {std::pair{0, 10}, {2, 7}, {9, 10}})
            QTest::addRow("steady rate, %d to %d", s, e) << "dvd.vob" << s << e << true << 128'000LL;
        for (auto [s, e] : {std::pair{3, 11}, {20, 30}})
            QTest::addRow("zero-filled NAV packs, %d to %d", s, e)
                << "vbr-unauthored.mpg" << s << e << false << 2'000'000LL;
        for (auto [s, e] : {std::pair{0, 4}, {5, 11}})
            QTest::addRow("no NAV packs, %d to %d", s, e) << "plain.vob" << s << e << false << 2'000'000LL;
        for (auto [s, e] : {std::pair{2, 9}, {7, 11}})
            QTest::addRow("time stamps pass 2^33, %d to %d", s, e) << "wrap.vob" << s << e << false << 2'000'000LL;
        QTest::newRow("CIF DVD stream, 1 to 8") << "program.mpg" << 1 << 8 << false << 2'000'000LL;
        QTest::newRow("later part alone, 0 to 3") << "split/VTS_01_2.VOB" << 0 << 3 << true << 128'000LL;
        QTest::newRow("last part alone, 4 to 9") << "split/VTS_01_3.VOB" << 4 << 9 << true << 128'000LL;
    }

    // The clip is whole VOBUs around the marks, ffprobe sees its pictures where the plan says, and the
    // search pointers and a binary search over packs agree.
    void plan()
    {
        QFETCH(QString, file);
        QFETCH(int, start);
        QFETCH(int, end);
        QFETCH(bool, nav);
        QFETCH(qint64, maxBytes);
        Fd fd(media(file));
        QVERIFY2(fd.fd >= 0, qPrintable(media(file)));
        FileByteSource source(fd.fd, file.toStdString());
        const PreciseClip clip = planPreciseClip(source, start, end);
        QVERIFY2(source.bytesRead() <= maxBytes,
            qPrintable(QString("%1 bytes read in %2 reads").arg(source.bytesRead()).arg(source.reads())));
        QCOMPARE(clip.navPacks, nav);
        const Bytes all = fileBytes(media(file));
        const qint64 stop = clip.offset + clip.length;
        QVERIFY2(clip.offset >= 0 && clip.length > 0 && stop <= all.size(),
            qPrintable(QString("%1 + %2").arg(clip.offset).arg(clip.length)));
        // Every place a clip may start, read through the whole file: the last at or before the start mark and
        // the first at or after the end mark bound the clip.
        const QList<Unit> units = unitsOf(all, nav);
        QVERIFY(!units.isEmpty());
        Unit from = units.first();
        std::optional<Unit> to;
        for (const Unit& u : units) {
            if (u.time <= start * 90'000LL) from = u;
            if (u.time >= end * 90'000LL && !to) to = u;
        }
        QCOMPARE(clip.offset, from.offset);
        QCOMPARE(stop, to ? to->offset : all.size());
        QCOMPARE(clip.startTime, from.time / 90'000.0);
        if (to) QCOMPARE(clip.endTime, to->time / 90'000.0);

        const double vobu = 1.0, frame = 0.04, eps = 0.001;
        QVERIFY2(clip.startTime <= start + eps && clip.startTime > start - vobu,
            qPrintable(QString::number(clip.startTime)));
        QVERIFY2(clip.endTime >= std::min<double>(end, clip.streamEnd) - eps && clip.endTime < end + vobu,
            qPrintable(QString::number(clip.endTime)));
        QCOMPARE(stop == all.size(), clip.endTime == clip.streamEnd);
        if (nav) { // the last VOBU's end, however much of it this file holds
            QCOMPARE(clip.streamEnd, units.last().end / 90'000.0);
        } else { // one frame after the latest picture, whose time stamp may be implied rather than written
            const QList<double> packets = ffprobePackets(media(file));
            QVERIFY(!packets.isEmpty());
            const double latest = latestOf(packets) - originOf(media(file), nav);
            QVERIFY2(clip.streamEnd >= latest - 0.001 && clip.streamEnd <= latest + 0.041,
                qPrintable(QString("stream end %1, latest picture %2").arg(clip.streamEnd).arg(latest)));
        }

        QTemporaryDir dir;
        QFile out(dir.filePath("clip.vob"));
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(all.mid(clip.offset, clip.length)) == clip.length);
        out.close();
        const QList<double> pictures = ffprobePackets(out.fileName()),
                            shown = ffprobePackets(out.fileName(), {"-read_intervals", "%+#12"}, true);
        QVERIFY2(pictures.size() >= 5 && !shown.isEmpty(), qPrintable(QString("%1 pictures").arg(pictures.size())));
        const double origin = originOf(media(file), nav);
        const double first = *std::min_element(shown.begin(), shown.end()) - origin, last = latestOf(pictures) - origin;
        // The first picture shown is the VOBU's I-frame: at its start, or a few frames later after open-GOP leading
        // pictures, which cannot be decoded without the VOBU before.
        QVERIFY2(first >= clip.startTime - eps && first <= clip.startTime + 3 * frame + eps,
            qPrintable(QString("first picture %1, plan %2").arg(first).arg(clip.startTime)));
        // The last is the VOBU's last: just before the next one starts, or a few frames earlier where the next
        // GOP is open and its leading B-frames stay with it.
        QVERIFY2(last <= clip.endTime - frame + eps && last >= clip.endTime - 5 * frame - eps
                && last >= std::min<double>(end, clip.streamEnd) - 5 * frame - eps,
            qPrintable(QString("last picture %1, plan %2").arg(last).arg(clip.endTime)));

        FileByteSource again(fd.fd, file.toStdString());
        const PreciseClip binary = planPreciseClip(again, start, end, PlanOptions{false});
        QCOMPARE(binary.offset, clip.offset);
        QCOMPARE(binary.length, clip.length);
        QCOMPARE(binary.startTime, clip.startTime);
        QCOMPARE(binary.endTime, clip.endTime);
    }

    void damagedPointers_data()
    {
        QTest::addColumn<Damage>("damage");
        auto everyNav = [](std::function<void(Bytes&, int)> change) {
            return Damage([=](Bytes& all) {
                for (int at = 0; at + 2048 <= all.size(); at += 2048)
                    if (dvd::parseNavPack(u8(all) + at, 2048)) change(all, at);
            });
        };
        QTest::newRow("search pointers lead 3 sectors on") << everyNav([](Bytes& b, int at) {
            for (int i = 0; i < 42; ++i) put32(b, at + 0x4F1 + 4 * i, 0x80000003);
        });
        QTest::newRow("search pointers lead past the end") << everyNav([](Bytes& b, int at) {
            for (int i = 0; i < 42; ++i) put32(b, at + 0x4F1 + 4 * i, 0x8FFFFFF0);
        });
        QTest::newRow("no search pointers") << everyNav([](Bytes& b, int at) {
            for (int i = 0; i < 42; ++i) put32(b, at + 0x4F1 + 4 * i, 0x3FFFFFFF);
        });
        QTest::newRow("vobu_ea one short")
            << everyNav([](Bytes& b, int at) { put32(b, at + 0x40F, get32(b, at + 0x40F) - 1); });
        QTest::newRow("vobu_ea past the end") << everyNav([](Bytes& b, int at) { put32(b, at + 0x40F, 0x00FFFFFF); });
        QTest::newRow("end address and next_vobu skip a VOBU") << everyNav([](Bytes& b, int at) {
            const int next = at + int(get32(b, at + 0x40F) + 1) * 2048;
            if (next + 2048 > b.size()) return;
            const quint32 skip = get32(b, at + 0x40F) + 1 + get32(b, next + 0x40F);
            put32(b, at + 0x40F, skip), put32(b, at + 0x4F1 + 4 * 20, 0x80000000 | (skip + 1));
        });
    }

    void damagedPointers() // the plan falls back to searching the packs and finds the same range
    {
        QFETCH(Damage, damage);
        Bytes all = fileBytes(media("vbr.vob"));
        damage(all);
        QTemporaryFile damaged;
        QVERIFY(damaged.open() && damaged.write(all) == all.size() && damaged.flush());
        Fd clean(media("vbr.vob"));
        for (auto [s, e] : {std::pair{0, 5}, {8, 9}, {13, 33}, {31, 34}}) {
            FileByteSource good(clean.fd, "vbr.vob"), bad(damaged.handle(), "damaged");
            const PreciseClip want = planPreciseClip(good, s, e), got = planPreciseClip(bad, s, e);
            QVERIFY2(got.offset == want.offset && got.length == want.length,
                qPrintable(QString("%1 to %2: %3 + %4, not %5 + %6")
                               .arg(s)
                               .arg(e)
                               .arg(got.offset)
                               .arg(got.length)
                               .arg(want.offset)
                               .arg(want.length)));
            QVERIFY2(bad.bytesRead() < all.size() / 4, qPrintable(QString("%1 bytes read").arg(bad.bytesRead())));
        }
    }

    void joinedParts() // the split title reads, and cuts, byte for byte as the file it was split from
    {
        std::vector<std::unique_ptr<Fd>> fds;
        std::vector<SourcePart> parts;
        for (int i = 1; i <= 3; ++i) {
            const QString path = media(QString("split/VTS_01_%1.VOB").arg(i));
            fds.push_back(std::make_unique<Fd>(path));
            parts.push_back({fds.back()->fd, QFileInfo(path).size(), path.toStdString()});
        }
        JoinedByteSource joined(parts);
        Fd whole(media("vbr.vob"));
        FileByteSource file(whole.fd, "vbr.vob");
        QCOMPARE(joined.size(), file.size());
        QVERIFY(joined.name().find("VTS_01_1.VOB and 2 more") != std::string::npos);
        const qint64 boundary = parts[0].size, boundary2 = boundary + parts[1].size;
        for (auto [at, length] : {std::pair{boundary - 5, 10LL}, {boundary - 3000, boundary2 - boundary + 6000},
                 {0LL, 1LL}, {boundary2, 3LL}, {file.size() - 7, 100LL}}) {
            Bytes a(length, '\0'), b(length, '\0');
            const std::size_t got = joined.read(at, a.data(), std::size_t(length));
            QCOMPARE(got, file.read(at, b.data(), std::size_t(length)));
            QVERIFY2(a == b, qPrintable(QString("bytes %1 + %2 differ").arg(at).arg(length)));
        }
        QCOMPARE(joined.reads(), 5);
        for (auto [s, e] : {std::pair{0, 36}, {10, 14}, {12, 25}, {23, 30}}) {
            joined.resetCounters();
            const PreciseClip a = planPreciseClip(joined, s, e), b = planPreciseClip(file, s, e);
            QCOMPARE(a.offset, b.offset);
            QCOMPARE(a.length, b.length);
            QCOMPARE(a.startTime, b.startTime);
            QCOMPARE(a.endTime, b.endTime);
            QVERIFY2(joined.bytesRead() < 128'000, qPrintable(QString::number(joined.bytesRead())));
        }
        parts[1].size += 1; // a part shorter than it was
        JoinedByteSource shrunk(parts);
        char buf[64];
        try {
            shrunk.read(boundary2 - 10, buf, sizeof buf);
            QFAIL("read past a short part");
        } catch (const SourceReadError& e) {
            QVERIFY2(QString(e.what()).contains("VTS_01_2.VOB\" ended after"), e.what());
        }
    }

    void refused_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::addColumn<QString>("reason");
        QTest::newRow("random bytes") << "random.bin" << 0 << 5 << "\"random.bin\" is not an MPEG program stream";
        QTest::newRow("empty") << "empty.vob" << 0 << 5 << "\"empty.vob\" is empty";
        QTest::newRow("two VOBs, both from 0")
            << "twovobs.vob" << 1 << 3
            << "time stamps in \"twovobs.vob\" start again part way through (near byte 552960)";
        QTest::newRow("start past the end")
            << "dvd.vob" << 11 << 12
            << "start mark (11 s) lies at or past the end of the video in \"dvd.vob\" (10.01 s)";
        QTest::newRow("marks out of order") << "dvd.vob" << 5 << 5 << "start mark must come before the end mark";
        QTest::newRow("negative mark") << "dvd.vob" << -1 << 5 << "cannot be negative";
    }

    void refused()
    {
        QFETCH(QString, file);
        QFETCH(int, start);
        QFETCH(int, end);
        QFETCH(QString, reason);
        Fd fd(media(file));
        FileByteSource source(fd.fd, file.toStdString());
        try {
            planPreciseClip(source, start, end);
            QFAIL("planned");
        } catch (const PlanError& e) {
            QVERIFY2(QString(e.what()).contains(reason), e.what());
        }
    }

    void synthetic_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("stop"); // VOBUs; first -1: refused, stop 12: the end
        for (Title kind : {Plain, WrappingClock, NoPointers, TwoVobs}) {
            const char* name[] = {"plain", "clock wraps", "no pointers", "two VOBs"};
            QTest::addRow("%s, marks on VOBU starts", name[kind]) << int(kind) << 3 << 7 << 3 << 7;
            QTest::addRow("%s, from the first", name[kind]) << int(kind) << 0 << 1 << 0 << 1;
            QTest::addRow("%s, end on the last VOBU's start", name[kind]) << int(kind) << 2 << 11 << 2 << 11;
            QTest::addRow("%s, start on the last VOBU's start", name[kind]) << int(kind) << 11 << 12 << 11 << 12;
            QTest::addRow("%s, end past the end", name[kind]) << int(kind) << 5 << 40 << 5 << 12;
            QTest::addRow("%s, start at the end", name[kind]) << int(kind) << 12 << 13 << -1 << 0;
        }
        QTest::newRow("VOB ids going backwards") << int(VobIdsBackwards) << 3 << 7 << -1 << 0;
        QTest::newRow("second VOB's clock from 0") << int(SecondVobFromZero) << 3 << 7 << -1 << 0;
    }

    void synthetic() // marks on VOBU starts, both ends of the title, and joins
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
        try {
            const PreciseClip clip = planPreciseClip(source, start, end);
            QCOMPARE(first >= 0, true);
            QCOMPARE(clip.offset, first * 4 * 2048LL);
            QCOMPARE(clip.offset + clip.length, stop * 4 * 2048LL);
            QCOMPARE(clip.startTime, double(first));
            QCOMPARE(clip.endTime, double(stop));
            QCOMPARE(clip.streamEnd, 12.0);
        } catch (const PlanError& e) {
            QVERIFY2(first < 0, e.what());
        }
    }

    void commandLine_data() // run in a folder holding copies of the sources named
    {
        QTest::addColumn<QString>("args"); // after morvane-cut; $V: vbr.vob, $P: its parts VTS_01_1..3.VOB in order
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said"); // all of stderr; "covers": the precise cut's line for the marks
        QTest::addColumn<qint64>("offset"); // of c.vob in vbr.vob; -1: none written
        QTest::addColumn<qint64>("length");
        const QString inUse = "morvane-cut: Cannot overwrite file in use: \"%1\" is the source file, or cannot be "
                              "told apart from it.\n";
        // vbr.vob at 36 s: 219648 bytes a second; 5 to 33 s is 1501 blocks and a byte from byte 1098240
        for (const char* from : {"$V", "$P"}) {
            const char* tag = from[1] == 'V' ? "the title" : "its parts";
            QTest::addRow("precise, %s, 13 to 20", tag)
                << QString("--precise --start 13 --end 20 %1 c.vob").arg(from) << 0 << "covers" << 0LL << 0LL;
            QTest::addRow("precise, %s, 5 to 33", tag)
                << QString("--precise --start=05 --end 33 %1 c.vob").arg(from) << 0 << "covers" << 0LL << 0LL;
            QTest::addRow("byte rate, %s, 5 to 33", tag)
                << QString("--duration 36 --start 5 --end 33 %1 c.vob").arg(from) << 0 << "" << 1'098'239LL
                << 4096 * 1502 + 1LL;
        }
        QTest::newRow("random bytes") << "--precise --start 0 --end 5 random.bin c.vob" << 1
                                      << "morvane-cut: \"random.bin\" is not an MPEG program stream" << -1LL << 0LL;
        QTest::newRow("precise onto a part") << "--precise --force --start 1 --end 3 $P VTS_01_2.VOB" << 2
                                             << inUse.arg("VTS_01_2.VOB") << -1LL << 0LL;
        QTest::newRow("byte rate onto a part") << "--duration 36 --start 1 --end 3 $P ./VTS_01_3.VOB" << 2
                                               << inUse.arg("./VTS_01_3.VOB") << -1LL << 0LL;
        QTest::newRow("precise onto the first part, no --force")
            << "--precise --start 1 --end 3 $P VTS_01_1.VOB" << 2 << inUse.arg("VTS_01_1.VOB") << -1LL << 0LL;
    }

    // Several sources are one stream: the same clip as from the file they were split from; what is named but the
    // clip is unchanged.
    void commandLine()
    {
        QFETCH(QString, args);
        QFETCH(QString, said);
        QFETCH(qint64, offset);
        QFETCH(qint64, length);
        const QStringList parts{"VTS_01_1.VOB", "VTS_01_2.VOB", "VTS_01_3.VOB"};
        args.replace("$V", "vbr.vob").replace("$P", parts.join(' '));
        QTemporaryDir dir;
        QStringList named; // the files copied in
        for (const QString& name : parts + QStringList{"vbr.vob", "random.bin"})
            if (args.contains(name)) {
                named << name;
                QVERIFY(QFile::copy(media((name.startsWith("VTS") ? "split/" : "") + name), dir.filePath(name)));
            }
        QProcess cut;
        cut.setWorkingDirectory(dir.path());
        cut.start(MORVANE_CUT_PATH, args.split(' '));
        QVERIFY(cut.waitForFinished(60'000) && cut.exitStatus() == QProcess::NormalExit);
        QTEST(cut.exitCode(), "exitCode");
        const QString err = cut.readAllStandardError();
        const Bytes all = fileBytes(media("vbr.vob")), clip = fileBytes(dir.filePath("c.vob"));
        if (said == "covers") {
            const int start = args.section("--start", 1).mid(1).section(' ', 0, 0).toInt(),
                      end = args.section("--end ", 1).section(' ', 0, 0).toInt();
            Fd fd(media("vbr.vob"));
            FileByteSource whole(fd.fd, "vbr.vob");
            const PreciseClip plan = planPreciseClip(whole, start, end);
            offset = plan.offset, length = plan.length;
            said = QString::asprintf("morvane-cut: the clip covers %.2f s to %.2f s, %lld bytes.\n", plan.startTime,
                plan.endTime, length);
            QVERIFY2(plan.startTime <= start && plan.startTime > start - 1 && plan.endTime >= end
                    && plan.endTime < end + 1,
                qPrintable(QString("%1 to %2 for the marks %3 to %4").arg(plan.startTime).arg(plan.endTime)
                               .arg(start).arg(end)));
            QVERIFY(dvd::parseNavPack(u8(clip), std::size_t(clip.size()))); // whole VOBUs from a NAV pack
        }
        QVERIFY2(said.isEmpty() ? err.isEmpty() : err.startsWith(said), qPrintable(err));
        QVERIFY2(offset < 0 || clip == all.mid(offset, length),
            qPrintable(QString("%1 bytes, not %2 from %3").arg(clip.size()).arg(length).arg(offset)));
        QStringList listed = named + (offset < 0 ? QStringList() : QStringList{"c.vob"});
        listed.sort();
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name), listed);
        for (const QString& name : named)
            QVERIFY2(fileBytes(dir.filePath(name)) == fileBytes(media((name.startsWith("VTS") ? "split/" : "") + name)),
                qPrintable(name + " changed"));
    }

    void readError()
    {
        Fd folder(media("split"));
        FileByteSource source(folder.fd, 4096, "split");
        char buf[16];
        try {
            source.read(0, buf, sizeof buf);
            QFAIL("read a folder");
        } catch (const SourceReadError& e) {
            QCOMPARE(QString(e.what()), QString("Could not read \"split\": %1.").arg(strerror(EISDIR)));
        }
    }
};

QTEST_GUILESS_MAIN(PreciseTest)
#include "tst_precise.moc"
