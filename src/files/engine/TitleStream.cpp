#include "files/engine/TitleStream.h"

#include "files/engine/CutError.h"
#include "files/engine/FileName.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <map>
#include <sys/stat.h>

namespace morvane {

namespace {

constexpr std::int64_t kPack = std::int64_t(dvd::kPackSize);

std::string titleName(const DiscTitle &title)
{
    return title.number > 0 ? "Title " + std::to_string(title.number) : std::string("The file");
}

} // namespace

TitleTimeline::TitleTimeline(const DiscTitle &title, const DiscTitleSet &set, ByteSource &vobSet)
    : title_(title), vobuStarts_(set.vobuStarts)
{
    measure(vobSet);
}

TitleTimeline::TitleTimeline(const DiscTitle &title, ByteSource &file) : title_(title), loose_(true) { measure(file); }

void TitleTimeline::measure(ByteSource &vobSet)
{
    std::int64_t ticks = 0;
    std::int64_t shift = 0;
    std::int64_t previousEnd = 0;
    for (std::size_t c = 0; c < title_.cells.size(); ++c) {
        const DiscCell &cell = title_.cells[c];
        if (!cell.played())
            continue;
        TitleSpan span;
        span.cell = c;
        span.offset = size_;
        span.bytes = (std::int64_t(cell.lastSector) - cell.firstSector + 1) * kPack;
        if (!loose_) {
            const auto first = std::lower_bound(vobuStarts_.begin(), vobuStarts_.end(), cell.firstSector);
            const auto last = std::upper_bound(vobuStarts_.begin(), vobuStarts_.end(), cell.lastVobuStart);
            if (first == vobuStarts_.end() || *first != cell.firstSector || last <= first)
                throw TitleError(titleName(title_) + "'s cell " + std::to_string(c + 1) + " starts at sector "
                                 + std::to_string(cell.firstSector) + ", where the VOBU address map has no VOBU.");
            span.firstVobu = std::size_t(first - vobuStarts_.begin());
            span.vobus = std::size_t(last - first);
        }
        const dvd::NavPack opening = navPack(cell.firstSector, vobSet);
        const dvd::NavPack closing = navPack(cell.lastVobuStart, vobSet);
        span.firstPtm = opening.startPtm;
        if (!spans_.empty()) // this cell's first picture follows the last one's end
            shift += previousEnd - span.firstPtm;
        span.shift = shift;
        span.startTicks = ticks;
        if (closing.endPtm <= opening.startPtm)
            throw TitleError(titleName(title_) + "'s cell " + std::to_string(c + 1)
                             + " ends before it starts, by its NAV packs' times.");
        ticks += std::int64_t(closing.endPtm) - opening.startPtm;
        span.endTicks = ticks;
        previousEnd = closing.endPtm;
        size_ += span.bytes;
        spans_.push_back(span);
    }
    if (spans_.empty())
        throw TitleError(titleName(title_) + " has no cells to play.");
}

dvd::NavPack TitleTimeline::navPack(std::uint32_t sector, ByteSource &vobSet) const
{
    std::uint8_t pack[dvd::kPackSize];
    const std::size_t got = vobSet.read(std::int64_t(sector) * kPack, pack, sizeof pack);
    const std::optional<dvd::NavPack> nav = dvd::parseNavPack(pack, got);
    // A loose file's sector numbers may count from an earlier file of its set.
    if (!nav || (!loose_ && nav->lbn != sector))
        throw TitleError("The VOBU of " + titleName(title_) + " at sector " + std::to_string(sector) + " of title set "
                         + std::to_string(title_.titleSet) + " does not start with its NAV pack.");
    return *nav;
}

std::int64_t TitleTimeline::vobuStartPtm(std::size_t vobu, ByteSource &vobSet) const
{
    return navPack(vobuStarts_[vobu], vobSet).startPtm;
}

ExtentTable TitleTimeline::streamTable(const ExtentTable &setTable) const
{
    ExtentTable table;
    for (const TitleSpan &span : spans_)
        setTable.visit(std::int64_t(title_.cells[span.cell].firstSector) * kPack, span.bytes,
                       [&](const Extent &extent, std::int64_t at, std::int64_t length) {
                           table.append({extent.part, at, length});
                       });
    if (table.size() != size_)
        throw TitleError(titleName(title_) + " runs past the end of its video files.");
    return table;
}

std::size_t TitleTimeline::spanAt(std::int64_t offset) const
{
    const auto after = std::upper_bound(spans_.begin(), spans_.end(), offset,
                                        [](std::int64_t at, const TitleSpan &span) { return at < span.offset; });
    return after == spans_.begin() ? 0 : std::size_t(after - spans_.begin()) - 1;
}

TitlePlace TitleTimeline::place(std::int64_t ticks, ByteSource &vobSet) const
{
    ticks = std::clamp<std::int64_t>(ticks, 0, durationTicks() - 1);
    const auto after = std::upper_bound(spans_.begin(), spans_.end(), ticks,
                                        [](std::int64_t t, const TitleSpan &span) { return t < span.startTicks; });
    const std::size_t s = std::size_t(after - spans_.begin()) - 1;
    const TitleSpan &span = spans_[s];
    const std::int64_t elapsed = ticks - span.startTicks;
    const std::uint32_t cellStart = title_.cells[span.cell].firstSector;
    TitlePlace place;
    place.span = s;
    std::int64_t next = 0; // the next VOBU's sector
    if (loose_) {
        place.sector = searchSectors(span, elapsed, vobSet);
        next = place.sector + std::int64_t(navPack(place.sector, vobSet).vobuEa) + 1;
    } else {
        // Binary search over the cell's VOBUs, on the NAV packs' start times.
        std::size_t lo = span.firstVobu;
        std::size_t hi = span.firstVobu + span.vobus - 1;
        while (lo < hi) {
            const std::size_t mid = (lo + hi + 1) / 2;
            if (vobuStartPtm(mid, vobSet) - span.firstPtm <= elapsed)
                lo = mid;
            else
                hi = mid - 1;
        }
        place.sector = vobuStarts_[lo];
        next = lo + 1 < span.firstVobu + span.vobus ? vobuStarts_[lo + 1] : std::numeric_limits<std::int64_t>::max();
    }
    const dvd::NavPack nav = navPack(place.sector, vobSet);
    place.offset = span.offset + (std::int64_t(place.sector) - cellStart) * kPack;
    place.nextOffset = std::min(span.offset + span.bytes, span.offset + (next - cellStart) * kPack);
    place.startTicks = span.startTicks + nav.startPtm - span.firstPtm;
    place.endTicks = span.startTicks + nav.endPtm - span.firstPtm;
    return place;
}

TitlePlace TitleTimeline::chapterStart(std::size_t chapter) const
{
    const std::size_t cell = chapter < title_.chapters.size() ? title_.chapters[chapter].firstCell : SIZE_MAX;
    const auto span = std::find_if(spans_.begin(), spans_.end(), [&](const TitleSpan &s) { return s.cell >= cell; });
    TitlePlace place;
    if (span == spans_.end()) {
        place.span = spans_.size();
        place.offset = place.nextOffset = size_;
        place.startTicks = place.endTicks = durationTicks();
        return place;
    }
    place.span = std::size_t(span - spans_.begin());
    place.sector = title_.cells[span->cell].firstSector;
    place.offset = span->offset;
    place.startTicks = span->startTicks;
    return place;
}

TitleStream::TitleStream(std::vector<SourcePart> parts, const TitleTimeline &timeline, std::int64_t shiftFrom)
    : raw_(parts, timeline.streamTable(wholeParts(sizesOf(parts))))
{
    const std::int64_t base = timeline.spans()[timeline.spanAt(shiftFrom)].shift;
    for (const TitleSpan &span : timeline.spans()) {
        starts_.push_back(span.offset);
        shift_.push_back(span.shift - base);
    }
}

bool TitleStream::shifts(std::int64_t offset, std::int64_t length) const
{
    if (length <= 0)
        return false;
    const auto from = std::upper_bound(starts_.begin(), starts_.end(), offset) - starts_.begin() - 1;
    const auto to = std::upper_bound(starts_.begin(), starts_.end(), offset + length - 1) - starts_.begin();
    return std::any_of(shift_.begin() + std::max<std::ptrdiff_t>(from, 0), shift_.begin() + to,
                       [](std::int64_t s) { return s != 0; });
}

std::size_t TitleStream::read(std::int64_t offset, void *buf, std::size_t len)
{
    if (offset < 0 || offset >= size() || len == 0)
        return 0;
    len = std::size_t(std::min<std::int64_t>(std::int64_t(len), size() - offset));
    if (!shifts(offset, std::int64_t(len))) {
        const std::size_t got = raw_.read(offset, buf, len);
        count(got);
        return got;
    }
    // Whole packs, so that every time stamp is seen whole.
    const std::int64_t first = offset / kPack * kPack;
    const std::int64_t last = std::min(size(), (offset + std::int64_t(len) + kPack - 1) / kPack * kPack);
    packs_.resize(std::size_t(last - first));
    raw_.read(first, packs_.data(), packs_.size());
    std::size_t s = std::size_t(std::upper_bound(starts_.begin(), starts_.end(), first) - starts_.begin()) - 1;
    for (std::int64_t at = first; at < last; at += kPack) {
        while (s + 1 < starts_.size() && starts_[s + 1] <= at)
            ++s;
        if (shift_[s] != 0)
            dvd::shiftTimeStamps(packs_.data() + (at - first), std::size_t(std::min(kPack, last - at)), shift_[s]);
    }
    std::memcpy(buf, packs_.data() + (offset - first), len);
    count(len);
    return len;
}

namespace {

constexpr std::int64_t kScanSectors = 32;

struct FoundNav {
    std::int64_t sector = 0;
    dvd::NavPack nav;
};

// The first NAV pack in sectors [from, limit), read a few sectors at a time,
// more as the search goes on.
std::optional<FoundNav> navAtOrAfter(ByteSource &file, std::int64_t from, std::int64_t limit)
{
    std::vector<std::uint8_t> chunk(std::size_t(kScanSectors * kPack));
    std::int64_t step = 2;
    for (std::int64_t at = from; at < limit; at += step, step = std::min(2 * step, kScanSectors)) {
        const std::int64_t count = std::min(step, limit - at);
        const std::size_t got = file.read(at * kPack, chunk.data(), std::size_t(count * kPack));
        for (std::int64_t i = 0; i < count && std::size_t((i + 1) * kPack) <= got; ++i)
            if (auto nav = dvd::parseNavPack(chunk.data() + i * kPack, dvd::kPackSize))
                return FoundNav{at + i, *nav};
    }
    return std::nullopt;
}

// The last NAV pack in sectors [floor, before).
std::optional<FoundNav> navBefore(ByteSource &file, std::int64_t before, std::int64_t floor)
{
    std::vector<std::uint8_t> chunk(std::size_t(kScanSectors * kPack));
    for (std::int64_t end = before; end > floor; end -= kScanSectors) {
        const std::int64_t at = std::max(floor, end - kScanSectors);
        const std::size_t got = file.read(at * kPack, chunk.data(), std::size_t((end - at) * kPack));
        for (std::int64_t i = end - at - 1; i >= 0; --i)
            if (std::size_t((i + 1) * kPack) <= got)
                if (auto nav = dvd::parseNavPack(chunk.data() + i * kPack, dvd::kPackSize))
                    return FoundNav{at + i, *nav};
    }
    return std::nullopt;
}

// How far to look for the first and the last NAV pack: a few VOBUs.
constexpr std::int64_t kEndSectors = 2048;

} // namespace

std::uint32_t TitleTimeline::searchSectors(const TitleSpan &span, std::int64_t elapsed, ByteSource &file) const
{
    const DiscCell &cell = title_.cells[span.cell];
    std::int64_t lo = cell.firstSector;                     // a VOBU that starts by elapsed
    std::int64_t hi = std::int64_t(cell.lastVobuStart) + 1; // no VOBU at or after hi does
    for (;;) {
        const std::int64_t next = lo + std::int64_t(navPack(std::uint32_t(lo), file).vobuEa) + 1;
        if (next >= hi || std::int64_t(navPack(std::uint32_t(next), file).startPtm) - span.firstPtm > elapsed)
            return std::uint32_t(lo);
        const std::int64_t mid = (next + hi) / 2;
        const std::optional<FoundNav> found = mid > next ? navAtOrAfter(file, mid, hi) : std::nullopt;
        if (mid <= next || (found && std::int64_t(found->nav.startPtm) - span.firstPtm <= elapsed))
            lo = mid <= next ? next : found->sector;
        else
            hi = mid;
    }
}

std::optional<DiscTitle> looseTitle(ByteSource &file)
{
    const std::int64_t sectors = file.size() / kPack;
    const std::optional<FoundNav> first = navAtOrAfter(file, 0, std::min(sectors, kEndSectors));
    const std::optional<FoundNav> last =
        first ? navBefore(file, sectors, std::max(first->sector, sectors - kEndSectors)) : std::nullopt;
    if (!last || last->nav.vobId <= first->nav.vobId)
        return std::nullopt;
    // Where each later VOB ID begins: the first NAV pack at or after x has a
    // VOB ID of at least k from some x on. Every NAV pack seen narrows the
    // searches for the VOB IDs after.
    std::map<std::int64_t, int> seen{{first->sector, first->nav.vobId}, {last->sector, last->nav.vobId}};
    std::vector<FoundNav> starts{*first};
    for (int k = first->nav.vobId + 1; k <= last->nav.vobId; ++k) {
        if (starts.back().nav.vobId >= k)
            continue;
        std::int64_t lo = starts.back().sector;
        std::int64_t hi = last->sector;
        for (const auto &[sector, vobId] : seen)
            if (sector > lo && vobId >= k) {
                hi = sector;
                break;
            } else if (sector > lo) {
                lo = sector;
            }
        while (hi - lo > 1) {
            const std::int64_t mid = lo + (hi - lo) / 2;
            const std::optional<FoundNav> at = navAtOrAfter(file, mid, hi + 1);
            if (at)
                seen.emplace(at->sector, at->nav.vobId);
            if (at && at->nav.vobId >= k)
                hi = mid;
            else
                lo = mid;
        }
        const std::optional<FoundNav> start = navAtOrAfter(file, hi, last->sector + 1);
        if (!start || start->nav.vobId < k)
            return std::nullopt; // VOB IDs out of order: no time line to tell
        starts.push_back(*start);
    }
    DiscTitle title;
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const std::int64_t end = i + 1 < starts.size() ? starts[i + 1].sector : sectors;
        const std::optional<FoundNav> closing = navBefore(file, end, starts[i].sector);
        DiscCell cell;
        cell.vobId = starts[i].nav.vobId;
        cell.cellId = starts[i].nav.cellId;
        cell.firstSector = std::uint32_t(starts[i].sector);
        cell.lastVobuStart = std::uint32_t(closing ? closing->sector : starts[i].sector);
        cell.lastSector = std::uint32_t(end - 1);
        title.chapters.push_back({0, title.cells.size()});
        title.cells.push_back(cell);
    }
    return title;
}

std::vector<SourcePart> openVobSet(const DiscTitleSet &set, std::vector<Fd> &files)
{
    std::vector<SourcePart> parts;
    for (const QByteArray &name : set.vobs) {
        Fd fd(::open(name.constData(), O_RDONLY | O_CLOEXEC));
        struct stat info {};
        if (!fd.valid() || ::fstat(fd.get(), &info) != 0)
            throw SourceReadError("The video file " + quotedName(name) + " cannot be opened: " + errnoText(errno)
                                  + ".");
        parts.push_back({fd.get(), info.st_size, name.toStdString()});
        files.push_back(std::move(fd));
    }
    return parts;
}

OpenTitle::OpenTitle(const QByteArray &discPath, int titleNumber) : disc_(openDisc(discPath))
{
    const DiscTitle &title = disc_.title(titleNumber);
    const DiscTitleSet &set = disc_.titleSet(title.titleSet);
    const std::vector<SourcePart> parts = openVobSet(set, files_);
    vobSet_ = std::make_unique<JoinedByteSource>(parts);
    timeline_ = std::make_unique<TitleTimeline>(title, set, *vobSet_);
    stream_ = std::make_unique<TitleStream>(parts, *timeline_);
}

} // namespace morvane
