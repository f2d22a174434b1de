#pragma once
// GStreamer's MPEG program stream demuxer seeks to the pack whose clock
// reference matches the target, but the pictures for that instant were muxed
// up to a second earlier and need the keyframe before them: the first picture
// after a seek lies 0.5 to 1.5 s past the target, and until the clock reaches
// it the picture stands still while the position runs on. This installs, in
// the process's GStreamer registry, a demuxer of higher rank that starts
// reading early enough and lets the decoders drop what precedes the target,
// so the picture shown after a seek is the one at the sought position. The
// demuxer also tells where each file's stream starts, which the back end's
// position only shows once the first picture is up.

#include <cstdint>
#include <optional>
#include <string>

namespace morvane {

// Idempotent. Returns false when GStreamer or its demuxer is missing; the
// player then seeks as the back end does.
bool installProgramStreamSeek();

// The first timestamp of the program stream in file (a local file name), in
// nanoseconds, once such a demuxer has started reading it after mark was
// taken by programStreamMark().
std::uint64_t programStreamMark();
std::optional<std::int64_t> programStreamStartNs(const std::string &file, std::uint64_t mark);

} // namespace morvane
