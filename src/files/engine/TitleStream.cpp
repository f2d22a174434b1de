#include "files/engine/TitleStream.h"

#include "files/engine/CutError.h"
#include "files/engine/FileName.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace morvane {

namespace {

constexpr std::int64_t kPack = std::int64_t(dvd::kPackSize);

std::string titleName(const DiscTitle &title) { return "Title " + std::to_string(title.number); }

} // namespace

TitleTimeline::TitleTimeline(const DiscTitle &title, const DiscTitleSet &set, ByteSource &vobSet)
    : title_(title), vobuStarts_(set.vobuStarts)
{
    std::int64_t ticks = 0;
    std::int64_t shift = 0;
    std::int64_t previousEnd = 0;
    for (std::size_t c = 0; c < title.cells.size(); ++c) {
        const DiscCell &cell = title.cells[c];
        if (!cell.played())
            continue;
        TitleSpan span;
        span.cell = c;
        span.offset = size_;
        span.bytes = (std::int64_t(cell.lastSector) - cell.firstSector + 1) * kPack;
        const auto first = std::lower_bound(vobuStarts_.begin(), vobuStarts_.end(), cell.firstSector);
        const auto last = std::upper_bound(vobuStarts_.begin(), vobuStarts_.end(), cell.lastVobuStart);
        if (first == vobuStarts_.end() || *first != cell.firstSector || last <= first)
            throw TitleError(titleName(title) + "'s cell " + std::to_string(c + 1) + " starts at sector "
                             + std::to_string(cell.firstSector) + ", where the VOBU address map has no VOBU.");
        span.firstVobu = std::size_t(first - vobuStarts_.begin());
        span.vobus = std::size_t(last - first);
        const dvd::NavPack opening = navPack(cell.firstSector, vobSet);
        const dvd::NavPack closing = navPack(cell.lastVobuStart, vobSet);
        span.firstPtm = opening.startPtm;
        if (!spans_.empty()) // this cell's first picture follows the last one's end
            shift += previousEnd - span.firstPtm;
        span.shift = shift;
        span.startTicks = ticks;
        if (closing.endPtm <= opening.startPtm)
            throw TitleError(titleName(title) + "'s cell " + std::to_string(c + 1)
                             + " ends before it starts, by its NAV packs' times.");
        ticks += std::int64_t(closing.endPtm) - opening.startPtm;
        span.endTicks = ticks;
        previousEnd = closing.endPtm;
        size_ += span.bytes;
        spans_.push_back(span);
    }
    if (spans_.empty())
        throw TitleError(titleName(title) + " has no cells to play.");
}

dvd::NavPack TitleTimeline::navPack(std::uint32_t sector, ByteSource &vobSet) const
{
    std::uint8_t pack[dvd::kPackSize];
    const std::size_t got = vobSet.read(std::int64_t(sector) * kPack, pack, sizeof pack);
    const std::optional<dvd::NavPack> nav = dvd::parseNavPack(pack, got);
    if (!nav || nav->lbn != sector)
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
    const dvd::NavPack nav = navPack(vobuStarts_[lo], vobSet);
    const std::uint32_t cellStart = title_.cells[span.cell].firstSector;
    TitlePlace place;
    place.span = s;
    place.sector = vobuStarts_[lo];
    place.offset = span.offset + (std::int64_t(place.sector) - cellStart) * kPack;
    place.nextOffset = lo + 1 < span.firstVobu + span.vobus
                           ? span.offset + (std::int64_t(vobuStarts_[lo + 1]) - cellStart) * kPack
                           : span.offset + span.bytes;
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

namespace {

std::vector<std::int64_t> sizesOf(const std::vector<SourcePart> &parts)
{
    std::vector<std::int64_t> sizes;
    for (const SourcePart &part : parts)
        sizes.push_back(part.size);
    return sizes;
}

} // namespace

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
