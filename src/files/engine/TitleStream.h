#pragma once
// A DVD title as one stream: its cells' sectors in play order, across the
// title set's VTS_nn_1..N.VOB, with title time measured on the NAV packs.
// Each VOB ID usually starts its time stamps again; the title stream shifts
// SCR, PTS and DTS per cell so that time runs on, and changes nothing else.
// Knows nothing of widgets.

#include "files/engine/ByteSource.h"
#include "files/engine/DvdDisc.h"
#include "files/engine/DvdPacks.h"
#include "files/engine/Fd.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace morvane {

// The title's VOBs hold something other than what its tables say; what() is
// a sentence.
class TitleError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One played cell of the title, placed on the stream and in title time.
struct TitleSpan {
    std::size_t cell = 0;        // index into DiscTitle::cells
    std::int64_t offset = 0;     // its first byte in the title stream
    std::int64_t bytes = 0;      // whole sectors
    std::int64_t startTicks = 0; // title time of its first VOBU
    std::int64_t endTicks = 0;   // title time where its last VOBU ends
    std::int64_t firstPtm = 0;   // its first VOBU's own VOBU_S_PTM
    std::int64_t shift = 0;      // added to its time stamps in the title stream
    std::size_t firstVobu = 0;   // index into DiscTitleSet::vobuStarts
    std::size_t vobus = 0;
};

// The VOBU that holds a title time.
struct TitlePlace {
    std::size_t span = 0;
    std::uint32_t sector = 0;    // its NAV pack, in the title set
    std::int64_t offset = 0;     // its NAV pack in the title stream
    std::int64_t nextOffset = 0; // the next VOBU's NAV pack in the title stream, or its end
    std::int64_t startTicks = 0; // title time of the VOBU's start
    std::int64_t endTicks = 0;   // and of its end
};

class TitleTimeline {
public:
    // vobSet: the title set's VOBs back to back, sector 0 at byte 0. Reads
    // the first and the last NAV pack of every cell. Throws TitleError,
    // SourceReadError.
    TitleTimeline(const DiscTitle &title, const DiscTitleSet &set, ByteSource &vobSet);
    // A title made by looseTitle: its VOBUs are found by searching the
    // file's sectors for NAV packs, as it has no VOBU address map.
    TitleTimeline(const DiscTitle &title, ByteSource &file);

    const DiscTitle &title() const { return title_; }
    const std::vector<TitleSpan> &spans() const { return spans_; }
    std::int64_t size() const { return size_; }
    std::int64_t durationTicks() const { return spans_.back().endTicks; }
    // The title stream's time stamp at title time 0.
    std::int64_t firstTimeStamp() const { return spans_.front().firstPtm; }
    // The title's bytes in play order, on the files that setTable lays out.
    ExtentTable streamTable(const ExtentTable &setTable) const;

    // The last VOBU that starts at or before ticks (clamped to the title).
    // Reads a handful of NAV packs from vobSet. Throws TitleError,
    // SourceReadError.
    TitlePlace place(std::int64_t ticks, ByteSource &vobSet) const;
    // Where a chapter (0-based) starts in the title stream, and in time; the
    // title's end for the chapter after the last.
    TitlePlace chapterStart(std::size_t chapter) const;
    // The span that holds a stream offset.
    std::size_t spanAt(std::int64_t offset) const;

private:
    void measure(ByteSource &vobSet);
    std::int64_t vobuStartPtm(std::size_t vobu, ByteSource &vobSet) const;
    dvd::NavPack navPack(std::uint32_t sector, ByteSource &vobSet) const;
    // The last VOBU of the span that starts by elapsed ticks, by NAV packs.
    std::uint32_t searchSectors(const TitleSpan &span, std::int64_t elapsed, ByteSource &vobSet) const;

    DiscTitle title_;
    std::vector<std::uint32_t> vobuStarts_;
    std::vector<TitleSpan> spans_;
    std::int64_t size_ = 0;
    bool loose_ = false;
};

// A VOB file read without its tables, or the files given read as one, whose
// VOB IDs each start their time stamps again: a title (number 0) of one cell
// per VOB ID, in file order. Finds where the VOB IDs change by a binary
// search on the NAV packs, without reading the whole file. Nothing when the
// NAV packs at its two ends have the same VOB ID, or none are found there.
// Throws SourceReadError.
std::optional<DiscTitle> looseTitle(ByteSource &file);

// The title stream, random-access. shiftFrom sets whose time stamps are left
// as they are: those of the span holding that offset, so that a clip from
// there is a plain copy until it crosses into another VOB ID.
class TitleStream : public ByteSource {
public:
    TitleStream(std::vector<SourcePart> parts, const TitleTimeline &timeline, std::int64_t shiftFrom = 0);
    std::int64_t size() const override { return raw_.size(); }
    std::size_t read(std::int64_t offset, void *buf, std::size_t len) override;
    std::string name() const override { return raw_.name(); }
    // Whether any byte of [offset, offset + length) has its time stamps shifted.
    bool shifts(std::int64_t offset, std::int64_t length) const;
    const ExtentTable &table() const { return raw_.table(); }

private:
    JoinedByteSource raw_;
    std::vector<std::int64_t> starts_; // stream offset of each span
    std::vector<std::int64_t> shift_;  // and the ticks its time stamps move
    std::vector<std::uint8_t> packs_;
};

// A title stream that holds its files open: what a player plays. Throws
// DiscError, TitleError, SourceReadError.
class OpenTitle {
public:
    OpenTitle(const QByteArray &discPath, int titleNumber);
    const Disc &disc() const { return disc_; }
    const TitleTimeline &timeline() const { return *timeline_; }
    TitleStream &stream() { return *stream_; }
    TitlePlace place(std::int64_t ticks) const { return timeline_->place(ticks, *vobSet_); }
    // What the lookups read, counted.
    ByteSource &vobSet() { return *vobSet_; }

private:
    Disc disc_;
    std::vector<Fd> files_;
    std::unique_ptr<JoinedByteSource> vobSet_;
    std::unique_ptr<TitleTimeline> timeline_;
    std::unique_ptr<TitleStream> stream_;
};

// The title set's VOBs, whole and back to back.
std::vector<SourcePart> openVobSet(const DiscTitleSet &set, std::vector<Fd> &files);

} // namespace morvane
