#pragma once
// Plans a clip that starts and ends on whole VOBUs: at the NAV packs of a
// DVD title, or, in a program stream without usable NAV packs, at the packs
// that open a sequence header. Reads a few small pieces of the source, never
// the whole of it. Knows nothing of widgets.

#include "files/engine/ByteSource.h"

#include <cstdint>
#include <stdexcept>

namespace morvane {

// The source cannot be cut precisely; what() is a sentence a person can read.
class PlanError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct PreciseClip {
    std::int64_t offset = 0; // first byte of the clip, on a pack boundary
    std::int64_t length = 0;
    // Seconds on the stream's timeline (0 = its first presentation time) that
    // the clip covers: its first VOBU's start and the next VOBU's start or the
    // stream's end.
    double startTime = 0;
    double endTime = 0;
    double streamEnd = 0; // the whole stream's length on that timeline
    bool navPacks = true; // false: cut at sequence headers, having found no usable NAV packs
};

struct PlanOptions {
    // false: find the VOBUs by binary search over packs alone, without the
    // NAV packs' search pointers (for comparison).
    bool useSearchPointers = true;
};

// Marks are whole seconds on the stream's timeline, in order (ClipCutter::cut
// checks them). The clip starts at the last VOBU that starts at or before
// startSecond and ends just before the first VOBU that starts at or after
// endSecond, or at the source's end. Throws PlanError for marks past the
// end, for a source that is not an MPEG program stream, and for time stamps
// that start again part way; SourceReadError when reading fails or the
// source reads differently from one read to the next.
PreciseClip planPreciseClip(ByteSource &source, std::int32_t startSecond, std::int32_t endSecond,
                            const PlanOptions &options = {});

} // namespace morvane
