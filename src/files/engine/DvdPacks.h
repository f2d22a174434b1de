#pragma once
// Reads the packs of an MPEG program stream as DVD-Video lays them out: the
// NAV pack that opens every VOBU, and the video packets whose presentation
// times place a pack in time where a stream has no NAV packs.
// Every field is checked against the pack's own bytes; a pack that does not
// add up is reported as not being one.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace morvane::dvd {

constexpr std::size_t kPackSize = 2048;
constexpr std::int64_t kTicksPerSecond = 90'000;
// A VOBU search word with these bits set points nowhere.
constexpr std::uint32_t kNoVobu = 0x3FFF'FFFF;

// Bytes of the pack header at p: 14 plus stuffing for MPEG-2, 12 for MPEG-1;
// 0 when p does not start one.
std::size_t packHeaderLength(const std::uint8_t *p, std::size_t n);

struct NavPack {
    std::uint32_t lbn = 0;      // this pack's sector in the VOB set
    std::uint32_t startPtm = 0; // VOBU_S_PTM, 90 kHz
    std::uint32_t endPtm = 0;   // VOBU_E_PTM
    std::uint32_t vobuEa = 0;   // sectors to the VOBU's last sector
    std::uint16_t vobId = 0;
    std::uint8_t cellId = 0;
    std::array<std::uint32_t, 19> fwda{}; // raw words, 120 s ... 0.5 s ahead
    std::array<std::uint32_t, 19> bwda{}; // raw words, 0.5 s ... 120 s back
    std::uint32_t nextVobu = kNoVobu;
    std::uint32_t prevVobu = kNoVobu;

    bool operator==(const NavPack &) const = default;
};

// How far fwda[i] looks ahead, in half-seconds; bwda[i] looks back by
// kForwardHalfSeconds[18 - i].
extern const std::array<int, 19> kForwardHalfSeconds;

// The NAV pack in the 2048 bytes at pack, or nothing when n is short, a
// start code or length field is off, PCI and DSI disagree, or the pack is
// the zero-filled placeholder some encoders write before authoring.
std::optional<NavPack> parseNavPack(const std::uint8_t *pack, std::size_t n);

// Whether the first n >= 0x2D bytes of a pack are those of a NAV pack: a
// cheap first look before parseNavPack.
bool mayBeNavPack(const std::uint8_t *pack, std::size_t n);

// The sector a VOBU search word leads to from sector `from`, or nothing when
// it points nowhere or outside sectors 0 .. sectors - 1.
std::optional<std::int64_t> vobuTarget(std::int64_t from, std::uint32_t word, bool forward, std::int64_t sectors);

// A 33-bit time stamp from the five bytes of a PES header; nothing when its
// marker bits are wrong.
std::optional<std::int64_t> readPts(const std::uint8_t *p);

struct PackContents {
    std::size_t length = 0; // bytes up to the next pack (an end code included)
    bool mpeg2 = false;
    std::optional<std::int64_t> videoPts;    // first video packet's PTS
    std::optional<std::int64_t> sequencePts; // PTS of a video packet whose first picture opens with a sequence header
    int frameRateCode = 0;                   // of that sequence header, 0 when unknown
};

enum class PackParse { Ok, NeedMore, Invalid };

// Walks the pack at p through its packets. NeedMore: the pack runs past n
// bytes and the stream goes on (atEnd false); the caller reads more.
PackParse parsePack(const std::uint8_t *p, std::size_t n, bool atEnd, PackContents &out);

// Adds ticks (mod 2^33) to the SCR of the MPEG-2 pack at p and to the PTS
// and DTS of its PES packets, and changes nothing else. A pack that is not
// MPEG-2, or whose packets do not add up, is left as it is from there on.
void shiftTimeStamps(std::uint8_t *p, std::size_t n, std::int64_t ticks);

} // namespace morvane::dvd
