#include "files/engine/ClipCutter.h"

#include <string>

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

void checkInputs(std::int64_t sourceLength, std::int32_t durationSeconds,
                 std::int32_t startSecond, std::int32_t endSecond)
{
    if (durationSeconds < 0 || startSecond < 0 || endSecond < 0)
        throw CutError("The duration and the marks cannot be negative.");
    if (durationSeconds == 0)
        throw CutError("The duration is 0 seconds, so the source has no byte rate.");
    if (startSecond >= endSecond)
        throw CutError("The start mark must come before the end mark.");
    if (sourceLength < durationSeconds)
        throw CutError("The source has fewer bytes (" + std::to_string(sourceLength)
                       + ") than its duration has seconds (" + std::to_string(durationSeconds)
                       + "), so it has no byte rate.");
}

} // namespace

ClipPlan planClip(std::int64_t sourceLength, std::int32_t durationSeconds,
                  std::int32_t startSecond, std::int32_t endSecond)
{
    checkInputs(sourceLength, durationSeconds, startSecond, endSecond);

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
