#include "files/engine/DvdPacks.h"

namespace morvane::dvd {

namespace {

constexpr std::size_t kSystemHeader = 0x0E;
constexpr std::size_t kPci = 0x26;
constexpr std::size_t kDsi = 0x400;
constexpr std::size_t kSearchInfo = 0x4F1;
// A VOBU lasts at most a second; anything far longer is not a VOBU.
constexpr std::uint32_t kLongestVobu = 3 * kTicksPerSecond;

std::uint32_t be16(const std::uint8_t *p) { return std::uint32_t(p[0]) << 8 | p[1]; }
std::uint32_t be32(const std::uint8_t *p) { return be16(p) << 16 | be16(p + 2); }

bool startCode(const std::uint8_t *p, std::uint8_t id) { return p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == id; }

// Payload start and PTS of the PES packet at p, total length len; false
// when its header does not fit or is malformed.
bool pesHeader(const std::uint8_t *p, std::size_t len, std::size_t &payload, std::optional<std::int64_t> &pts)
{
    pts.reset();
    if (len < 9)
        return false;
    if ((p[6] & 0xC0) == 0x80) { // MPEG-2
        payload = 9 + std::size_t(p[8]);
        if (payload > len)
            return false;
        if (p[7] & 0x80) {
            if (p[8] < 5 || !(pts = readPts(p + 9)))
                return false;
        }
        return true;
    }
    std::size_t i = 6; // MPEG-1: stuffing, buffer size, time stamps
    while (i < len && p[i] == 0xFF && i < 6 + 16)
        ++i;
    if (i + 2 < len && (p[i] & 0xC0) == 0x40)
        i += 2;
    if (i >= len)
        return false;
    if ((p[i] & 0xE0) == 0x20) {
        const std::size_t stamps = (p[i] & 0x10) ? 10 : 5;
        if (i + stamps > len || !(pts = readPts(p + i)))
            return false;
        i += stamps;
    } else if (p[i] == 0x0F) {
        ++i;
    } else {
        return false;
    }
    payload = i;
    return true;
}

// Whether the first picture that starts in this payload is announced by a
// sequence header; its frame rate code goes to rate.
bool opensWithSequence(const std::uint8_t *p, std::size_t n, int &rate)
{
    for (std::size_t i = 0; i + 4 <= n; ++i) {
        if (p[i] != 0 || p[i + 1] != 0 || p[i + 2] != 1)
            continue;
        if (p[i + 3] == 0x00)
            return false;
        if (p[i + 3] == 0xB3) {
            rate = i + 8 <= n ? p[i + 7] & 0x0F : 0;
            return true;
        }
    }
    return false;
}

} // namespace

const std::array<int, 19> kForwardHalfSeconds{240, 120, 60, 20, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1};

std::size_t packHeaderLength(const std::uint8_t *p, std::size_t n)
{
    if (n < 12 || !startCode(p, 0xBA))
        return 0;
    if ((p[4] & 0xC0) == 0x40) {
        if (n < 14 || (p[4] & 0x04) == 0 || (p[6] & 0x04) == 0 || (p[8] & 0x04) == 0 || (p[9] & 1) == 0
            || (p[12] & 0x03) != 0x03)
            return 0;
        return 14 + (p[13] & 0x07);
    }
    if ((p[4] & 0xF1) == 0x21 && (p[6] & 1) && (p[8] & 1) && (p[9] & 0x80) && (p[11] & 1))
        return 12;
    return 0;
}

std::optional<std::int64_t> readPts(const std::uint8_t *p)
{
    if ((p[0] & 0xE0) != 0x20 || !(p[0] & 1) || !(p[2] & 1) || !(p[4] & 1))
        return std::nullopt;
    return std::int64_t(p[0] >> 1 & 7) << 30 | std::int64_t(p[1]) << 22 | std::int64_t(p[2] >> 1) << 15
           | std::int64_t(p[3]) << 7 | std::int64_t(p[4] >> 1);
}

std::optional<NavPack> parseNavPack(const std::uint8_t *p, std::size_t n)
{
    if (n < kPackSize || packHeaderLength(p, n) != kSystemHeader || (p[4] & 0xC0) != 0x40)
        return std::nullopt;
    if (!startCode(p + kSystemHeader, 0xBB) || kSystemHeader + 6 + be16(p + kSystemHeader + 4) != kPci)
        return std::nullopt;
    if (!startCode(p + kPci, 0xBF) || kPci + 6 + be16(p + kPci + 4) != kDsi || p[kPci + 6] != 0x00)
        return std::nullopt;
    if (!startCode(p + kDsi, 0xBF) || kDsi + 6 + be16(p + kDsi + 4) != kPackSize || p[kDsi + 6] != 0x01)
        return std::nullopt;
    NavPack nav;
    nav.lbn = be32(p + 0x2D);
    nav.startPtm = be32(p + 0x39);
    nav.endPtm = be32(p + 0x3D);
    nav.vobuEa = be32(p + 0x40F);
    nav.vobId = std::uint16_t(be16(p + 0x41F));
    nav.cellId = p[0x422];
    const std::uint32_t span = nav.endPtm - nav.startPtm; // wraps with the 32-bit clock
    if (be32(p + 0x40B) != nav.lbn || span == 0 || span > kLongestVobu || nav.vobuEa == 0)
        return std::nullopt;
    const std::uint8_t *sri = p + kSearchInfo + 4; // past next_video
    for (std::size_t i = 0; i < 19; ++i)
        nav.fwda[i] = be32(sri + 4 * i);
    nav.nextVobu = be32(sri + 4 * 19);
    nav.prevVobu = be32(sri + 4 * 20);
    for (std::size_t i = 0; i < 19; ++i)
        nav.bwda[i] = be32(sri + 4 * (21 + i));
    return nav;
}

bool mayBeNavPack(const std::uint8_t *p, std::size_t n)
{
    return n > kPci + 6 && packHeaderLength(p, n) == kSystemHeader && startCode(p + kSystemHeader, 0xBB)
           && startCode(p + kPci, 0xBF) && p[kPci + 6] == 0x00;
}

std::optional<std::int64_t> vobuTarget(std::int64_t from, std::uint32_t word, bool forward, std::int64_t sectors)
{
    const std::uint32_t distance = word & kNoVobu;
    if (distance == kNoVobu)
        return std::nullopt;
    const std::int64_t to = forward ? from + distance : from - distance;
    if (to < 0 || to >= sectors)
        return std::nullopt;
    return to;
}

PackParse parsePack(const std::uint8_t *p, std::size_t n, bool atEnd, PackContents &out)
{
    out = PackContents{};
    if (n < 14 && !atEnd)
        return PackParse::NeedMore;
    const std::size_t header = packHeaderLength(p, n);
    if (header == 0)
        return PackParse::Invalid;
    out.mpeg2 = (p[4] & 0xC0) == 0x40;
    std::size_t at = header;
    for (;;) {
        if (at == n && atEnd)
            break;
        if (at + 4 > n)
            return atEnd ? PackParse::Invalid : PackParse::NeedMore;
        if (p[at] != 0 || p[at + 1] != 0 || p[at + 2] != 1)
            return PackParse::Invalid;
        const std::uint8_t id = p[at + 3];
        if (id == 0xBA)
            break;
        if (id == 0xB9) {
            at += 4;
            break;
        }
        if (id < 0xBB)
            return PackParse::Invalid;
        if (at + 6 > n)
            return atEnd ? PackParse::Invalid : PackParse::NeedMore;
        const std::size_t length = 6 + be16(p + at + 4);
        if (at + length > n)
            return atEnd ? PackParse::Invalid : PackParse::NeedMore;
        if ((id & 0xF0) == 0xE0) {
            std::size_t payload = 0;
            std::optional<std::int64_t> pts;
            if (!pesHeader(p + at, length, payload, pts))
                return PackParse::Invalid;
            if (pts && !out.videoPts)
                out.videoPts = pts;
            int rate = 0;
            if (pts && !out.sequencePts && opensWithSequence(p + at + payload, length - payload, rate)) {
                out.sequencePts = pts;
                out.frameRateCode = rate;
            }
        }
        at += length;
    }
    out.length = at;
    return PackParse::Ok;
}

namespace {

constexpr std::int64_t kTimeStampWrap = std::int64_t(1) << 33;

std::int64_t shifted(std::int64_t value, std::int64_t ticks)
{
    return ((value + ticks) % kTimeStampWrap + kTimeStampWrap) % kTimeStampWrap;
}

// A DTS has the prefix 0001 where a PTS has 0010 or 0011; both have these.
bool hasMarkers(const std::uint8_t *p) { return (p[0] & 1) && (p[2] & 1) && (p[4] & 1); }

std::int64_t readStamp(const std::uint8_t *p)
{
    return std::int64_t(p[0] >> 1 & 7) << 30 | std::int64_t(p[1]) << 22 | std::int64_t(p[2] >> 1) << 15
           | std::int64_t(p[3]) << 7 | std::int64_t(p[4] >> 1);
}

// The 33-bit time stamp of a PES header at p, its prefix and marker bits kept.
void writePts(std::uint8_t *p, std::int64_t v)
{
    p[0] = std::uint8_t((p[0] & 0xF0) | ((v >> 29) & 0x0E) | 1);
    p[1] = std::uint8_t(v >> 22);
    p[2] = std::uint8_t(((v >> 14) & 0xFE) | 1);
    p[3] = std::uint8_t(v >> 7);
    p[4] = std::uint8_t(((v << 1) & 0xFE) | 1);
}

// The SCR base of an MPEG-2 pack header, in bytes 4 to 8 around its marker
// bits; the extension and the markers stay.
std::int64_t readScr(const std::uint8_t *p)
{
    return std::int64_t(p[4] >> 3 & 7) << 30 | std::int64_t(p[4] & 3) << 28 | std::int64_t(p[5]) << 20
           | std::int64_t(p[6] >> 3) << 15 | std::int64_t(p[6] & 3) << 13 | std::int64_t(p[7]) << 5 | (p[8] >> 3);
}

void writeScr(std::uint8_t *p, std::int64_t v)
{
    p[4] = std::uint8_t((p[4] & 0xC4) | (v >> 27 & 0x38) | (v >> 28 & 3));
    p[5] = std::uint8_t(v >> 20);
    p[6] = std::uint8_t((p[6] & 0x04) | (v >> 12 & 0xF8) | (v >> 13 & 3));
    p[7] = std::uint8_t(v >> 5);
    p[8] = std::uint8_t((p[8] & 0x07) | (v << 3 & 0xF8));
}

bool carriesTimeStamps(std::uint8_t id) { return id == 0xBD || (id >= 0xC0 && id <= 0xEF); }

} // namespace

void shiftTimeStamps(std::uint8_t *p, std::size_t n, std::int64_t ticks)
{
    const std::size_t header = packHeaderLength(p, n);
    if (header == 0 || (p[4] & 0xC0) != 0x40)
        return;
    writeScr(p, shifted(readScr(p), ticks));
    for (std::size_t at = header; at + 6 <= n && p[at] == 0 && p[at + 1] == 0 && p[at + 2] == 1;) {
        std::uint8_t *packet = p + at;
        if (packet[3] == 0xB9) // end code
            return;
        const std::size_t length = 6 + be16(packet + 4);
        if (at + length > n)
            return;
        if (carriesTimeStamps(packet[3]) && length >= 9 && (packet[6] & 0xC0) == 0x80) {
            const unsigned flags = packet[7] >> 6;
            if ((flags & 2) && packet[8] >= 5 && readPts(packet + 9))
                writePts(packet + 9, shifted(*readPts(packet + 9), ticks));
            if (flags == 3 && packet[8] >= 10 && hasMarkers(packet + 14))
                writePts(packet + 14, shifted(readStamp(packet + 14), ticks));
        }
        at += length;
    }
}

} // namespace morvane::dvd
