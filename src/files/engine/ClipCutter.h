#pragma once
// Cuts a time range out of a source file by byte range: the byte rate is the
// file's length over its duration in whole seconds, and the clip is written
// atomically next to the target. Knows nothing of widgets.

#include <QString>
#include <cstdint>
#include <functional>
#include <stdexcept>

namespace morvane {

// A cut that did not produce a complete clip. what() is a sentence a person
// can read; nothing was left at a new target and an existing one is unchanged.
class CutError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The caller asked the cut to stop.
class CutCancelled : public CutError {
public:
    CutCancelled() : CutError("The cut was cancelled.") {}
};

struct CutRequest {
    QString source;
    QString target;
    std::int32_t durationSeconds = 0; // D
    std::int32_t startSecond = 0;
    std::int32_t endSecond = 0;
};

// Where the clip lies in the source, in 0-based bytes.
struct ClipPlan {
    std::int64_t byteRate = 0;         // R
    std::int64_t offset = 0;           // first byte copied
    std::int64_t length = 0;           // bytes copied, never past the source's end
    std::int64_t progressMaximum = 0;  // (E - S) + 4097
    std::int64_t progressFinal = 0;    // 4096 per block
};

// Throws CutError when D is 0, the rate is 0, the marks are negative or not
// in order, or the start lies at or past the source's end. A start of 0 cuts
// from the first byte; otherwise the clip starts at 0-based S - 1 and holds
// 4096 x N + 1 bytes, cut short at the source's end.
ClipPlan planClip(std::int64_t sourceLength, std::int32_t durationSeconds,
                  std::int32_t startSecond, std::int32_t endSecond);

class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void setMaximum(std::int64_t maximum) = 0;
    virtual void setValue(std::int64_t value) = 0;
};

class ClipCutter {
public:
    // letEventsRun is called at least every 50 ms while bytes move; it may
    // call cancel(), which takes effect when it returns. Progress goes from 0
    // to ClipPlan::progressFinal against ClipPlan::progressMaximum.
    ClipCutter(ProgressSink &progress, std::function<void()> letEventsRun);

    // Writes the clip; throws CutError (CutCancelled after cancel()). Each
    // call starts afresh, with no cancel pending.
    void cut(const CutRequest &request);

    void cancel() { cancelRequested_ = true; }

    // Test seam: called before each write step with the bytes written so far;
    // a throw there is handled as a failed write.
    std::function<void(std::int64_t written)> beforeWrite;
    // Test seam: false moves every byte through the user-space buffer.
    bool useKernelCopy = true;

private:
    void copyClip(int sourceFd, int targetFd, const ClipPlan &plan);
    void announceWrite(std::int64_t written);
    void runEvents();

    ProgressSink &progress_;
    std::function<void()> letEventsRun_;
    bool cancelRequested_ = false;
};

} // namespace morvane
