#include "files/engine/PrecisePlan.h"

#include "files/engine/DvdPacks.h"
#include "files/engine/FileName.h"

#include <QByteArray>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace morvane {

namespace {

using dvd::kTicksPerSecond;
constexpr std::int64_t kSector = std::int64_t(dvd::kPackSize);
constexpr std::int64_t kScanSectors = 16;      // sectors looked at in one go while looking for a NAV pack
constexpr std::size_t kHead = 0x30;            // enough of a sector to tell a NAV pack
constexpr std::size_t kChunk = 32 << 10;       // bytes per read while walking packs
constexpr std::int64_t kHeadLimit = 8 << 20;   // a stream shows its first picture within this
constexpr std::int64_t kResyncLimit = 1 << 20; // how far to look for the next pack header
constexpr std::int64_t kTailBytes = 256 << 10; // where to look for the last picture
constexpr std::int64_t kStepBelow = 192 << 10; // about a GOP at a DVD's highest rate
constexpr std::size_t kLargestPack = 1 << 20;
constexpr int kMaxHops = 64;
constexpr std::int64_t kHalfSecond = kTicksPerSecond / 2;
constexpr std::int64_t kJoinTolerance = 2 * 3600; // two frames between one VOB's end and the next's start
// A VOBU lasts at most a second: this far, three seconds at a DVD's highest
// rate, without a NAV pack means the stream has none, not that the first
// few were damaged.
constexpr std::int64_t kNavSearch = 4 << 20;
constexpr std::size_t kProbe = 16 << 10; // holds a pack header wherever the stream has packs

std::string secondsText(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", seconds);
    return text;
}

double toSeconds(std::int64_t ticks) { return double(ticks) / double(kTicksPerSecond); }

// A place a clip may start: a NAV pack, or a pack that opens a sequence
// header; time is on the stream's timeline, in 90 kHz ticks.
struct Unit {
    std::int64_t offset = 0;
    std::int64_t time = 0;
};

struct Located {
    Unit at;                  // the last unit at or before the time
    std::optional<Unit> next; // the unit after it; none: the stream ends first
};

std::string quoted(const ByteSource &source) { return quotedName(QByteArray::fromStdString(source.name())); }

[[noreturn]] void timesJump(const ByteSource &source, std::int64_t offset)
{
    throw PlanError("The time stamps in " + quoted(source) + " start again part way through (near byte "
                    + std::to_string(offset)
                    + "), so a precise cut cannot tell which of the repeated times a mark means.");
}

// What was read once reads differently now: no plan made from both holds.
[[noreturn]] void changed(const ByteSource &source)
{
    throw SourceReadError("The source " + quoted(source) + " changed while it was being read.");
}

// Forward reading through a sliding buffer, for walking packs of any size.
class Window {
public:
    explicit Window(ByteSource &source) : source_(source) {}

    // At least want bytes from offset, fewer only at the source's end.
    const std::uint8_t *at(std::int64_t offset, std::size_t want, std::size_t &available)
    {
        const std::int64_t end = base_ + std::int64_t(data_.size());
        if (offset < base_ || offset + std::int64_t(want) > end) {
            std::vector<std::uint8_t> kept;
            std::int64_t from = offset;
            if (offset >= base_ && offset < end) {
                kept.assign(data_.begin() + (offset - base_), data_.end());
                from = end;
            }
            const std::int64_t upto = std::min(source_.size(), offset + std::int64_t(std::max(want, kChunk)));
            if (upto > from) {
                const std::size_t had = kept.size();
                kept.resize(had + std::size_t(upto - from));
                kept.resize(had + source_.read(from, kept.data() + had, std::size_t(upto - from)));
            }
            base_ = offset;
            data_ = std::move(kept);
        }
        available = data_.size() - std::size_t(offset - base_);
        return data_.data() + (offset - base_);
    }

    std::int64_t size() const { return source_.size(); }

private:
    ByteSource &source_;
    std::int64_t base_ = 0;
    std::vector<std::uint8_t> data_;
};

std::optional<dvd::PackContents> packAt(Window &window, std::int64_t offset)
{
    std::size_t want = dvd::kPackSize + 64;
    for (;;) {
        std::size_t available = 0;
        const std::uint8_t *p = window.at(offset, want, available);
        dvd::PackContents contents;
        switch (dvd::parsePack(p, available, offset + std::int64_t(available) >= window.size(), contents)) {
        case dvd::PackParse::Ok:
            return contents;
        case dvd::PackParse::Invalid:
            return std::nullopt;
        case dvd::PackParse::NeedMore:
            if (available >= kLargestPack)
                return std::nullopt;
            want = available + kChunk;
        }
    }
}

// A NAV pack is whole in its own 2048 bytes, even where damage follows it.
bool navPackAt(Window &window, std::int64_t offset)
{
    std::size_t available = 0;
    const std::uint8_t *p = window.at(offset, dvd::kPackSize, available);
    return dvd::parseNavPack(p, available).has_value();
}

// The first offset in [from, limit) where a whole pack parses.
std::optional<std::int64_t> packStart(Window &window, std::int64_t from, std::int64_t limit)
{
    limit = std::min(limit, window.size());
    for (std::int64_t o = from; o + 4 <= limit;) {
        std::size_t available = 0;
        const std::uint8_t *p = window.at(o, kChunk, available);
        const std::size_t scan = std::size_t(std::min<std::int64_t>(std::int64_t(available), limit - o));
        if (scan < 4)
            break;
        std::size_t i = 0;
        while (i + 4 <= scan && (p[i] != 0 || p[i + 1] != 0 || p[i + 2] != 1 || p[i + 3] != 0xBA))
            ++i;
        if (i + 4 > scan) {
            o += std::int64_t(i);
            continue;
        }
        if (packAt(window, o + std::int64_t(i)) || navPackAt(window, o + std::int64_t(i)))
            return o + std::int64_t(i);
        o += std::int64_t(i) + 1; // a pack header start code, but not a pack
    }
    return std::nullopt;
}

// Where packs stop starting: the source's end, or, behind padding or other
// bytes without packs, a bound found by halving over probes of kProbe
// bytes, so that padding of any length costs a few reads.
std::int64_t packsEnd(ByteSource &source, std::int64_t first)
{
    std::vector<std::uint8_t> probe(kProbe);
    const auto holdsPack = [&](std::int64_t at) {
        const std::size_t got = source.read(at, probe.data(), kProbe);
        const bool atEnd = at + std::int64_t(got) >= source.size();
        for (std::size_t i = 0; i + 4 <= got; ++i) {
            dvd::PackContents pack;
            if (probe[i] == 0 && probe[i + 1] == 0 && probe[i + 2] == 1 && probe[i + 3] == 0xBA
                && (dvd::parsePack(&probe[i], got - i, atEnd, pack) != dvd::PackParse::Invalid
                    || dvd::parseNavPack(&probe[i], got - i)))
                return true;
        }
        return false;
    };
    std::int64_t hi = std::max(first, source.size() - std::int64_t(kProbe));
    if (holdsPack(hi))
        return source.size();
    std::int64_t lo = first; // a pack starts in the probe at lo, none at or after hi
    while (hi - lo > std::int64_t(kProbe)) {
        const std::int64_t mid = lo + (hi - lo) / 2;
        (holdsPack(mid) ? lo : hi) = mid;
    }
    return hi;
}

// 33-bit time stamps relative to origin, wrapping either way.
std::int64_t relativePts(std::int64_t pts, std::int64_t origin)
{
    std::int64_t d = (pts - origin) & ((std::int64_t(1) << 33) - 1);
    if (d >= std::int64_t(1) << 32)
        d -= std::int64_t(1) << 33;
    return d;
}

// Units are found by scanning forward from a byte offset; binary search and
// the NAV pointers both work on them.
class UnitFinder {
public:
    virtual ~UnitFinder() = default;
    virtual std::optional<Unit> forward(std::int64_t from, std::int64_t limit) = 0; // first unit in [from, limit)
    virtual std::int64_t granule() const = 0;                                       // units lie at least this far apart
    // Below this many bytes between two units, the search steps from unit
    // to unit instead of guessing.
    virtual std::int64_t stepBelow() const { return 0; }
};

// The NAV packs on the 2048-byte grid that starts at phase.
class NavStream : public UnitFinder {
public:
    NavStream(ByteSource &source, std::int64_t phase)
        : source_(source), phase_(phase), sectors_((source.size() - phase) / kSector)
    {
    }

    std::int64_t sectors() const { return sectors_; }
    std::int64_t offsetOf(std::int64_t sector) const { return phase_ + sector * kSector; }
    std::int64_t sectorOf(std::int64_t offset) const { return (offset - phase_) / kSector; }
    void setOrigin(std::uint32_t ptm) { origin_ = ptm; }
    std::int64_t time(const dvd::NavPack &nav) const { return std::uint32_t(nav.startPtm - origin_); }
    std::int64_t endTime(const dvd::NavPack &nav) const { return std::uint32_t(nav.endPtm - origin_); }
    Unit unit(std::int64_t sector) { return {offsetOf(sector), time(nav(sector))}; }

    // The NAV pack at a sector already seen to hold one.
    const dvd::NavPack &nav(std::int64_t sector)
    {
        const dvd::NavPack *found = at(sector);
        if (!found)
            changed(source_);
        return *found;
    }

    const dvd::NavPack *at(std::int64_t sector)
    {
        if (sector < 0 || sector >= sectors_)
            return nullptr;
        if (!cache_.count(sector))
            readSectors(sector, 1);
        const auto &found = cache_.at(sector);
        return found ? &*found : nullptr;
    }

    // The first NAV pack in sectors [from, limit).
    std::optional<std::int64_t> forwardSector(std::int64_t from, std::int64_t limit)
    {
        limit = std::min(limit, sectors_);
        for (std::int64_t s = std::max<std::int64_t>(from, 0); s < limit; ++s) {
            if (!cache_.count(s))
                readSectors(s, std::min(kScanSectors, limit - s));
            if (cache_.at(s))
                return s;
        }
        return std::nullopt;
    }

    // The last NAV pack in sectors [floor, from].
    std::optional<std::int64_t> backwardSector(std::int64_t from, std::int64_t floor)
    {
        floor = std::max<std::int64_t>(floor, 0);
        for (std::int64_t s = std::min(from, sectors_ - 1); s >= floor; --s) {
            if (!cache_.count(s)) {
                const std::int64_t first = std::max(floor, s - kScanSectors + 1);
                readSectors(first, s - first + 1);
            }
            if (cache_.at(s))
                return s;
        }
        return std::nullopt;
    }

    std::optional<Unit> forward(std::int64_t from, std::int64_t limit) override
    {
        const std::int64_t first = from <= phase_ ? 0 : (from - phase_ + kSector - 1) / kSector;
        const std::int64_t end = limit <= phase_ ? 0 : (limit - phase_ + kSector - 1) / kSector;
        if (const auto s = forwardSector(first, end))
            return unit(*s);
        return std::nullopt;
    }

    std::int64_t granule() const override { return kSector; }

private:
    // Reads the head of each sector, and the whole sector only where the
    // head looks like a NAV pack: a scan then costs 48 bytes a sector.
    void readSectors(std::int64_t first, std::int64_t count)
    {
        std::uint8_t pack[dvd::kPackSize];
        for (std::int64_t s = first; s < first + count; ++s) {
            std::optional<dvd::NavPack> &entry = cache_[s];
            if (source_.read(offsetOf(s), pack, kHead) < kHead || !dvd::mayBeNavPack(pack, kHead))
                continue;
            const std::size_t rest = sizeof pack - kHead;
            if (source_.read(offsetOf(s) + std::int64_t(kHead), pack + kHead, rest) == rest)
                entry = dvd::parseNavPack(pack, sizeof pack);
        }
    }

    ByteSource &source_;
    std::int64_t phase_;
    std::int64_t sectors_;
    std::uint32_t origin_ = 0;
    std::map<std::int64_t, std::optional<dvd::NavPack>> cache_;
};

// Packs that open a sequence header, in a stream of packs of any size.
class SequenceStream : public UnitFinder {
public:
    SequenceStream(ByteSource &source, std::int64_t origin) : window_(source), origin_(origin) {}

    Window &window() { return window_; }

    std::optional<Unit> forward(std::int64_t from, std::int64_t limit) override
    {
        limit = std::min(limit, window_.size());
        std::optional<std::int64_t> o = packStart(window_, from, std::min(limit, from + kResyncLimit));
        while (o && *o < limit) {
            const auto pack = packAt(window_, *o);
            if (!pack) { // damaged here: carry on at the next pack that parses
                o = packStart(window_, *o + 1, std::min(limit, *o + 1 + kResyncLimit));
                continue;
            }
            if (pack->sequencePts)
                return Unit{*o, relativePts(*pack->sequencePts, origin_)};
            *o += std::int64_t(pack->length);
        }
        return std::nullopt;
    }

    std::int64_t granule() const override { return 1; }
    std::int64_t stepBelow() const override { return kStepBelow; }

private:
    Window window_;
    std::int64_t origin_;
};

// Narrows (lo, hiBound) until no unit can lie between them, alternating a
// proportional guess with halving so that it never takes more than twice
// the steps of a plain binary search.
Located bracketSearch(const ByteSource &source, UnitFinder &finder, std::int64_t t, Unit lo, std::optional<Unit> hi,
                      std::int64_t hiBound, std::int64_t hiTime)
{
    bool halve = false;
    while (hiBound - lo.offset > finder.granule()) {
        if (hi && hiBound - lo.offset <= finder.stepBelow()) {
            const std::optional<Unit> found = finder.forward(lo.offset + 1, hiBound);
            if (!found)
                break;
            if (found->time < lo.time || found->time > hi->time)
                timesJump(source, found->offset);
            if (found->time > t) {
                hi = found;
                break;
            }
            lo = *found;
            continue;
        }
        std::int64_t guess = lo.offset + (hiBound - lo.offset) / 2;
        if (!halve && hiTime > lo.time) {
            const double share = double(t - lo.time) / double(hiTime - lo.time);
            guess = lo.offset + std::int64_t(share * double(hiBound - lo.offset));
        }
        halve = !halve;
        guess = std::clamp(guess, lo.offset + 1, hiBound - 1);
        const std::optional<Unit> found = finder.forward(guess, hiBound);
        if (!found) {
            hiBound = guess;
            continue;
        }
        if (found->time < lo.time || (hi && found->time > hi->time))
            timesJump(source, found->offset);
        if (found->time <= t) {
            lo = *found;
        } else {
            hi = found;
            hiBound = found->offset;
            hiTime = found->time;
        }
    }
    return {lo, hi};
}

// Follows the NAV packs' own pointers from a proportional guess; false when
// they run out or disagree with what they lead to, leaving in lo and hi what
// was learned for the binary search to go on from.
bool followPointers(NavStream &navs, std::int64_t t, Unit &lo, std::optional<Unit> &hi, std::int64_t &hiBound,
                    Located &result)
{
    const std::int64_t loSector = navs.sectorOf(lo.offset);
    const std::int64_t hiSector = hiBound >= navs.offsetOf(navs.sectors()) ? navs.sectors() : navs.sectorOf(hiBound);
    std::int64_t guess = loSector + (hiSector - loSector) / 2;
    if (hi && hi->time > lo.time)
        guess = loSector + std::int64_t(double(t - lo.time) / double(hi->time - lo.time) * double(hiSector - loSector));
    const std::optional<std::int64_t> start = navs.backwardSector(std::clamp(guess, loSector, hiSector - 1), loSector);
    if (!start)
        return false;
    std::int64_t cur = *start;

    for (int hop = 0; hop < kMaxHops; ++hop) {
        const dvd::NavPack nav = navs.nav(cur);
        const std::int64_t s = navs.time(nav);
        if (navs.offsetOf(cur) < lo.offset || navs.offsetOf(cur) >= hiBound || s < lo.time || (hi && s >= hi->time))
            return false;
        std::optional<std::int64_t> to;
        if (s <= t) {
            lo = {navs.offsetOf(cur), s};
            const std::int64_t next = cur + std::int64_t(nav.vobuEa) + 1;
            // The last VOBU, whose end may lie in the next file, never comes
            // here: the search only runs for times before it starts.
            if (next >= navs.sectors())
                return false;
            // The next VOBU by the end address, confirmed by the next_vobu
            // pointer, its sector number and its start time.
            const dvd::NavPack *after = navs.at(next);
            const auto word = dvd::vobuTarget(cur, nav.nextVobu, true, navs.sectors());
            if (!after || (word && *word != next) || std::int64_t(after->lbn) - nav.lbn != next - cur
                || navs.offsetOf(next) > hiBound || after->startPtm != nav.endPtm)
                return false;
            if (navs.time(*after) > t) {
                hi = navs.unit(next);
                hiBound = hi->offset;
                result = {lo, hi};
                return true;
            }
            // The longest step ahead that cannot pass t; fwda[k] leads to
            // the VOBU holding s + its step.
            for (std::size_t k = 0; k < 19 && !to; ++k) {
                if (dvd::kForwardHalfSeconds[k] * kHalfSecond > t - s)
                    continue;
                to = dvd::vobuTarget(cur, nav.fwda[k], true, navs.sectors());
                if (to && *to <= next)
                    to.reset();
            }
            if (!to)
                to = next;
        } else {
            hi = Unit{navs.offsetOf(cur), s};
            hiBound = hi->offset;
            // The shortest step back that reaches t, else the longest there is.
            std::optional<std::int64_t> longest;
            for (std::size_t k = 0; k < 19 && !to; ++k) {
                const auto back = dvd::vobuTarget(cur, nav.bwda[k], false, navs.sectors());
                if (!back || *back >= cur)
                    continue;
                longest = back;
                if (dvd::kForwardHalfSeconds[18 - k] * kHalfSecond >= s - t)
                    to = back;
            }
            if (!to)
                to = longest;
            if (!to) {
                const auto prev = dvd::vobuTarget(cur, nav.prevVobu, false, navs.sectors());
                to = prev && *prev < cur ? prev : navs.backwardSector(cur - 1, loSector);
            }
            if (!to)
                return false;
            // lo is known to start at or before t: a step back past it is no better
            to = std::max(*to, navs.sectorOf(lo.offset));
        }
        const dvd::NavPack *target = navs.at(*to);
        if (!target || std::int64_t(target->lbn) - nav.lbn != *to - cur)
            return false;
        cur = *to;
    }
    return false;
}

class Planner {
public:
    Planner(ByteSource &source, const PlanOptions &options) : source_(source), options_(options) {}

    PreciseClip plan(std::int32_t startSecond, std::int32_t endSecond)
    {
        if (source_.size() == 0)
            throw PlanError(quoted(source_) + " is empty, so it holds no video to cut.");
        open();

        const std::int64_t tStart = std::int64_t(startSecond) * kTicksPerSecond;
        const std::int64_t tEnd = std::int64_t(endSecond) * kTicksPerSecond;
        if (tStart >= streamEnd_)
            throw PlanError("The start mark (" + std::to_string(startSecond)
                            + " s) lies at or past the end of the video in " + quoted(source_) + " ("
                            + secondsText(toSeconds(streamEnd_)) + " s).");
        const Located start = locate(tStart);
        const Located end = locate(tEnd);
        const std::optional<Unit> stop = end.at.time >= tEnd ? std::optional<Unit>(end.at) : end.next;

        PreciseClip clip;
        clip.offset = start.at.offset;
        clip.length = (stop ? stop->offset : source_.size()) - clip.offset;
        clip.startTime = toSeconds(start.at.time);
        clip.endTime = toSeconds(stop ? stop->time : streamEnd_);
        clip.streamEnd = toSeconds(streamEnd_);
        clip.navPacks = navs_ != nullptr;
        if (clip.length <= 0)
            throw PlanError("No picture of " + quoted(source_) + " starts between the marks.");
        return clip;
    }

private:
    // The earliest time stamp, from the first one and how far before it it lies.
    static std::optional<std::int64_t> earliestPts(std::optional<std::int64_t> firstPts,
                                                   std::optional<std::int64_t> before)
    {
        return firstPts ? std::optional(*firstPts + *before) : std::nullopt;
    }

    // Finds the first pack, tells a DVD title from a plain program stream,
    // and sets the timeline's origin and end.
    void open()
    {
        Window head(source_);
        const std::optional<std::int64_t> first = packStart(head, 0, kResyncLimit);
        if (!first)
            throw PlanError(quoted(source_) + " is not an MPEG program stream, so it cannot be cut precisely.");
        std::optional<std::int64_t> firstPts;
        std::optional<std::int64_t> earliest; // of the video before the first NAV pack, from firstPts
        std::optional<Unit> firstSequence;
        int sequences = 0;
        std::int64_t o = *first;
        while (o < source_.size() && o - *first < kHeadLimit && sequences < 2) {
            std::size_t available = 0;
            const std::uint8_t *p = head.at(o, dvd::kPackSize, available);
            if (const auto nav = dvd::parseNavPack(p, available)) {
                navs_ = std::make_unique<NavStream>(source_, o % kSector);
                if (!(navs_->nav(navs_->sectorOf(o)) == *nav))
                    changed(source_);
                openNav(Unit{*first, 0}, navs_->sectorOf(o), earliestPts(firstPts, earliest));
                return;
            }
            const auto pack = packAt(head, o);
            if (!pack) {
                const auto next = packStart(head, o + 1, o + 1 + kResyncLimit);
                if (!next)
                    break;
                o = *next;
                continue;
            }
            if (pack->videoPts && !firstPts)
                firstPts = pack->videoPts;
            if (pack->videoPts)
                earliest = std::min(earliest.value_or(0), relativePts(*pack->videoPts, *firstPts));
            if (pack->sequencePts && sequences++ == 0)
                firstSequence = Unit{o, *pack->sequencePts};
            o += std::int64_t(pack->length);
        }
        // Damage may have taken the first NAV packs but not the ones after:
        // those are looked for on their grid, a sector's head at a time.
        auto navs = std::make_unique<NavStream>(source_, *first % kSector);
        if (const auto s = navs->forwardSector(navs->sectorOf(o), navs->sectorOf(o + kNavSearch))) {
            navs_ = std::move(navs);
            openNav(Unit{*first, 0}, *s, earliestPts(firstPts, earliest));
            return;
        }
        if (!firstSequence || !firstPts)
            throw PlanError(quoted(source_) + " holds no MPEG video picture that a clip could start on.");
        openSequences(*firstPts, *firstSequence);
    }

    // head is where the stream starts; earlierPts, the earliest video time
    // stamp found before the first NAV pack, when damage took the packs of
    // the VOBUs before it.
    void openNav(Unit head, std::int64_t firstSector, std::optional<std::int64_t> earlierPts)
    {
        NavStream &navs = *navs_;
        const dvd::NavPack firstNav = navs.nav(firstSector);
        const std::int64_t offset = navs.offsetOf(firstSector);
        // Second 0 is the stream's first picture, whichever VOBU's NAV pack
        // is the first one whole. A VOBU before it in this source (its
        // NAV pack damaged) starts the stream; one that began in an
        // earlier part of the title does not.
        const auto previous = dvd::vobuTarget(firstSector, firstNav.prevVobu, false, navs.sectors());
        const bool damagedBefore = previous && navs.offsetOf(*previous) + kSector > head.offset;
        std::uint32_t origin = firstNav.startPtm;
        if (damagedBefore && earlierPts) {
            const std::uint32_t before = firstNav.startPtm - std::uint32_t(*earlierPts);
            if (before > 0 && before <= 4 * kTicksPerSecond)
                origin = std::uint32_t(*earlierPts);
        }
        navs.setOrigin(origin);
        first_ = navs.unit(firstSector);
        head_ = damagedBefore ? head : first_;
        const std::int64_t end = packsEnd(source_, offset);
        const std::optional<std::int64_t> lastSector = navs.backwardSector(navs.sectorOf(end - 1), firstSector);
        if (!lastSector)
            changed(source_);
        last_ = navs.unit(*lastSector);
        streamEnd_ = navs.endTime(navs.nav(*lastSector));
        checkSectors(firstSector, *lastSector);
        if (navs.nav(firstSector).vobId != navs.nav(*lastSector).vobId)
            checkJoins(firstSector, *lastSector);
    }

    // A NAV pack names its own sector in the VOB set. One that names
    // another sector than the first NAV pack leads to belongs to another
    // run of the set, such as a second copy of the same VOB, whose times
    // start again; halving finds where it begins.
    void checkSectors(std::int64_t a, std::int64_t b)
    {
        NavStream &navs = *navs_;
        const std::int64_t base = std::int64_t(navs.nav(a).lbn) - a;
        const auto inLine = [&](std::int64_t s) { return std::int64_t(navs.nav(s).lbn) - s == base; };
        if (inLine(b))
            return;
        while (true) {
            const std::int64_t mid = a + (b - a) / 2;
            std::optional<std::int64_t> m = navs.backwardSector(mid, a + 1);
            if (!m)
                m = navs.forwardSector(mid + 1, b);
            if (!m)
                timesJump(source_, navs.offsetOf(b));
            (inLine(*m) ? a : b) = *m;
        }
    }

    // Several VOBs in one file may each start their clock afresh; the
    // search needs one timeline, so each join between two VOBs is checked.
    void checkJoins(std::int64_t a, std::int64_t b)
    {
        NavStream &navs = *navs_;
        std::vector<std::pair<std::int64_t, std::int64_t>> pending{{a, b}};
        while (!pending.empty()) {
            const auto [from, to] = pending.back();
            pending.pop_back();
            const dvd::NavPack x = navs.nav(from), y = navs.nav(to);
            const std::int64_t mid = from + (to - from) / 2;
            std::optional<std::int64_t> m = navs.backwardSector(mid, from + 1);
            if (!m)
                m = navs.forwardSector(mid + 1, to);
            if (!m) { // y follows x directly
                if (std::abs(navs.time(y) - navs.endTime(x)) > kJoinTolerance)
                    timesJump(source_, navs.offsetOf(to));
                continue;
            }
            const std::uint16_t id = navs.nav(*m).vobId;
            if (id < x.vobId || id > y.vobId)
                timesJump(source_, navs.offsetOf(*m));
            if (id != x.vobId)
                pending.emplace_back(from, *m);
            if (id != y.vobId)
                pending.emplace_back(*m, to);
        }
    }

    void openSequences(std::int64_t originPts, Unit firstSequence)
    {
        sequences_ = std::make_unique<SequenceStream>(source_, originPts);
        first_ = head_ = {firstSequence.offset, relativePts(firstSequence.time, originPts)};
        // The stream ends one frame after its latest picture.
        Window &window = sequences_->window();
        const std::int64_t end = packsEnd(source_, first_.offset);
        std::int64_t latest = first_.time;
        int rate = 0;
        std::optional<std::int64_t> o = packStart(window, std::max(first_.offset, end - kTailBytes), end);
        while (o && *o < end) {
            const auto pack = packAt(window, *o);
            if (!pack) {
                o = packStart(window, *o + 1, end);
                continue;
            }
            if (pack->videoPts)
                latest = std::max(latest, relativePts(*pack->videoPts, originPts));
            if (pack->frameRateCode)
                rate = pack->frameRateCode;
            *o += std::int64_t(pack->length);
        }
        static const std::int64_t frameTicks[] = {3600, 3754, 3750, 3600, 3003, 3000, 1800, 1502, 1500};
        streamEnd_ = latest + frameTicks[rate >= 0 && rate <= 8 ? rate : 0];
    }

    Located locate(std::int64_t t)
    {
        if (t < first_.time && head_.offset != first_.offset)
            return {head_, first_};
        t = std::max(t, first_.time);
        if (navs_) {
            if (last_.time <= t)
                return {last_, std::nullopt};
            Unit lo = first_;
            std::optional<Unit> hi = last_;
            std::int64_t hiBound = last_.offset;
            Located found;
            if (options_.useSearchPointers && followPointers(*navs_, t, lo, hi, hiBound, found))
                return found;
            return bracketSearch(source_, *navs_, t, lo, hi, hiBound, hi ? hi->time : streamEnd_);
        }
        return bracketSearch(source_, *sequences_, t, first_, std::nullopt, source_.size(), streamEnd_);
    }

    ByteSource &source_;
    PlanOptions options_;
    std::unique_ptr<NavStream> navs_;
    std::unique_ptr<SequenceStream> sequences_;
    Unit head_; // where a clip from second 0 starts
    Unit first_;
    Unit last_;
    std::int64_t streamEnd_ = 0;
};

} // namespace

PreciseClip planPreciseClip(ByteSource &source, std::int32_t startSecond, std::int32_t endSecond,
                            const PlanOptions &options)
{
    return Planner(source, options).plan(startSecond, endSecond);
}

} // namespace morvane
