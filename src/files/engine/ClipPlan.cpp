#include "files/engine/ClipCutter.h"

#include <string>

// The byte rule. The clip is the byte range of the source that the marks
// cover at a constant rate: D is the source's duration in whole seconds,
// R = length / D bytes per second (truncated), S = R x start mark and
// E = R x end mark. Clips are defined as a copy in blocks of 4097 bytes (a
// buffer indexed 0 to 4096) that steps 4096 bytes at a time, from 1-based
// position S (0-based S - 1) for as long as the position is not past E.
// Each block rewrites the last byte of the one before with the same value,
// so the overlap changes nothing, but the last block still brings its
// 4097th byte: a clip is N = (E - S) / 4096 + 1 blocks, 4096 x N + 1 bytes.
// Clips made before this engine have exactly those bytes, and people compare
// them; the engine copies the same range in one go, only faster. A start of
// 0 has no byte before position 1, so it starts at the first byte. The
// progress maximum is (E - S) + 4097, and the value ends at 4096 x N.

namespace morvane {

namespace {

constexpr std::int64_t kBlockStep = 4096;
constexpr std::int64_t kBlockSize = 4097;

std::int64_t checkedProduct(std::int64_t a, std::int64_t b)
{
    std::int64_t result = 0;
    if (__builtin_mul_overflow(a, b, &result))
        throw CutError("The marks lie too far into the file to work out byte offsets.");
    return result;
}

void checkInputs(std::int64_t sourceLength, std::int32_t durationSeconds)
{
    if (durationSeconds < 0)
        throw CutError("The duration cannot be negative.");
    if (durationSeconds == 0)
        throw CutError("The duration is 0 seconds, so the source has no byte rate.");
    if (sourceLength < durationSeconds)
        throw CutError("The source has fewer bytes (" + std::to_string(sourceLength)
                       + ") than its duration has seconds (" + std::to_string(durationSeconds)
                       + "), so it has no byte rate.");
}

} // namespace

ClipPlan planClip(std::int64_t sourceLength, std::int32_t durationSeconds, std::int32_t startSecond,
                  std::int32_t endSecond)
{
    checkInputs(sourceLength, durationSeconds);

    ClipPlan plan;
    plan.byteRate = sourceLength / durationSeconds;
    const std::int64_t s = checkedProduct(plan.byteRate, startSecond);
    const std::int64_t e = checkedProduct(plan.byteRate, endSecond);
    const std::int64_t blocks = (e - s) / kBlockStep + 1;

    // The blocks start at 1-based position S, i.e. 0-based S - 1; a start of
    // 0 has no byte before it, so it starts at the first byte.
    plan.offset = s == 0 ? 0 : s - 1;
    if (plan.offset >= sourceLength)
        throw CutError("The start mark lies at or beyond the end of the source.");
    const std::int64_t wanted = checkedProduct(blocks, kBlockStep) + 1;
    plan.length = std::min(wanted, sourceLength - plan.offset);
    plan.progressMaximum = (e - s) + kBlockSize;
    plan.progressFinal = checkedProduct(blocks, kBlockStep);
    return plan;
}

} // namespace morvane
